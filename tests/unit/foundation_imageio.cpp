// Image files in and out of host worlds, as the command-line host uses them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfTiledOutputPart.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfRgbaFile.h>
#include <ImfStringAttribute.h>
#include <ImfTiledOutputFile.h>
#include <png.h>
#include <zlib.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <fstream>
#include <functional>
#include <sstream>
#include <type_traits>
#include <vector>

#include "simhost/ImageIO.h"
#include "support/CaseNames.h"
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

// What reading a file in a child process came to: the error (empty when it was read), how far the child's
// peak memory rose while reading, and whether it had to be stopped.
struct ChildRead {
    std::string error;
    long peakGrowthKb = 0;
    bool hung = false;
};

ChildRead ReadInChild(const std::string& path) {
    int out[2];
    if (::pipe(out) != 0) return {"pipe failed"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        ::alarm(20);
        rusage before {}, after {};
        ::getrusage(RUSAGE_SELF, &before);
        std::string error;
        try {
            simhost::ReadImage(path);
        } catch (const std::exception& e) {
            error = e.what();
        }
        ::getrusage(RUSAGE_SELF, &after);
        const std::string report = std::to_string(after.ru_maxrss - before.ru_maxrss) + " " + error;
        if (::write(out[1], report.data(), report.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(out[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ChildRead result;
    result.hung = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    std::istringstream in(report);
    in >> result.peakGrowthKb;
    in.get();
    std::getline(in, result.error);
    return result;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A whole PNG of 8-bit RGBA of that size, every pixel the same.
void WritePngImage(const std::string& path, png_uint_32 width, png_uint_32 height, bool interlaced = false) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    std::vector<png_byte> row(size_t(width) * 4, 0x80);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// A PNG of one row whose header, CRC and all, then claims `height` rows: a few hundred bytes that declare an
// image of gigabytes.
void WritePngClaimingRows(const std::string& path, png_uint_32 width, png_uint_32 height, bool interlaced = false) {
    WritePngImage(path, width, 1, interlaced);
    std::string bytes = testsupport::ReadFile(path);
    for (int i = 0; i < 4; ++i) bytes[size_t(20 + i)] = char(height >> (24 - 8 * i));
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17);
    for (int i = 0; i < 4; ++i) bytes[size_t(29 + i)] = char(crc >> (24 - 8 * i));
    WriteBytes(path, bytes);
}

// An EXR's header and table of scan lines for a data window of that size, and none of its pixels.
void WriteExrWithoutPixels(const std::string& path, int width, int height) {
    Imf::Header header(width, height);  // zip: 16 scan lines a chunk
    header.channels().insert("R", Imf::Channel(Imf::FLOAT));
    Imf::OutputFile file(path.c_str(), header);
}

TEST(ImageIO, AnInterlacedPngReadsAsTheSameImage) {
    // Odd sizes, so that some passes of the interlacing hold few pixels or none on some rows.
    testsupport::TempDir dir;
    const png_uint_32 width = 13, height = 11;
    auto pixel = [](png_uint_32 x, png_uint_32 y) { return PF_Pixel{255, A_u_char(x * 19), A_u_char(y * 23), 7}; };
    const std::string path = dir.path() + "/adam7.png";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<std::vector<png_byte>> rows(height);
    std::vector<png_bytep> pointers;
    for (png_uint_32 y = 0; y < height; ++y) {
        for (png_uint_32 x = 0; x < width; ++x) {
            const PF_Pixel p = pixel(x, y);
            rows[y].insert(rows[y].end(), {p.red, p.green, p.blue});
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);

    SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), A_long(width));
    ASSERT_EQ(r.height(), A_long(height));
    for (png_uint_32 y = 0; y < height; ++y)
        for (png_uint_32 x = 0; x < width; ++x) {
            const PF_Pixel expected = pixel(x, y);
            ASSERT_EQ(std::memcmp(&r.At<PF_Pixel>(A_long(x), A_long(y)), &expected, 4), 0) << x << "," << y;
        }
}

TEST(ImageIO, SpecialFilesNamedLikeImagesAreRefusedAtOnce) {
    testsupport::TempDir dir;
    const std::string d = dir.path();
    ASSERT_EQ(::mkfifo((d + "/pipe.png").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((d + "/pipe.exr").c_str(), 0644), 0);
    ASSERT_EQ(::symlink((d + "/pipe.png").c_str(), (d + "/link.png").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (d + "/zeros.exr").c_str()), 0);
    for (const char* name : {"pipe.png", "pipe.exr", "link.png", "zeros.exr"}) {
        const std::string path = d + "/" + name;
        const ChildRead read = ReadInChild(path);
        EXPECT_FALSE(read.hung) << name;
        EXPECT_EQ(read.error, path + ": not a regular file");
    }
}

// Files of a few hundred bytes (or, for EXR, a header and a table of contents) that declare images of
// gigabytes: each is refused without taking memory out of proportion to what it holds.
struct SmallFileCase {
    const char* name;
    std::function<void(const std::string& path)> write;
    const char* message;
};

const SmallFileCase kSmallFiles[] = {
    {"huge.png", [](const std::string& p) { WritePngClaimingRows(p, 16384, 16384); }, "damaged PNG file"},
    {"huge-interlaced.png", [](const std::string& p) { WritePngClaimingRows(p, 16384, 16384, true); },
     "damaged PNG file"},
    {"long-text.png",
     [](const std::string& p) {
         // A text chunk that claims 2 GB, spliced in right after the header chunk of a valid image.
         WritePngImage(p, 1, 1);
         std::string bytes = testsupport::ReadFile(p);
         bytes.insert(33, std::string("\x7f\xff\xff\xf0" "tEXt" "Comment", 15) + '\0' + "a few words");
         WriteBytes(p, bytes);
     },
     "damaged PNG file"},
    {"huge.exr", [](const std::string& p) { WriteExrWithoutPixels(p, 16384, 16384); }, ""},
    {"long-comment.exr",
     [](const std::string& p) {
         // A comment in the header that claims 2 GB.
         Imf::Header header(4, 4);
         header.channels().insert("R", Imf::Channel(Imf::FLOAT));
         header.insert("comment", Imf::StringAttribute("a few words"));
         { Imf::OutputFile file(p.c_str(), header); }
         std::string bytes = testsupport::ReadFile(p);
         const size_t at = bytes.find(std::string("comment\0string\0", 15)) + 15;
         bytes.replace(at, 4, "\xf0\xff\xff\x7f");
         WriteBytes(p, bytes);
     },
     "damaged OpenEXR file"},
    {"overlapping-chunks.exr",
     [](const std::string& p) {
         // Each chunk names itself where the table points, but all of them claim the file's bytes to its end:
         // a few kilobytes that would have the reader allocate a frame of 256 MB before any pixel fails.
         WriteExrWithoutPixels(p, 16384, 1024);
         std::string bytes = testsupport::ReadFile(p);
         const size_t chunks = 1024 / 16, tableAt = bytes.size() - chunks * 8, dataAt = bytes.size();
         const size_t end = dataAt + chunks * 8 + 64;
         bytes.resize(end, '\x55');
         auto put = [&](size_t at, uint64_t value, int length) {
             for (int b = 0; b < length; ++b) bytes[at + size_t(b)] = char(value >> (8 * b));
         };
         for (size_t i = 0; i < chunks; ++i) {
             const size_t at = dataAt + i * 8;
             put(tableAt + i * 8, at, 8);
             put(at, i * 16, 4);               // its first scan line
             put(at + 4, end - at - 8, 4);     // its data: the rest of the file
         }
         WriteBytes(p, bytes);
     },
     "damaged OpenEXR file (chunks of pixels overlap)"},
    {"huge-tiled.exr",
     [](const std::string& p) {
         Imf::Header header(16384, 16384);
         header.channels().insert("R", Imf::Channel(Imf::FLOAT));
         header.setTileDescription(Imf::TileDescription(1024, 1024));
         Imf::TiledOutputFile file(p.c_str(), header);
     },
     ""},
};

void PrintTo(const SmallFileCase& c, std::ostream* os) { *os << c.name; }

class SmallFileDeclaringAHugeImage : public testing::TestWithParam<SmallFileCase> {};

TEST_P(SmallFileDeclaringAHugeImage, IsRefusedWithinAHundredMegabytes) {
    const SmallFileCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/" + c.name;
    c.write(path);
    const ChildRead read = ReadInChild(path);
    EXPECT_FALSE(read.hung);
    EXPECT_THAT(read.error, testing::StartsWith(path + ": " + c.message));
    EXPECT_LT(read.peakGrowthKb, 100 * 1024) << read.error;
}

INSTANTIATE_TEST_SUITE_P(Files, SmallFileDeclaringAHugeImage, testing::ValuesIn(kSmallFiles),
                         [](const testing::TestParamInfo<SmallFileCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(ImageIO, AnImageWiderOrTallerThanTheLimitIsRefusedNamingTheLimit) {
    testsupport::TempDir dir;
    const A_long limit = simhost::kMaxImageSide;
    const std::string limitText = " pixels is larger than this tool accepts (at most " + std::to_string(limit) +
                                  " pixels a side)";
    const std::string edge = dir.path() + "/edge.png";
    WritePngImage(edge, png_uint_32(limit), 1);
    EXPECT_EQ(simhost::ReadImage(edge).width(), limit);

    struct Case {
        std::string name;
        int width, height;
    };
    for (const Case& c : {Case{"wide.png", limit + 1, 1}, Case{"tall.png", 1, 20000}, Case{"wide.exr", limit + 1, 1},
                          Case{"tall.exr", 1, 20000}}) {
        const std::string path = dir.path() + "/" + c.name;
        if (c.name.find(".png") != std::string::npos) {
            WritePngImage(path, png_uint_32(c.width), png_uint_32(c.height));
        } else {
            WriteExrWithoutPixels(path, c.width, c.height);
        }
        try {
            simhost::ReadImage(path);
            ADD_FAILURE() << c.name << " was read";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), path + ": " + std::to_string(c.width) + "x" + std::to_string(c.height) + limitText);
        }
    }
}

TEST(ImageIO, AnExrWhoseDataWindowIsOffsetAndTallComesBackExactly) {
    // The data window's corner becomes the world's first pixel, whatever its position; 70 rows take several
    // reads of rows.
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/window.exr";
    const int width = 9, height = 70;
    const Imath::Box2i window({5, -7}, {5 + width - 1, -7 + height - 1});
    auto value = [](int x, int y, int c) { return float(x * 1000 + y) + 0.25f * float(c); };
    {
        Imf::Header header(Imath::Box2i({0, 0}, {15, 15}), window);
        for (const char* name : {"R", "G", "B"}) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        std::vector<float> planes(size_t(width * height) * 3);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) planes[size_t((y * width + x) * 3 + c)] = value(x, y, c);
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer frame;
        char* base = reinterpret_cast<char*>(planes.data()) -
                     (ptrdiff_t(window.min.x) + ptrdiff_t(window.min.y) * width) * ptrdiff_t(3 * sizeof(float));
        const char* names[3] = {"R", "G", "B"};
        for (int c = 0; c < 3; ++c)
            frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), 3 * sizeof(float),
                                              3 * sizeof(float) * width));
        file.setFrameBuffer(frame);
        file.writePixels(height);
    }
    SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), width);
    ASSERT_EQ(r.height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const PF_PixelFloat p = r.At<PF_PixelFloat>(x, y);
            ASSERT_EQ(p.alpha, 1.f);
            ASSERT_EQ(p.red, value(x, y, 0)) << x << "," << y;
            ASSERT_EQ(p.green, value(x, y, 1)) << x << "," << y;
            ASSERT_EQ(p.blue, value(x, y, 2)) << x << "," << y;
        }
}

