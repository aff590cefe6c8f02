// Where warning text landed in a world: the rows and columns of its text pixels. Warning lines are yellow over
// a black backing (or over nothing), so a pixel with any red in it is text.
#pragma once

#include <string>
#include <vector>

#include "simhost/World.h"

namespace testsupport {

struct TextBox {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive; all 0 when empty
    bool empty() const { return right <= left || bottom <= top; }
};

bool IsTextPixel(const simhost::SimWorld& world, int x, int y);

// The box of the text pixels in rows [top, bottom) (clipped to the world).
TextBox TextBoxInRows(const simhost::SimWorld& world, int top, int bottom);

// Runs of consecutive rows holding text pixels, top to bottom, each with its text box.
std::vector<TextBox> TextBands(const simhost::SimWorld& world);

std::string Describe(const TextBox& box);

}  // namespace testsupport
