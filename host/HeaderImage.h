// The effect-controls header picture, compiled in from host/assets/header.png at build time.
#pragma once

#include <cstddef>

constexpr int kHeaderImageWidth = 384;
constexpr int kHeaderImageHeight = 200;
constexpr int kHeaderImageRowBytes = kHeaderImageWidth * 4;
constexpr std::size_t kHeaderImageBytes = std::size_t(kHeaderImageRowBytes) * kHeaderImageHeight;  // 307,200

// Blue, green, red, alpha per pixel, straight alpha, rows top to bottom without padding.
extern const unsigned char kHeaderImageBGRA[kHeaderImageBytes];