// Files of luminance (Y), luminance and alpha, and luminance with chroma (RY, BY) read as the colour they
// hold: grey for luminance alone, straight colour where alpha is below one.
struct LuminanceCase {
    const char* name;
    Imf::RgbaChannels channels;
    Imf::Rgba written;  // premultiplied, as the file holds it
    PF_PixelFloat expected;
    float tolerance;
};

void PrintTo(const LuminanceCase& c, std::ostream* os) { *os << c.name; }

const LuminanceCase kLuminanceCases[] = {
    {"y.exr", Imf::WRITE_Y, Imf::Rgba(0.5f, 0.5f, 0.5f), {1.f, 0.5f, 0.5f, 0.5f}, 1e-3f},
    {"ya.exr", Imf::WRITE_YA, Imf::Rgba(0.25f, 0.25f, 0.25f, 0.5f), {0.5f, 0.5f, 0.5f, 0.5f}, 1e-3f},
    {"yc.exr", Imf::WRITE_YC, Imf::Rgba(0.6f, 0.3f, 0.1f), {1.f, 0.6f, 0.3f, 0.1f}, 0.01f},
    {"yca.exr", Imf::WRITE_YCA, Imf::Rgba(0.3f, 0.15f, 0.05f, 0.5f), {0.5f, 0.6f, 0.3f, 0.1f}, 0.01f},
};

