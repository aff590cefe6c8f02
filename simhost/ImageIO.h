// Image files in and out of host worlds. The host's worlds hold straight (unpremultiplied) colour, as PNG does;
// OpenEXR holds premultiplied colour, so it is divided by alpha on reading and multiplied on writing.
#pragma once

#include <cstdint>
#include <string>

#include "simhost/World.h"

namespace simhost {

// The largest width or height of an image file the host reads.
constexpr A_long kMaxImageSide = 16384;

// Reading refuses anything but a regular file (a FIFO or a device would block or never end), an image larger
// than kMaxImageSide either way, and allocates the image only as its data arrives (PNG) or once the file has
// shown that every chunk of it is there (OpenEXR, whose pixels then go straight into the world).

// PNG of 8 bits per channel gives an 8-bit world, of 16 bits a 32-bit float world (the effect takes no
// 16-bit worlds, and float keeps every 16-bit step); any colour type becomes RGBA.
SimWorld ReadPng(const std::string& path);
// An 8-bit world is written with 8 bits per channel, a deeper one with 16 (a faint gradient keeps its steps
// fine enough to be brightened later); values are clamped to 0..1.
void WritePng(const std::string& path, const SimWorld& world);

// RGBA (a missing A is 1, missing colour channels 0) into a 32-bit float world; the data window is the world,
// wherever it lies and whatever the display window (a frame written with overscan reads back whole).
// A file with no R, G or B but luminance (Y, or Y with chroma RY and BY) reads as the grey or colour it holds.
// A file whose channels are all in named layers ("diffuse.R", "ViewLayer.Combined.G") reads the one layer that
// holds R, G and B, with its A; with no such layer or several it is refused, the error naming its layers.
// A pixel whose alpha is too small to divide its colour by (the straight colour would not be finite) reads as
// transparent: alpha 0 and the colour as stored, as a pixel stored with alpha 0 reads.
SimWorld ReadExr(const std::string& path);

// Where a frame lies in the picture it belongs to, for the files that can say so (OpenEXR's data and display
// windows): its first pixel at (originX, originY) of a picture whose first pixel is at (displayX, displayY)
// and whose size is displayWidth by displayHeight. A display size of 0 makes the picture the frame itself.
// In 64 bits: a frame grown around a window near the ends of the format's range may lie beyond them, which
// the writer refuses rather than wrapping.
struct ImagePlacement {
    int64_t originX = 0, originY = 0;
    int64_t displayX = 0, displayY = 0;
    int64_t displayWidth = 0, displayHeight = 0;
};

// Where the pixels of the image file `path` lie: an EXR's data window in its display window; any other file's
// pixels are the whole picture at (0, 0). Only an EXR's header is read again; `pixels`, the image as ReadImage
// gave it, must still have its data window's size, or the file has changed since and this throws.
ImagePlacement ReadImagePlacement(const std::string& path, const SimWorld& pixels);
// The whole picture at (0, 0), of the world's size: a frame that is its own picture.
ImagePlacement WholePicture(const SimWorld& pixels);

// 32-bit float RGBA, whatever the world's depth.
void WriteExr(const std::string& path, const SimWorld& world, const ImagePlacement& placement = {});

// By the file name's ending: .png or .exr (any case). Errors throw std::runtime_error naming the file.
SimWorld ReadImage(const std::string& path);
void WriteImage(const std::string& path, const SimWorld& world, const ImagePlacement& placement = {});
// The same into `fd`, an empty regular file open for writing that the caller closes; `name` chooses the format
// and names the file in errors. Every byte is written and flushed to the storage before it returns: a full disk
// or a file-size limit is an error here, never a short file.
void WriteImageInto(int fd, const std::string& name, const SimWorld& world, const ImagePlacement& placement = {});

// The built-in test frame: a dark background, a few small very bright spots and a bright bar, the same
// pixels on every call. Float worlds carry values above 1, 8-bit ones are clamped.
SimWorld MakeTestScene(A_long width, A_long height, PixelDepth depth);

}  // namespace simhost
