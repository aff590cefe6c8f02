// Image files in and out of host worlds, as the command-line host uses them.
#include <gtest/gtest.h>

#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <png.h>

#include <cstdio>
#include <cstring>

#include "simhost/ImageIO.h"
#include "support/TempHome.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

TEST(ImageIO, An8BitPngComesBackExactly) {
    testsupport::TempDir dir;
    SimWorld w(7, 5, PixelDepth::k8, 8);
    for (A_long y = 0; y < 5; ++y)
        for (A_long x = 0; x < 7; ++x) w.At<PF_Pixel>(x, y) = {255, A_u_char(x * 30), A_u_char(y * 50), A_u_char(x + y)};
    const std::string path = dir.path() + "/a.png";
    simhost::WritePng(path, w);
    SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.depth(), PixelDepth::k8);
    ASSERT_EQ(r.width(), 7);
    ASSERT_EQ(r.height(), 5);
    for (A_long y = 0; y < 5; ++y)
        for (A_long x = 0; x < 7; ++x) ASSERT_EQ(std::memcmp(&r.At<PF_Pixel>(x, y), &w.At<PF_Pixel>(x, y), 4), 0);
}

TEST(ImageIO, WorldsHoldStraightColourWhileExrFilesHoldPremultipliedColour) {
    testsupport::TempDir dir;
    // Half-transparent pure red: PNG stores it as it stands, EXR as red 0.25 under alpha 0.5.
    SimWorld png(1, 1, PixelDepth::k8);
    png.At<PF_Pixel>(0, 0) = {128, 200, 10, 0};
    simhost::WritePng(dir.path() + "/half.png", png);
    const PF_Pixel p = simhost::ReadPng(dir.path() + "/half.png").At<PF_Pixel>(0, 0);
    EXPECT_EQ(p.alpha, 128);
    EXPECT_EQ(p.red, 200);
    EXPECT_EQ(p.green, 10);

    SimWorld exr(1, 1, PixelDepth::k32f);
    exr.At<PF_PixelFloat>(0, 0) = {0.5f, 0.5f, 0.f, 0.f};
    const std::string path = dir.path() + "/half.exr";
    simhost::WriteExr(path, exr);
    Imf::InputFile file(path.c_str());
    float stored[4] = {};
    Imf::FrameBuffer frame;
    const char* names[4] = {"A", "R", "G", "B"};
    for (int c = 0; c < 4; ++c)
        frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(&stored[c]), sizeof stored, sizeof stored));
    file.setFrameBuffer(frame);
    file.readPixels(0, 0);
    EXPECT_FLOAT_EQ(stored[1], 0.25f);
    const PF_PixelFloat back = simhost::ReadExr(path).At<PF_PixelFloat>(0, 0);
    EXPECT_FLOAT_EQ(back.alpha, 0.5f);
    EXPECT_FLOAT_EQ(back.red, 0.5f);
}

TEST(ImageIO, A16BitPngBecomesAFloatWorld) {
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/deep.png";
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_IHDR(png, info, 2, 1, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        // Big-endian samples: (65535, 32768, 1) and (0, 256, 65534).
        png_byte row[12] = {0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFE};
        png_write_row(png, row);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
    SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.depth(), PixelDepth::k32f);
    const PF_PixelFloat a = r.At<PF_PixelFloat>(0, 0), b = r.At<PF_PixelFloat>(1, 0);
    EXPECT_FLOAT_EQ(a.alpha, 1.f);
    EXPECT_FLOAT_EQ(a.red, 1.f);
    EXPECT_FLOAT_EQ(a.green, 32768.f / 65535.f);
    EXPECT_FLOAT_EQ(a.blue, 1.f / 65535.f);
    EXPECT_FLOAT_EQ(b.red, 0.f);
    EXPECT_FLOAT_EQ(b.green, 256.f / 65535.f);
    EXPECT_FLOAT_EQ(b.blue, 65534.f / 65535.f);
}

TEST(ImageIO, AnExrKeepsFloatValuesBeyondOneExactly) {
    testsupport::TempDir dir;
    SimWorld w(3, 2, PixelDepth::k32f, 16);
    const float values[] = {0.f, 1e-6f, 0.3333333f, 1.f, 17.25f, 65504.f * 4.f};
    for (A_long y = 0; y < 2; ++y)
        for (A_long x = 0; x < 3; ++x) {
            const float v = values[y * 3 + x];
            w.At<PF_PixelFloat>(x, y) = {0.5f, v, v * 2.f, -v};
        }
    const std::string path = dir.path() + "/f.exr";
    simhost::WriteImage(path, w);
    SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.depth(), PixelDepth::k32f);
    for (A_long y = 0; y < 2; ++y)
        for (A_long x = 0; x < 3; ++x)
            ASSERT_EQ(std::memcmp(&r.At<PF_PixelFloat>(x, y), &w.At<PF_PixelFloat>(x, y), sizeof(PF_PixelFloat)), 0)
                << x << "," << y;
}

TEST(ImageIO, UnreadableFilesAreErrorsNamingTheFile) {
    testsupport::TempDir dir;
    const std::string notPng = dir.path() + "/x.png";
    std::FILE* f = std::fopen(notPng.c_str(), "wb");
    std::fputs("not an image", f);
    std::fclose(f);
    for (const std::string& path : {notPng, dir.path() + "/missing.exr", dir.path() + "/x.tiff"}) {
        try {
            simhost::ReadImage(path);
            ADD_FAILURE() << path << " was read";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

TEST(TestScene, IsDarkWithAFewSpotsFarAboveWhiteAndTheSameEveryTime) {
    SimWorld a = simhost::MakeTestScene(64, 48, PixelDepth::k32f);
    SimWorld b = simhost::MakeTestScene(64, 48, PixelDepth::k32f);
    int bright = 0, dark = 0;
    for (A_long y = 0; y < 48; ++y)
        for (A_long x = 0; x < 64; ++x) {
            const PF_PixelFloat p = a.At<PF_PixelFloat>(x, y);
            ASSERT_EQ(std::memcmp(&p, &b.At<PF_PixelFloat>(x, y), sizeof p), 0);
            EXPECT_EQ(p.alpha, 1.f);
            if (std::max({p.red, p.green, p.blue}) > 4.f) ++bright;
            if (std::max({p.red, p.green, p.blue}) < 0.1f) ++dark;
        }
    EXPECT_EQ(bright, 3 * 9) << "three 3x3 spots";
    EXPECT_GT(dark, 64 * 48 * 9 / 10);
}

}  // namespace