class LuminanceExr : public testing::TestWithParam<LuminanceCase> {};

TEST_P(LuminanceExr, ReadsAsTheColourItHolds) {
    const LuminanceCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/" + c.name;
    // Tall enough to take several reads of rows, and placed off the origin (on even coordinates, as
    // subsampled chroma requires).
    const int width = 6, height = 40;
    const Imath::Box2i window({-4, 2}, {-4 + width - 1, 2 + height - 1});
    {
        std::vector<Imf::Rgba> pixels(size_t(width * height), c.written);
        Imf::RgbaOutputFile file(path.c_str(), Imath::Box2i({0, 0}, {7, 7}), window, c.channels);
        file.setFrameBuffer(pixels.data() - window.min.x - ptrdiff_t(window.min.y) * width, 1, size_t(width));
        file.writePixels(height);
    }
    SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), width);
    ASSERT_EQ(r.height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const PF_PixelFloat p = r.At<PF_PixelFloat>(x, y);
            ASSERT_NEAR(p.alpha, c.expected.alpha, c.tolerance) << x << "," << y;
            ASSERT_NEAR(p.red, c.expected.red, c.tolerance) << x << "," << y;
            ASSERT_NEAR(p.green, c.expected.green, c.tolerance) << x << "," << y;
            ASSERT_NEAR(p.blue, c.expected.blue, c.tolerance) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Files, LuminanceExr, testing::ValuesIn(kLuminanceCases),
                         [](const testing::TestParamInfo<LuminanceCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// A float RGBA EXR of that size and placement, written a band of rows at a time so that writing it costs little
// memory; every pixel the same.
void WriteFlatExr(const std::string& path, const Imath::Box2i& window, const PF_PixelFloat& pixel) {
    Imf::Header header(window, window);
    for (const char* name : {"R", "G", "B", "A"}) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
    const int width = window.max.x - window.min.x + 1, height = window.max.y - window.min.y + 1;
    Imf::OutputFile file(path.c_str(), header);
    const int bandRows = 64;
    std::vector<PF_PixelFloat> band(size_t(width) * bandRows, pixel);
    for (int top = 0; top < height; top += bandRows) {
        // Addressed as the library does, relative to the first pixel of the band: x and y start at the window's
        // corner for the band's first row.
        const uintptr_t first = reinterpret_cast<uintptr_t>(band.data());
        const size_t xStride = sizeof(PF_PixelFloat), yStride = xStride * size_t(width);
        char* base = reinterpret_cast<char*>(first - uintptr_t(int64_t(window.min.x)) * xStride -
                                             uintptr_t(int64_t(window.min.y) + top) * yStride);
        Imf::FrameBuffer frame;
        frame.insert("A", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, alpha), xStride, yStride));
        frame.insert("R", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, red), xStride, yStride));
        frame.insert("G", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, green), xStride, yStride));
        frame.insert("B", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, blue), xStride, yStride));
        file.setFrameBuffer(frame);
        file.writePixels(std::min(bandRows, height - top));
    }
}

