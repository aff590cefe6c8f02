#include "host/Rect.h"

#include <algorithm>

bool IsEmptyRect(const PF_LRect* r) { return r->left >= r->right || r->top >= r->bottom; }

void UnionLRect(const PF_LRect* src, PF_LRect* dst) {
    if (IsEmptyRect(dst)) {
        *dst = *src;
    } else if (!IsEmptyRect(src)) {
        dst->left = std::min(dst->left, src->left);
        dst->top = std::min(dst->top, src->top);
        dst->right = std::max(dst->right, src->right);
        dst->bottom = std::max(dst->bottom, src->bottom);
    }
}

void ClampRect(PF_LRect* r, const PF_LRect* bounds) {
    if (IsEmptyRect(r) || IsEmptyRect(bounds)) return;
    r->left = std::max(r->left, bounds->left);
    r->top = std::max(r->top, bounds->top);
    r->right = std::min(r->right, bounds->right);
    r->bottom = std::min(r->bottom, bounds->bottom);
}

bool RectsIntersect(const PF_LRect* a, const PF_LRect* b) {
    if (IsEmptyRect(a) || IsEmptyRect(b)) return false;
    return a->right >= b->left && a->bottom >= b->top;
}

void ExpandRect(PF_LRect* r, int d) { ExpandRect(r, d, d); }

void ExpandRect(PF_LRect* r, int dx, int dy) {
    r->left -= dx;
    r->right += dx;
    r->top -= dy;
    r->bottom += dy;
}

A_FloatPoint lerp_point(A_FloatPoint a, A_FloatPoint b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return A_FloatPoint{a.x * t + b.x * (1.0 - t), a.y * t + b.y * (1.0 - t)};
}

float Lerp(float a, float b, float t) { return a * (1.0f - t) + b * t; }
