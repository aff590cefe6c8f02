// Value helpers on the host's integer rectangle and floating point, and the scalar blend of the lens-dirt
// composite. A rectangle is empty when left >= right or top >= bottom; every helper treats it so.
#pragma once

#include "sdk/AE_Effect.h"

bool IsEmptyRect(const PF_LRect* r);

// dst becomes the bounding box of both. An empty dst is replaced by src outright (even by an empty src), so
// the first rectangle united into an all-zero result sets it; an empty src leaves a non-empty dst alone.
void UnionLRect(const PF_LRect* src, PF_LRect* dst);

// r becomes its overlap with bounds, which may be empty; when either is empty r is left as it is.
void ClampRect(PF_LRect* r, const PF_LRect* bounds);

// Only a.right >= b.left and a.bottom >= b.top are compared: touching edges count, and so does an `a` lying
// wholly right of or below `b`. The pre-render's mask rule relies on exactly this test (a mask lying beyond
// the input's bottom-right still counts as meeting it), so it must not be "fixed" into a full overlap test.
bool RectsIntersect(const PF_LRect* a, const PF_LRect* b);

// Grows every side by d (a negative d shrinks); no clamping, no emptiness test.
void ExpandRect(PF_LRect* r, int d);
void ExpandRect(PF_LRect* r, int dx, int dy);

// a*t + b*(1 - t) per coordinate with t limited to 0..1: t = 1 gives a, t = 0 gives b.
A_FloatPoint lerp_point(A_FloatPoint a, A_FloatPoint b, double t);

// a*(1 - t) + b*t with t not limited: t = 0 gives a (the opposite direction of lerp_point).
float Lerp(float a, float b, float t);