// A valid file whose data window lies far from the origin (near the largest coordinate the format allows), as
// wide as the reader takes: the reader places it without ever moving a pointer outside its buffers (the
// sanitizer build stops where such a pointer wraps around the address space).
struct FarWindowCase {
    const char* what;
    Imath::Box2i window;
    bool luminance;
};

void PrintTo(const FarWindowCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const FarWindowCase kFarWindowCases[] = {
    {"rgba far down", Imath::Box2i({-5, 1000000000}, {-5 + 16383, 1000000001}), false},
    {"rgba far down and left", Imath::Box2i({-1000000000, 1000000000}, {-1000000000 + 16383, 1000000000}), false},
    {"luminance far down", Imath::Box2i({0, 1000000000}, {16383, 1000000001}), true},
};

class FarDataWindow : public testing::TestWithParam<FarWindowCase> {};

TEST_P(FarDataWindow, ReadsWhole) {
    const FarWindowCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/far.exr";
    const int width = c.window.max.x - c.window.min.x + 1, height = c.window.max.y - c.window.min.y + 1;
    if (c.luminance) {
        std::vector<Imf::Rgba> pixels(size_t(width) * size_t(height), Imf::Rgba(0.25f, 0.25f, 0.25f, 1.f));
        Imf::RgbaOutputFile file(path.c_str(), c.window, c.window, Imf::WRITE_Y);
        const uintptr_t first = reinterpret_cast<uintptr_t>(pixels.data());
        file.setFrameBuffer(reinterpret_cast<Imf::Rgba*>(first - uintptr_t(int64_t(c.window.min.x)) * sizeof(Imf::Rgba) -
                                                          uintptr_t(int64_t(c.window.min.y)) * sizeof(Imf::Rgba) * size_t(width)),
                            1, size_t(width));
        file.writePixels(height);
    } else {
        WriteFlatExr(path, c.window, {1.f, 0.25f, 0.25f, 0.25f});
    }
    const SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), width);
    ASSERT_EQ(r.height(), height);
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; x += 997) {
            const PF_PixelFloat p = r.At<PF_PixelFloat>(x, y);
            ASSERT_NEAR(p.red, 0.25f, 1e-3f) << x << "," << y;
            ASSERT_EQ(p.alpha, 1.f) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Files, FarDataWindow, testing::ValuesIn(kFarWindowCases), velloran_test::NameFromWhat<FarWindowCase>);

// Premultiplied pixels from the file into straight colour: an alpha too small to divide by makes the pixel
// transparent with its colour as stored, so every finite pixel stays finite; non-finite pixels stay as the
// division leaves them.
struct AlphaCase {
    const char* what;
    PF_PixelFloat stored;  // premultiplied
    PF_PixelFloat expected;
};

