// The rectangle helpers the pre-render grows and compares its rectangles with.
#include <gtest/gtest.h>

#include <string>

#include "host/Rect.h"

namespace {

PF_LRect R(int l, int t, int r, int b) { return PF_LRect{l, t, r, b}; }
bool Same(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::string Text(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

struct TwoRectCase {
    const char* what;
    PF_LRect first, second, expected;
};

TEST(RectHelpers, IsEmptyWhenEitherSideHasNoExtent) {
    const PF_LRect unit = R(0, 0, 1, 1);
    EXPECT_FALSE(IsEmptyRect(&unit));
    const PF_LRect empties[] = {R(0, 0, 0, 10), R(0, 0, 10, 0), R(5, 0, 4, 10), R(0, 5, 10, 4), R(0, 0, 0, 0)};
    for (const PF_LRect& r : empties) EXPECT_TRUE(IsEmptyRect(&r)) << Text(r);
}

TEST(RectHelpers, UnionCases) {
    // first = src, second = dst before, expected = dst after
    const TwoRectCase cases[] = {
        {"both non-empty: bounding box", R(0, 0, 10, 10), R(5, -5, 20, 8), R(0, -5, 20, 10)},
        {"empty dst takes src", R(1, 2, 3, 4), R(0, 0, 0, 0), R(1, 2, 3, 4)},
        {"empty src into empty dst copies src", R(7, 7, 7, 9), R(0, 0, 0, 0), R(7, 7, 7, 9)},
        {"empty src leaves dst", R(50, 50, 40, 60), R(1, 2, 3, 4), R(1, 2, 3, 4)},
    };
    for (const auto& c : cases) {
        PF_LRect dst = c.second;
        UnionLRect(&c.first, &dst);
        EXPECT_TRUE(Same(dst, c.expected)) << c.what << ": got " << Text(dst);
    }
}

TEST(RectHelpers, ClampCases) {
    // first = r before, second = bounds, expected = r after
    const TwoRectCase cases[] = {
        {"overlap", R(0, 0, 10, 10), R(5, -5, 20, 8), R(5, 0, 10, 8)},
        {"disjoint gives an empty rectangle", R(0, 0, 10, 10), R(20, 20, 30, 30), R(20, 20, 10, 10)},
        {"empty bounds change nothing", R(0, 0, 10, 10), R(3, 3, 3, 3), R(0, 0, 10, 10)},
        {"empty r is left alone", R(4, 4, 2, 2), R(0, 0, 10, 10), R(4, 4, 2, 2)},
    };
    for (const auto& c : cases) {
        PF_LRect r = c.first;
        ClampRect(&r, &c.second);
        EXPECT_TRUE(Same(r, c.expected)) << c.what << ": got " << Text(r);
    }
    PF_LRect disjoint = R(0, 0, 10, 10), far = R(20, 20, 30, 30);
    ClampRect(&disjoint, &far);
    EXPECT_TRUE(IsEmptyRect(&disjoint));
}

TEST(RectHelpers, IntersectComparesOnlyTheTwoEdges) {
    struct Case {
        PF_LRect a, b;
        bool expected;
    };
    const Case cases[] = {
        {R(0, 0, 10, 10), R(10, 10, 20, 20), true},    // touching corners count
        {R(20, 20, 30, 30), R(0, 0, 10, 10), true},    // a below and right of b: not tested against b's far edges
        {R(0, 0, 10, 10), R(20, 20, 30, 30), false},   // a above and left of b
        {R(0, 0, 10, 10), R(5, 20, 8, 30), false},     // only the vertical test fails
        {R(0, 0, 10, 10), R(20, 5, 30, 8), false},     // only the horizontal test fails
        {R(0, 0, 10, 10), R(2, 2, 8, 8), true},
        {R(0, 0, 0, 10), R(0, 0, 10, 10), false},      // empty a
        {R(0, 0, 10, 10), R(5, 5, 5, 5), false},       // empty b
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RectsIntersect(&c.a, &c.b), c.expected) << Text(c.a) << " with " << Text(c.b);
    }
}

TEST(RectHelpers, ExpandByOneAmountOrByXAndY) {
    PF_LRect r = R(0, 0, 10, 10);
    ExpandRect(&r, 3);
    EXPECT_TRUE(Same(r, R(-3, -3, 13, 13))) << Text(r);
    r = R(0, 0, 10, 10);
    ExpandRect(&r, 2, 5);
    EXPECT_TRUE(Same(r, R(-2, -5, 12, 15))) << Text(r);
    r = R(0, 0, 10, 10);
    ExpandRect(&r, -6);  // shrinking past empty is not prevented
    EXPECT_TRUE(Same(r, R(6, 6, 4, 4))) << Text(r);
}

TEST(RectHelpers, LerpPointClampsAndLerpDoesNot) {
    const A_FloatPoint a{1.0, 2.0}, b{-3.0, 10.0};
    struct Case {
        double t;
        A_FloatPoint expected;
    };
    const Case cases[] = {{1.5, a}, {1.0, a}, {-1.0, b}, {0.0, b}, {0.25, {-2.0, 8.0}}};
    for (const auto& c : cases) {
        const A_FloatPoint p = lerp_point(a, b, c.t);
        EXPECT_DOUBLE_EQ(p.x, c.expected.x) << "t = " << c.t;
        EXPECT_DOUBLE_EQ(p.y, c.expected.y) << "t = " << c.t;
    }
    EXPECT_FLOAT_EQ(Lerp(0, 10, 1.5f), 15.0f);
    EXPECT_FLOAT_EQ(Lerp(0, 10, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(Lerp(2, 10, 0.25f), 4.0f);
}

}  // namespace
