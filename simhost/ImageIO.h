// Image files in and out of host worlds. The host's worlds hold straight (unpremultiplied) colour, as PNG does;
// OpenEXR holds premultiplied colour, so it is divided by alpha on reading and multiplied on writing.
#pragma once

#include <string>

#include "simhost/World.h"

namespace simhost {

// The largest width or height of an image file the host reads.
constexpr A_long kMaxImageSide = 16384;

// Reading refuses anything but a regular file (a FIFO or a device would block or never end), an image larger
// than kMaxImageSide either way, and allocates the image only as its data arrives.

// PNG of 8 bits per channel gives an 8-bit world, of 16 bits a 32-bit float world (the effect takes no
// 16-bit worlds, and float keeps every 16-bit step); any colour type becomes RGBA.
SimWorld ReadPng(const std::string& path);
// Written with 8 bits per channel, float values clamped to 0..1.
void WritePng(const std::string& path, const SimWorld& world);

// RGBA (a missing A is 1, missing colour channels 0) into a 32-bit float world; the data window is the world.
// A file with no R, G or B but luminance (Y, or Y with chroma RY and BY) reads as the grey or colour it holds.
SimWorld ReadExr(const std::string& path);
// 32-bit float RGBA, whatever the world's depth.
void WriteExr(const std::string& path, const SimWorld& world);

// By the file name's ending: .png or .exr (any case). Errors throw std::runtime_error naming the file.
SimWorld ReadImage(const std::string& path);
void WriteImage(const std::string& path, const SimWorld& world);

// The built-in test frame: a dark background, a few small very bright spots and a bright bar, the same
// pixels on every call. Float worlds carry values above 1, 8-bit ones are clamped.
SimWorld MakeTestScene(A_long width, A_long height, PixelDepth depth);

}  // namespace simhost