void PrintTo(const AlphaCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

constexpr float kInf = std::numeric_limits<float>::infinity();
const AlphaCase kAlphaCases[] = {
    {"half alpha divides", {0.5f, 0.25f, 0.125f, 0.f}, {0.5f, 0.5f, 0.25f, 0.f}},
    {"smallest subnormal alpha is transparent", {1.4e-45f, 0.5f, 0.5f, 0.5f}, {0.f, 0.5f, 0.5f, 0.5f}},
    {"tiny alpha under large colour is transparent", {1e-30f, 1e10f, 0.f, 0.f}, {0.f, 1e10f, 0.f, 0.f}},
    {"tiny alpha under tiny colour divides", {1e-30f, 2e-30f, 0.f, 0.f}, {1e-30f, 2.f, 0.f, 0.f}},
    {"zero alpha keeps the colour", {0.f, 0.5f, 0.5f, 0.5f}, {0.f, 0.5f, 0.5f, 0.5f}},
    {"infinite colour stays infinite", {0.5f, kInf, 0.f, 0.f}, {0.5f, kInf, 0.f, 0.f}},
};

class Unpremultiplying : public testing::TestWithParam<AlphaCase> {};

TEST_P(Unpremultiplying, GivesFiniteStraightColourForFinitePixels) {
    const AlphaCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/alpha.exr";
    WriteFlatExr(path, Imath::Box2i({0, 0}, {1, 1}), c.stored);
    const PF_PixelFloat p = simhost::ReadImage(path).At<PF_PixelFloat>(1, 1);
    EXPECT_EQ(p.alpha, c.expected.alpha);
    EXPECT_FLOAT_EQ(p.red, c.expected.red);
    EXPECT_FLOAT_EQ(p.green, c.expected.green);
    EXPECT_FLOAT_EQ(p.blue, c.expected.blue);
}

INSTANTIATE_TEST_SUITE_P(Pixels, Unpremultiplying, testing::ValuesIn(kAlphaCases), velloran_test::NameFromWhat<AlphaCase>);

// Reading an EXR holds the frame once: the world is allocated after the file's table of chunks proves the
// pixels are there, and filled straight from the file (no second copy of the frame in bands).
TEST(ImageIO, ReadingAnExrTakesAboutTheMemoryOfItsWorld) {
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/big.exr";
    const int side = 2000;
    WriteFlatExr(path, Imath::Box2i({0, 0}, {side - 1, side - 1}), {1.f, 0.5f, 0.25f, 0.125f});
    const long worldKb = long(side) * side * long(sizeof(PF_PixelFloat)) / 1024;
    const ChildRead read = ReadInChild(path);
    ASSERT_EQ(read.error, "");
    EXPECT_GT(read.peakGrowthKb, worldKb * 9 / 10) << "the world itself";
    EXPECT_LT(read.peakGrowthKb, worldKb * 5 / 4) << "the frame was held more than once";
}

// Files that hold a valid header but not the chunks of pixels their table points to are refused before the
// frame is allocated.
TEST(ImageIO, AnExrWhoseChunksAreNotAllThereIsRefusedBeforeItsFrameIsAllocated) {
    testsupport::TempDir dir;
    const std::string whole = dir.path() + "/whole.exr";
    WriteFlatExr(whole, Imath::Box2i({0, 0}, {16383, 1023}), {1.f, 0.5f, 0.25f, 0.125f});
    const std::string bytes = testsupport::ReadFile(whole);
    struct Cut {
        const char* name;
        std::string bytes;
    };
    for (const Cut& c : {Cut{"cut.exr", bytes.substr(0, bytes.size() - 100)},
                         Cut{"no-last-chunk.exr", bytes.substr(0, bytes.size() * 9 / 10)}}) {
        const std::string path = dir.path() + "/" + c.name;
        WriteBytes(path, c.bytes);
        const ChildRead read = ReadInChild(path);
        EXPECT_THAT(read.error, testing::StartsWith(path + ": damaged OpenEXR file")) << c.name;
        EXPECT_LT(read.peakGrowthKb, 16 * 1024) << c.name << ": the 64 MB frame was allocated";
    }
}

// Valid files of every layout the reader takes pass the check of their table of chunks and read back exactly:
// each compression's chunk height, rows stored bottom first, tiles (with smaller levels after them) and
// several parts, on a window off the origin.
struct LayoutCase {
    const char* what;
    Imf::Compression compression;
    Imf::LineOrder order;
    bool tiled;
    Imf::LevelMode levels;
    bool multiPart;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const LayoutCase kLayoutCases[] = {
    {"uncompressed", Imf::NO_COMPRESSION, Imf::INCREASING_Y, false, Imf::ONE_LEVEL, false},
    {"zip rows bottom first", Imf::ZIP_COMPRESSION, Imf::DECREASING_Y, false, Imf::ONE_LEVEL, false},
    {"piz", Imf::PIZ_COMPRESSION, Imf::INCREASING_Y, false, Imf::ONE_LEVEL, false},
    {"dwab", Imf::DWAB_COMPRESSION, Imf::INCREASING_Y, false, Imf::ONE_LEVEL, false},
    {"tiled", Imf::ZIP_COMPRESSION, Imf::INCREASING_Y, true, Imf::ONE_LEVEL, false},
    {"tiled with mipmaps", Imf::RLE_COMPRESSION, Imf::INCREASING_Y, true, Imf::MIPMAP_LEVELS, false},
    {"two parts of rows", Imf::ZIPS_COMPRESSION, Imf::INCREASING_Y, false, Imf::ONE_LEVEL, true},
    {"two parts of tiles", Imf::ZIP_COMPRESSION, Imf::INCREASING_Y, true, Imf::ONE_LEVEL, true},
};

class ExrLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(ExrLayouts, ReadBackExactly) {
    const LayoutCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/layout.exr";
    const Imath::Box2i window({-3, 5}, {-3 + 36, 5 + 70});
    const int width = 37, height = 71;
    std::vector<float> values(size_t(width) * height);
    for (size_t i = 0; i < values.size(); ++i) values[i] = float(i % 1001) / 8.f;
    Imf::FrameBuffer frame;
    const uintptr_t first = reinterpret_cast<uintptr_t>(values.data());
    char* base = reinterpret_cast<char*>(first - uintptr_t(int64_t(window.min.x)) * sizeof(float) -
                                         uintptr_t(int64_t(window.min.y)) * sizeof(float) * size_t(width));
    frame.insert("A", Imf::Slice(Imf::FLOAT, base, sizeof(float), sizeof(float) * size_t(width)));
    Imf::Header header(window, window);
    header.compression() = c.compression;
    header.lineOrder() = c.order;
    header.channels().insert("A", Imf::Channel(Imf::FLOAT));  // lossless under every compression
    if (c.tiled) header.setTileDescription(Imf::TileDescription(16, 8, c.levels));
    auto writeLevels = [&](auto& out) {
        out.setFrameBuffer(frame);
        if constexpr (std::is_same_v<std::decay_t<decltype(out)>, Imf::TiledOutputPart>) {
            for (int level = 0; level < out.numLevels(); ++level)
                out.writeTiles(0, out.numXTiles(level) - 1, 0, out.numYTiles(level) - 1, level);
        } else {
            out.writePixels(height);
        }
    };
    {
        std::vector<Imf::Header> headers;
        for (int part = 0; part < (c.multiPart ? 2 : 1); ++part) {
            Imf::Header h = header;
            h.setName("part" + std::to_string(part));
            h.setType(c.tiled ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
            headers.push_back(h);
        }
        Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
        for (int part = 0; part < int(headers.size()); ++part) {
            if (c.tiled) {
                Imf::TiledOutputPart out(file, part);
                writeLevels(out);
            } else {
                Imf::OutputPart out(file, part);
                writeLevels(out);
            }
        }
    }
    const SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), width);
    ASSERT_EQ(r.height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(r.At<PF_PixelFloat>(x, y).alpha, values[size_t(y) * width + x]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Files, ExrLayouts, testing::ValuesIn(kLayoutCases), velloran_test::NameFromWhat<LayoutCase>);

// What writing a file came to in a child process that `prepare` has set up first: the error, empty when it was
// written, or what `prepare` said when it could not set the child up.
std::string WriteInChild(const std::string& path, const SimWorld& world, const std::function<std::string()>& prepare) {
    int out[2];
    if (::pipe(out) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        std::string error = prepare();
        if (error.empty()) {
            try {
                simhost::WriteImage(path, world);
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
        if (::write(out[1], error.data(), error.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(out[1]);
    std::string error;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) error.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return error;
}

// WriteInChild in a child limited to `limitBytes` of file size (SIGXFSZ ignored, so the write fails with an
// error instead of ending the process).
std::string WriteInChildLimitedTo(const std::string& path, const SimWorld& world, rlim_t limitBytes) {
    return WriteInChild(path, world, [limitBytes] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{limitBytes, limitBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return std::string();
    });
}

// A file that cannot take all of the image is an error naming it, whether the limit comes early or at its very
// last byte (for EXR, that byte belongs to what the library writes only as its file object is destroyed).
struct LimitCase {
    const char* what;
    const char* name;
    int bytesShort;  // below the whole file's size; 0: half of it
};

void PrintTo(const LimitCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const LimitCase kLimitCases[] = {
    {"exr one byte short", "out.exr", 1},
    {"exr half", "out.exr", 0},
    {"png one byte short", "out.png", 1},
    {"png half", "out.png", 0},
};

class WriteBeyondTheSizeLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(WriteBeyondTheSizeLimit, IsAnErrorNamingTheFile) {
    const LimitCase& c = GetParam();
    testsupport::TempDir dir;
    SimWorld world(96, 96, PixelDepth::k32f);
    for (A_long y = 0; y < 96; ++y)
        for (A_long x = 0; x < 96; ++x) world.SetFloat(x, y, {1.f, float(x * 37 % 101) / 101.f, float(y) / 96.f, 0.3f});
    const std::string path = dir.path() + "/" + c.name;
    ASSERT_EQ(WriteInChildLimitedTo(path, world, RLIM_INFINITY), "");
    const rlim_t size = rlim_t(testsupport::ReadFile(path).size());
    std::remove(path.c_str());
    EXPECT_EQ(WriteInChildLimitedTo(path, world, c.bytesShort ? size - rlim_t(c.bytesShort) : size / 2),
              path + ": write failed (File too large)");
}

INSTANTIATE_TEST_SUITE_P(Files, WriteBeyondTheSizeLimit, testing::ValuesIn(kLimitCases), velloran_test::NameFromWhat<LimitCase>);

// An EXR frame placed on a larger picture, as a glow grown beyond its input is: the data window is the frame
// where it lies, the display window the picture; read back, the data window is the image again.
TEST(ImageIO, AnExrFrameKeepsItsPlaceOnThePicture) {
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/overscan.exr";
    SimWorld w(7, 5, PixelDepth::k32f);
    for (A_long y = 0; y < 5; ++y)
        for (A_long x = 0; x < 7; ++x) w.At<PF_PixelFloat>(x, y) = {1.f, float(x), float(y), 0.5f};
    simhost::ImagePlacement placement;
    placement.originX = -2;
    placement.originY = -1;
    placement.displayX = 1;
    placement.displayY = -3;
    placement.displayWidth = 3;
    placement.displayHeight = 4;
    simhost::WriteImage(path, w, placement);
    {
        Imf::InputFile file(path.c_str());
        EXPECT_EQ(file.header().dataWindow(), Imath::Box2i({-2, -1}, {4, 3}));
        EXPECT_EQ(file.header().displayWindow(), Imath::Box2i({1, -3}, {3, 0}));
    }
    const SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), 7);
    ASSERT_EQ(r.height(), 5);
    for (A_long y = 0; y < 5; ++y)
        for (A_long x = 0; x < 7; ++x)
            ASSERT_EQ(std::memcmp(&r.At<PF_PixelFloat>(x, y), &w.At<PF_PixelFloat>(x, y), sizeof(PF_PixelFloat)), 0);
    // Without a placement the picture is the frame.
    simhost::WriteImage(path, w);
    Imf::InputFile plain(path.c_str());
    EXPECT_EQ(plain.header().displayWindow(), Imath::Box2i({0, 0}, {6, 4}));
    EXPECT_EQ(plain.header().dataWindow(), Imath::Box2i({0, 0}, {6, 4}));
}

// PNG keeps the steps of a faint gradient in a float frame (16 bits a channel); an 8-bit frame stays 8-bit.
TEST(ImageIO, APngOfAFloatFrameHasSixteenBitsAChannel) {
    testsupport::TempDir dir;
    const A_long width = 64;
    SimWorld faint(width, 1, PixelDepth::k32f);
    for (A_long x = 0; x < width; ++x) faint.At<PF_PixelFloat>(x, 0) = {1.f, float(x) / 65535.f, 0.5f, 1.f};
    const std::string deep = dir.path() + "/faint.png";
    simhost::WritePng(deep, faint);
    EXPECT_EQ(int(static_cast<unsigned char>(testsupport::ReadFile(deep)[24])), 16) << "bit depth in the header";
    const SimWorld back = simhost::ReadImage(deep);
    ASSERT_EQ(back.depth(), PixelDepth::k32f);
    for (A_long x = 0; x < width; ++x) {
        const PF_PixelFloat p = back.At<PF_PixelFloat>(x, 0);
        ASSERT_FLOAT_EQ(p.red, float(x) / 65535.f) << x;
        ASSERT_FLOAT_EQ(p.green, 32768.f / 65535.f) << x;
        ASSERT_EQ(p.alpha, 1.f);
    }
    SimWorld eight(2, 1, PixelDepth::k8);
    const std::string shallow = dir.path() + "/eight.png";
    simhost::WritePng(shallow, eight);
    EXPECT_EQ(int(static_cast<unsigned char>(testsupport::ReadFile(shallow)[24])), 8);
    EXPECT_EQ(simhost::ReadImage(shallow).depth(), PixelDepth::k8);
}

// PNGs of every colour type without an alpha channel of their own but with a transparent colour (tRNS), and
// grey with alpha, become RGBA: the transparent colour reads with alpha 0, every other pixel as it is.
struct PngColourCase {
    const char* what;
    int colorType, bitDepth;
    // Samples of a row of three pixels as the file stores them (before packing or big-endian order).
    std::vector<int> samples;
    std::vector<int> transparent;  // the tRNS entry: grey, or red, green, blue, or a palette's alphas
    PF_Pixel expected[3];          // read back in 8 bits (16-bit files: the high byte)
};

void PrintTo(const PngColourCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const PngColourCase kPngColourCases[] = {
    {"rgb with a transparent colour", PNG_COLOR_TYPE_RGB, 8, {10, 20, 30, 40, 50, 60, 10, 20, 31}, {10, 20, 30},
     {{0, 10, 20, 30}, {255, 40, 50, 60}, {255, 10, 20, 31}}},
    {"16-bit rgb with a transparent colour", PNG_COLOR_TYPE_RGB, 16,
     {0x1000, 0x2000, 0x3000, 0xFFFF, 0, 0x8000, 0x1000, 0x2000, 0x3001}, {0x1000, 0x2000, 0x3000},
     {{0, 0x10, 0x20, 0x30}, {255, 0xFF, 0, 0x80}, {255, 0x10, 0x20, 0x30}}},
    {"grey with a transparent grey", PNG_COLOR_TYPE_GRAY, 8, {7, 200, 8}, {7},
     {{0, 7, 7, 7}, {255, 200, 200, 200}, {255, 8, 8, 8}}},
    {"2-bit grey with a transparent grey", PNG_COLOR_TYPE_GRAY, 2, {1, 3, 2}, {1},
     {{0, 0x55, 0x55, 0x55}, {255, 255, 255, 255}, {255, 0xAA, 0xAA, 0xAA}}},
    {"palette with alphas", PNG_COLOR_TYPE_PALETTE, 8, {0, 1, 2}, {0, 128},
     {{0, 255, 0, 0}, {128, 0, 255, 0}, {255, 0, 0, 255}}},
    {"grey with alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, {9, 0, 100, 128, 250, 255}, {},
     {{0, 9, 9, 9}, {128, 100, 100, 100}, {255, 250, 250, 250}}},
    {"16-bit grey with alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 16, {0x0900, 0, 0x6400, 0x8000, 0xFA00, 0xFFFF}, {},
     {{0, 9, 9, 9}, {128, 100, 100, 100}, {255, 250, 250, 250}}},
};

class PngColourTypes : public testing::TestWithParam<PngColourCase> {};

TEST_P(PngColourTypes, ReadAsRgbaWithTheirTransparency) {
    const PngColourCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/colour.png";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 3, 1, c.bitDepth, c.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (c.colorType == PNG_COLOR_TYPE_PALETTE) {
        const png_color palette[3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
        png_set_PLTE(png, info, palette, 3);
        std::vector<png_byte> alphas(c.transparent.begin(), c.transparent.end());
        png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
    } else if (!c.transparent.empty()) {
        png_color_16 colour{};
        if (c.colorType == PNG_COLOR_TYPE_GRAY) {
            colour.gray = png_uint_16(c.transparent[0]);
        } else {
            colour.red = png_uint_16(c.transparent[0]);
            colour.green = png_uint_16(c.transparent[1]);
            colour.blue = png_uint_16(c.transparent[2]);
        }
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    png_write_info(png, info);
    std::vector<png_byte> row;
    if (c.bitDepth < 8) {
        row.assign(1, 0);
        for (size_t i = 0; i < c.samples.size(); ++i)
            row[0] = png_byte(row[0] | c.samples[i] << (8 - c.bitDepth * int(i + 1)));
    } else {
        for (const int v : c.samples) {
            if (c.bitDepth == 16) row.push_back(png_byte(v >> 8));
            row.push_back(png_byte(v & 0xFF));
        }
    }
    png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);

    const SimWorld r = simhost::ReadImage(path);
    ASSERT_EQ(r.width(), 3);
    for (A_long x = 0; x < 3; ++x) {
        const PF_Pixel& e = c.expected[x];
        if (c.bitDepth == 16) {
            const PF_PixelFloat p = r.At<PF_PixelFloat>(x, 0);
            EXPECT_EQ(int(p.alpha * 65535.f + 0.5f) >> 8, e.alpha) << x;
            EXPECT_EQ(int(p.red * 65535.f + 0.5f) >> 8, e.red) << x;
            EXPECT_EQ(int(p.green * 65535.f + 0.5f) >> 8, e.green) << x;
            EXPECT_EQ(int(p.blue * 65535.f + 0.5f) >> 8, e.blue) << x;
        } else {
            const PF_Pixel& p = r.At<PF_Pixel>(x, 0);
            EXPECT_EQ(int(p.alpha), e.alpha) << x;
            EXPECT_EQ(int(p.red), e.red) << x;
            EXPECT_EQ(int(p.green), e.green) << x;
            EXPECT_EQ(int(p.blue), e.blue) << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, PngColourTypes, testing::ValuesIn(kPngColourCases),
                         velloran_test::NameFromWhat<PngColourCase>);

// A file whose channels all lie in named layers reads the one layer of colour; without one, or with several,
// it is refused, naming its layers and what they hold.
struct LayerCase {
    const char* what;
    std::vector<std::string> channels;
    std::string error;  // after "PATH: "; empty: read, R = 1, G = 2, B = 3 (times 1/alpha), A from the layer
    float alpha;
};

void PrintTo(const LayerCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const LayerCase kLayerCases[] = {
    {"one layer of rgba", {"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B", "ViewLayer.Combined.A"},
     "", 0.5f},
    {"one layer of rgb beside others", {"depth.Z", "diffuse.B", "diffuse.G", "diffuse.R", "normal.X"}, "", 1.f},
    {"two layers of rgb",
     {"diffuse.R", "diffuse.G", "diffuse.B", "specular.R", "specular.G", "specular.B", "specular.A"},
     "its channels are all in layers, and more than one of them holds R, G and B (its layers: diffuse (B, G, R), "
     "specular (A, B, G, R))",
     0.f},
    {"no layer of rgb", {"depth.Z", "shadow.R", "shadow.G"},
     "its channels are all in layers, and none of them holds R, G and B (its layers: depth (Z), shadow (G, R))", 0.f},
};

class ExrLayers : public testing::TestWithParam<LayerCase> {};

TEST_P(ExrLayers, ReadTheOneLayerOfColourOrAreRefusedNamingThem) {
    const LayerCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string path = dir.path() + "/layers.exr";
    const int width = 3, height = 20;
    std::vector<std::vector<float>> planes;
    {
        Imf::Header header(width, height);
        for (const std::string& name : c.channels) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        Imf::FrameBuffer frame;
        for (const std::string& name : c.channels) {
            const char last = name.back();
            const float value = last == 'R' ? 1.f : last == 'G' ? 2.f : last == 'B' ? 3.f : last == 'A' ? c.alpha : 9.f;
            planes.emplace_back(size_t(width * height), value);
            frame.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(planes.back().data()), sizeof(float),
                                          sizeof(float) * width));
        }
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(frame);
        file.writePixels(height);
    }
    if (!c.error.empty()) {
        try {
            simhost::ReadImage(path);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), path + ": " + c.error);
        }
        return;
    }
    const SimWorld r = simhost::ReadImage(path);
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; ++x) {
            const PF_PixelFloat p = r.At<PF_PixelFloat>(x, y);
            ASSERT_EQ(p.alpha, c.alpha) << x << "," << y;
            ASSERT_FLOAT_EQ(p.red, 1.f / c.alpha);
            ASSERT_FLOAT_EQ(p.green, 2.f / c.alpha);
            ASSERT_FLOAT_EQ(p.blue, 3.f / c.alpha);
        }
}

INSTANTIATE_TEST_SUITE_P(Files, ExrLayers, testing::ValuesIn(kLayerCases), velloran_test::NameFromWhat<LayerCase>);

// The filter below reads system call numbers, which only mean what this build's headers say on the
// architecture the build is for.
#if defined(__x86_64__)
constexpr unsigned kThisArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kThisArchitecture = AUDIT_ARCH_AARCH64;
#elif defined(__i386__)
constexpr unsigned kThisArchitecture = AUDIT_ARCH_I386;
#else
#error "the seccomp filter of the write-failure tests needs this architecture's AUDIT_ARCH value"
#endif

// WriteInChild in a child in which one system call on the file fails with EIO, as a storage that fails only when
// the writer flushes the file or closes it does.
std::string WriteInChildFailing(const std::string& path, const SimWorld& world, long failingCall) {
    return WriteInChild(path, world, [failingCall] {
        // The descriptor the writer's open will get: the lowest free one.
        const int next = ::dup(0);
        ::close(next);
        sock_filter program[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kThisArchitecture, 1, 0),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(failingCall), 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(next), 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
            return std::string("cannot install the filter: ") + std::strerror(errno);
        return std::string();
    });
}

// Every row written, a failure to put the file on the storage (fsync) or to close it is still a failed write.
struct FinishCase {
    const char* what;
    const char* name;
    long call;
};

void PrintTo(const FinishCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const FinishCase kFinishCases[] = {
    {"exr flush fails", "out.exr", SYS_fsync},
    {"exr close fails", "out.exr", SYS_close},
    {"png flush fails", "out.png", SYS_fsync},
    {"png close fails", "out.png", SYS_close},
};

class WriteFailingAtTheEnd : public testing::TestWithParam<FinishCase> {};

TEST_P(WriteFailingAtTheEnd, IsAnErrorNamingTheFile) {
    const FinishCase& c = GetParam();
    testsupport::TempDir dir;
    SimWorld world(40, 40, PixelDepth::k32f);
    for (A_long y = 0; y < 40; ++y)
        for (A_long x = 0; x < 40; ++x) world.SetFloat(x, y, {1.f, float(x) / 40.f, float(y) / 40.f, 0.3f});
    const std::string path = dir.path() + "/" + c.name;
    EXPECT_EQ(WriteInChildFailing(path, world, c.call), path + ": write failed (Input/output error)");
}

INSTANTIATE_TEST_SUITE_P(Files, WriteFailingAtTheEnd, testing::ValuesIn(kFinishCases),
                         velloran_test::NameFromWhat<FinishCase>);

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
