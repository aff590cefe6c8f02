#include "support/views_TextBands.h"

#include <algorithm>

namespace testsupport {

bool IsTextPixel(const simhost::SimWorld& world, int x, int y) { return world.GetFloat(x, y).red > 0.0f; }

TextBox TextBoxInRows(const simhost::SimWorld& world, int top, int bottom) {
    TextBox box;
    bool any = false;
    top = std::max(top, 0);
    bottom = std::min<int>(bottom, world.height());
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < world.width(); ++x) {
            if (!IsTextPixel(world, x, y)) continue;
            if (!any) box = {x, y, x + 1, y + 1};
            any = true;
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x + 1);
            box.top = std::min(box.top, y);
            box.bottom = std::max(box.bottom, y + 1);
        }
    }
    return box;
}

std::vector<TextBox> TextBands(const simhost::SimWorld& world) {
    std::vector<TextBox> bands;
    int start = -1;
    for (int y = 0; y <= world.height(); ++y) {
        bool text = false;
        for (int x = 0; y < world.height() && x < world.width() && !text; ++x) text = IsTextPixel(world, x, y);
        if (text && start < 0) start = y;
        if (!text && start >= 0) {
            bands.push_back(TextBoxInRows(world, start, y));
            start = -1;
        }
    }
    return bands;
}

std::string Describe(const TextBox& box) {
    return "[" + std::to_string(box.left) + ", " + std::to_string(box.right) + ") x [" + std::to_string(box.top) +
           ", " + std::to_string(box.bottom) + ")";
}

}  // namespace testsupport
