#include "simhost/ImageIO.h"

#include <png.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPartType.h>
#include <ImfRgbaFile.h>
#include <ImfTileDescription.h>
#include <ImfVersion.h>
#include <Iex.h>
#include <ImathBox.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

namespace simhost {

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
// A stdio stream that closes itself. Made from a descriptor, it owns the descriptor from then on.
class File : public std::unique_ptr<FILE, FileCloser> {
public:
    explicit File(FILE* f) : unique_ptr(f) {}
    File(int fd, const char* mode) : unique_ptr(::fdopen(fd, mode)) {
        if (!get()) ::close(fd);
    }
};

// No chunk the reader keeps needs more than a palette's worth of memory, nor more than a few of them.
constexpr png_alloc_size_t kPngChunkBytesMax = 64 * 1024;
constexpr png_uint_32 kPngChunkCountMax = 16;

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
    throw std::runtime_error(path + ": " + why);
}

// libpng reports errors by longjmp; turn them into a C++ error once back outside its frames.
void PngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    if (text) *text = message ? message : "libpng error";
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

std::string TooLarge(uint64_t width, uint64_t height) {
    return std::to_string(width) + "x" + std::to_string(height) + " pixels is larger than this tool accepts (at most " +
           std::to_string(kMaxImageSide) + " pixels a side)";
}

// Opens an image file for reading as a descriptor. Only a regular file (links followed) is taken: a FIFO or a
// device named like an image would block in open or never end. The first look keeps open from blocking on a
// FIFO; the second, on what was actually opened, catches a name swapped in between.
int OpenForReading(const std::string& path, uint64_t* size = nullptr) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) Fail(path, std::string("cannot open (") + std::strerror(errno) + ")");
    if (!S_ISREG(info.st_mode)) Fail(path, "not a regular file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) Fail(path, std::string("cannot open (") + std::strerror(errno) + ")");
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        Fail(path, "not a regular file");
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (size) *size = uint64_t(info.st_size);
    return fd;
}

// OpenEXR reads through this from a descriptor opened as above, so it never opens the name a second time.
class DescriptorStream final : public Imf::IStream {
public:
    DescriptorStream(const std::string& path, int fd, uint64_t size) : Imf::IStream(path.c_str()), fd_(fd), size_(size) {}
    ~DescriptorStream() override { ::close(fd_); }
    DescriptorStream(const DescriptorStream&) = delete;
    DescriptorStream& operator=(const DescriptorStream&) = delete;

    bool read(char c[], int n) override {
        if (n < 0 || position_ > size_ || uint64_t(n) > size_ - position_) throw Iex::InputExc("Unexpected end of file.");
        for (size_t done = 0; done < size_t(n);) {
            const ssize_t got = ::pread(fd_, c + done, size_t(n) - done, off_t(position_ + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw Iex::InputExc(std::strerror(errno));
            if (got == 0) throw Iex::InputExc("Unexpected end of file.");
            done += size_t(got);
        }
        position_ += uint64_t(n);
        return position_ < size_;
    }
    uint64_t tellg() override { return position_; }
    void seekg(uint64_t position) override { position_ = position; }

private:
    int fd_;
    uint64_t size_;
    uint64_t position_ = 0;
};

// OpenEXR sizes the memory for a header attribute, and for a preview image, by what the file claims for it.
// Every claim is checked against the bytes the file holds first, so a damaged header is refused before it is read.
// Returns where the headers end: there the table of chunks begins.
uint64_t CheckHeaderSizes(const std::string& path, DescriptorStream& stream, uint64_t size, bool multiPart) {
    auto readName = [&] {
        std::string name;
        for (char c = 0; stream.read(&c, 1), c != 0;) {
            name += c;
            if (name.size() > 255) Fail(path, "damaged OpenEXR file (a header name is too long)");
        }
        return name;
    };
    auto readInt = [&] {
        unsigned char bytes[4] = {};
        stream.read(reinterpret_cast<char*>(bytes), 4);
        return int64_t(int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                               uint32_t(bytes[3]) << 24));
    };
    // A multi-part file holds headers one after another, each ending in an empty name, the last followed by
    // another empty name.
    for (bool headerStart = true;;) {
        const std::string name = readName();
        if (name.empty()) {
            if (!multiPart || headerStart) return stream.tellg();
            headerStart = true;
            continue;
        }
        headerStart = false;
        const std::string type = readName();
        const int64_t bytes = readInt();
        const uint64_t at = stream.tellg();
        if (bytes < 0 || uint64_t(bytes) > size - at) {
            Fail(path, "damaged OpenEXR file (the header's \"" + name + "\" is longer than the file)");
        }
        if (type == "preview" && bytes >= 8) {
            const int64_t width = readInt(), height = readInt();
            if (width < 0 || height < 0 || uint64_t(width) * uint64_t(height) * 4 > uint64_t(bytes) - 8) {
                Fail(path, "damaged OpenEXR file (the preview image is larger than its attribute)");
            }
        }
        stream.seekg(at + uint64_t(bytes));
    }
}

// Rows of an EXR file converted at a time, where the library's rows cannot go straight into the world.
constexpr int kExrBandRows = 32;

// Scan lines in one chunk of an EXR file, by its compression; 0 for one this reader does not know.
int LinesPerChunk(Imf::Compression compression) {
    switch (compression) {
        case Imf::NO_COMPRESSION:
        case Imf::RLE_COMPRESSION:
        case Imf::ZIPS_COMPRESSION:
            return 1;
        case Imf::ZIP_COMPRESSION:
        case Imf::PXR24_COMPRESSION:
            return 16;
        case Imf::PIZ_COMPRESSION:
        case Imf::B44_COMPRESSION:
        case Imf::B44A_COMPRESSION:
        case Imf::DWAA_COMPRESSION:
            return 32;
        case Imf::DWAB_COMPRESSION:
            return 256;
        default:
            return 0;
    }
}

// The whole frame is allocated before its pixels are read, so the table of chunks must first show that the
// file holds every chunk the reader will ask for: each entry points past the table at a chunk that names
// itself as the one expected, holds data, lies within the file and overlaps no other. A file that declares a
// huge image but holds little then costs no more memory than its bytes can decompress to.
void CheckChunkTable(const std::string& path, DescriptorStream& stream, uint64_t size, const Imf::Header& header,
                     int version, uint64_t tableAt) {
    const bool multiPart = Imf::isMultiPart(version);
    const bool deep = multiPart ? header.hasType() && Imf::isDeepData(header.type()) : Imf::isNonImage(version);
    if (deep) Fail(path, "deep OpenEXR images are not supported");
    const bool tiled = multiPart ? header.hasType() && header.type() == Imf::TILEDIMAGE : Imf::isTiled(version);
    const Imath::Box2i window = header.dataWindow();
    const uint64_t width = uint64_t(int64_t(window.max.x) - window.min.x + 1),
                   height = uint64_t(int64_t(window.max.y) - window.min.y + 1);
    // Each chunk names itself: its part (in a multi-part file), then its first scan line, or its tile's column,
    // row and levels; then the bytes of data that follow.
    uint64_t chunks = 0, tilesAcross = 1, linesPerChunk = 1;
    if (tiled) {
        if (!header.hasTileDescription()) Fail(path, "damaged OpenEXR file (a tiled image without tile sizes)");
        const Imf::TileDescription& tiles = header.tileDescription();
        if (tiles.xSize == 0 || tiles.ySize == 0) Fail(path, "damaged OpenEXR file (tiles of no size)");
        // Only the full-resolution level is read; its tiles come first in the table, row by row.
        tilesAcross = (width + tiles.xSize - 1) / tiles.xSize;
        chunks = tilesAcross * ((height + tiles.ySize - 1) / tiles.ySize);
    } else {
        linesPerChunk = uint64_t(LinesPerChunk(header.compression()));
        if (linesPerChunk == 0) Fail(path, "damaged OpenEXR file (unknown compression)");
        chunks = (height + linesPerChunk - 1) / linesPerChunk;
    }
    const uint64_t nameBytes = (multiPart ? 4 : 0) + (tiled ? 16 : 4), headBytes = nameBytes + 4;
    if (tableAt > size || chunks > (size - tableAt) / 8) Fail(path, "damaged OpenEXR file (its table of chunks is cut short)");
    const uint64_t dataAt = tableAt + chunks * 8;

    auto readInt = [&](uint64_t at) {
        unsigned char bytes[4] = {};
        stream.seekg(at);
        stream.read(reinterpret_cast<char*>(bytes), 4);
        return int64_t(int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                               uint32_t(bytes[3]) << 24));
    };
    std::vector<std::pair<uint64_t, uint64_t>> spans(chunks);  // where each chunk starts and ends
    for (uint64_t i = 0; i < chunks; ++i) {
        unsigned char bytes[8] = {};
        stream.seekg(tableAt + i * 8);
        stream.read(reinterpret_cast<char*>(bytes), 8);
        uint64_t at = 0;
        for (int b = 7; b >= 0; --b) at = at << 8 | bytes[b];
        if (at < dataAt || at > size || headBytes > size - at)
            Fail(path, "damaged OpenEXR file (a chunk of pixels is missing)");
        std::vector<int64_t> names;
        for (uint64_t field = 0; field < nameBytes; field += 4) names.push_back(readInt(at + field));
        const int64_t bytesOfData = readInt(at + nameBytes);
        std::vector<int64_t> expected;
        if (multiPart) expected.push_back(0);
        if (tiled) {
            expected.insert(expected.end(), {int64_t(i % tilesAcross), int64_t(i / tilesAcross), 0, 0});
        } else {
            expected.push_back(int64_t(window.min.y) + int64_t(i * linesPerChunk));
        }
        if (names != expected || bytesOfData <= 0 || uint64_t(bytesOfData) > size - at - headBytes)
            Fail(path, "damaged OpenEXR file (a chunk of pixels is missing)");
        spans[i] = {at, at + headBytes + uint64_t(bytesOfData)};
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) Fail(path, "damaged OpenEXR file (chunks of pixels overlap)");
}

// OpenEXR finds pixel (x, y) of a buffer at base + x * xStride + y * yStride, in the file's own coordinates.
// For a window far from (0, 0) that base lies far outside the buffer, beyond either end of the address space
// even: it is worked out as a number (unsigned arithmetic wraps as defined), never by moving a pointer out of
// its buffer.
char* BufferBase(void* first, int64_t x, int64_t y, size_t xStride, size_t yStride) {
    return reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(first) - uintptr_t(x) * uintptr_t(xStride) -
                                   uintptr_t(y) * uintptr_t(yStride));
}

// The file's colour is premultiplied; the host's worlds hold straight colour. An alpha so small that the
// straight colour would not be finite is treated as no alpha at all, as a stored alpha of 0 is: the colour
// stays as stored (light with no coverage) and nothing downstream meets an infinity the file did not hold.
void Unpremultiply(PF_PixelFloat& p) {
    if (!(p.alpha > 0.f) || p.alpha == 1.f) return;
    const float red = p.red / p.alpha, green = p.green / p.alpha, blue = p.blue / p.alpha;
    const bool finiteIn = std::isfinite(p.alpha) && std::isfinite(p.red) && std::isfinite(p.green) && std::isfinite(p.blue);
    if (finiteIn && !(std::isfinite(red) && std::isfinite(green) && std::isfinite(blue))) {
        p.alpha = 0.f;
        return;
    }
    p.red = red;
    p.green = green;
    p.blue = blue;
}

// Bytes into a file descriptor, each at a position of its own (OpenEXR goes back to fill in its table of
// chunks). The first failure is kept: OpenEXR writes that table and its last chunk as its file object is
// destroyed, where it swallows every error, so the failure is asked for once the object is gone.
class FileSink {
public:
    FileSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

    bool Write(const void* bytes, size_t count) {
        if (!error_.empty()) return false;
        const char* from = static_cast<const char*>(bytes);
        for (size_t done = 0; done < count;) {
            const ssize_t put = ::pwrite(fd_, from + done, count - done, off_t(position_ + done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                Failed(put < 0 ? errno : ENOSPC);
                return false;
            }
            done += size_t(put);
        }
        position_ += count;
        return true;
    }
    uint64_t Position() const { return position_; }
    void Seek(uint64_t position) { position_ = position; }
    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

    // Every byte on the storage, or the first failure thrown as an error naming the file.
    void Finish() {
        if (error_.empty() && ::fsync(fd_) != 0 && errno != EINVAL) Failed(errno);
        if (!error_.empty()) throw std::runtime_error(error_);
    }

private:
    void Failed(int error) {
        if (error_.empty()) error_ = name_ + ": write failed (" + std::strerror(error) + ")";
    }
    int fd_;
    std::string name_;
    uint64_t position_ = 0;
    std::string error_;
};

class ExrSink final : public Imf::OStream {
public:
    ExrSink(FileSink& sink, const std::string& name) : Imf::OStream(name.c_str()), sink_(sink) {}
    void write(const char c[], int n) override {
        if (n < 0 || !sink_.Write(c, size_t(n))) throw Iex::IoExc(sink_.Error());
    }
    uint64_t tellp() override { return sink_.Position(); }
    void seekp(uint64_t position) override { sink_.Seek(position); }

private:
    FileSink& sink_;
};

void PngWrite(png_structp png, png_bytep bytes, png_size_t count) {
    if (!static_cast<FileSink*>(png_get_io_ptr(png))->Write(bytes, count)) png_error(png, "write failed");
}
void PngFlush(png_structp) {}

void WritePngInto(int fd, const std::string& path, const SimWorld& world) {
    const A_long width = world.width(), height = world.height();
    if (width <= 0 || height <= 0) Fail(path, "empty image");
    const bool sixteen = world.depth() != PixelDepth::k8;
    const int bits = sixteen ? 16 : 8;
    std::vector<png_byte> row(size_t(width) * 4 * (sixteen ? 2 : 1));
    FileSink sink(fd, path);
    std::string error;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, PngError, PngWarning);
    if (!png) Fail(path, "out of memory");
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        if (sink.Failed()) throw std::runtime_error(sink.Error());
        Fail(path, error);
    }
    if (!info) png_error(png, "out of memory");
    png_set_write_fn(png, &sink, PngWrite, PngFlush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bits, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) {
            const PF_PixelFloat p = world.GetFloat(x, y);
            const float channels[4] = {p.red, p.green, p.blue, p.alpha};
            for (int c = 0; c < 4; ++c) {
                const float v = channels[c] > 0.f ? std::min(channels[c], 1.f) : 0.f;  // NaN too goes to 0
                const size_t at = size_t(x) * 4 + size_t(c);
                if (sixteen) {
                    const long level = std::lround(v * 65535.f);  // PNG's samples are big-endian
                    row[at * 2] = png_byte(level >> 8);
                    row[at * 2 + 1] = png_byte(level & 0xFF);
                } else {
                    row[at] = png_byte(std::lround(v * 255.f));
                }
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    sink.Finish();
}

void WriteExrInto(int fd, const std::string& path, const SimWorld& source, const ImagePlacement& placement) {
    const A_long width = source.width(), height = source.height();
    if (width <= 0 || height <= 0) Fail(path, "empty image");
    // The frame is the data window; the picture it belongs to, the display window. Both in int, as the
    // format holds them.
    const int64_t left = placement.originX, top = placement.originY, right = left + width - 1,
                  bottom = top + height - 1;
    const bool onPicture = placement.displayWidth > 0 && placement.displayHeight > 0;
    const int64_t displayLeft = onPicture ? placement.displayX : left, displayTop = onPicture ? placement.displayY : top,
                  displayRight = onPicture ? displayLeft + placement.displayWidth - 1 : right,
                  displayBottom = onPicture ? displayTop + placement.displayHeight - 1 : bottom;
    for (const int64_t v : {left, top, right, bottom, displayLeft, displayTop, displayRight, displayBottom})
        if (v < INT32_MIN || v > INT32_MAX) Fail(path, "the frame lies beyond what OpenEXR can place");
    const Imath::Box2i data{Imath::V2i(int(left), int(top)), Imath::V2i(int(right), int(bottom))};
    const Imath::Box2i display{Imath::V2i(int(displayLeft), int(displayTop)),
                               Imath::V2i(int(displayRight), int(displayBottom))};
    FileSink sink(fd, path);
    try {
        ExrSink stream(sink, path);
        {
            Imf::Header header(display, data);
            for (const char* name : {"R", "G", "B", "A"}) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
            Imf::OutputFile file(stream, header);
            // A band of rows at a time: straight world colour goes out premultiplied, as EXR readers expect.
            std::vector<PF_PixelFloat> band(size_t(width) * kExrBandRows);
            for (A_long first = 0; first < height; first += kExrBandRows) {
                const A_long rows = std::min<A_long>(kExrBandRows, height - first);
                for (A_long y = 0; y < rows; ++y)
                    for (A_long x = 0; x < width; ++x) {
                        PF_PixelFloat p = source.GetFloat(x, first + y);
                        p.red *= p.alpha;
                        p.green *= p.alpha;
                        p.blue *= p.alpha;
                        band[size_t(y) * size_t(width) + size_t(x)] = p;
                    }
                const size_t xStride = sizeof(PF_PixelFloat), yStride = xStride * size_t(width);
                char* base = BufferBase(band.data(), left, top + first, xStride, yStride);
                Imf::FrameBuffer frame;
                frame.insert("R", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, red), xStride, yStride));
                frame.insert("G", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, green), xStride, yStride));
                frame.insert("B", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, blue), xStride, yStride));
                frame.insert("A", Imf::Slice(Imf::FLOAT, base + offsetof(PF_PixelFloat, alpha), xStride, yStride));
                file.setFrameBuffer(frame);
                file.writePixels(rows);
            }
        }  // the last chunk and the table of chunks are written here, their failures kept by the sink
        sink.Finish();
    } catch (const std::exception& e) {
        if (sink.Failed()) throw std::runtime_error(sink.Error());
        const std::string why = e.what();
        if (why.compare(0, path.size() + 2, path + ": ") == 0) throw;
        Fail(path, why);
    }
}

// Opens `path` for writing from scratch, hands the descriptor to `write`, and closes it; a failure to close
// (some file systems report a full disk only then) is a failed write too.
template <class Write>
void WriteToPath(const std::string& path, Write write) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) Fail(path, std::string("cannot create (") + std::strerror(errno) + ")");
    try {
        write(fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) Fail(path, std::string("write failed (") + std::strerror(errno) + ")");
}

// The header of the EXR file open in `stream`, each size it claims checked against the file first. `version`
// and `tableAt` (where its table of chunks begins) are set for the check of that table.
Imf::Header ReadExrHeader(const std::string& path, DescriptorStream& stream, uint64_t size, int& version,
                          uint64_t& tableAt) {
    unsigned char start[8] = {};
    if (size < sizeof start) Fail(path, "not an OpenEXR file");
    stream.read(reinterpret_cast<char*>(start), sizeof start);
    auto littleEndian = [&](int at) {
        return int(uint32_t(start[at]) | uint32_t(start[at + 1]) << 8 | uint32_t(start[at + 2]) << 16 |
                   uint32_t(start[at + 3]) << 24);
    };
    if (littleEndian(0) != Imf::MAGIC) Fail(path, "not an OpenEXR file");
    version = littleEndian(4);
    tableAt = CheckHeaderSizes(path, stream, size, Imf::isMultiPart(version));
    stream.seekg(sizeof start);
    Imf::Header header;
    header.readFrom(stream, version);
    return header;
}

// The prefix of the channels that hold the image: "" for the file's own R, G, B, A or luminance channels;
// where every channel is in a named layer, the one layer that holds R, G and B ("diffuse." for diffuse.R,
// diffuse.G, diffuse.B). Read as the file's own channels, such a file would give a black, opaque frame, so
// one with no such layer, or with several, is refused by a message that lists its layers.
std::string ImageLayer(const std::string& path, const Imf::ChannelList& channels) {
    for (const char* name : {"R", "G", "B", "A", "Y", "RY", "BY"})
        if (channels.findChannel(name)) return "";
    std::set<std::string> layers;
    channels.layers(layers);
    if (layers.empty()) return "";
    std::vector<std::string> colour;
    std::string listing;
    for (const std::string& layer : layers) {
        Imf::ChannelList::ConstIterator first, last;
        channels.channelsInLayer(layer, first, last);
        std::string names;
        int rgb = 0;
        for (auto it = first; it != last; ++it) {
            const std::string name = std::string(it.name()).substr(layer.size() + 1);
            if (name.find('.') != std::string::npos) continue;  // a layer within this one
            names += (names.empty() ? "" : ", ") + name;
            rgb += name == "R" || name == "G" || name == "B";
        }
        if (rgb == 3) colour.push_back(layer);
        listing += (listing.empty() ? "" : ", ") + layer + " (" + names + ")";
    }
    if (colour.size() == 1) return colour.front() + ".";
    Fail(path, std::string("its channels are all in layers, and ") +
                   (colour.empty() ? "none of them holds" : "more than one of them holds") +
                   " R, G and B (its layers: " + listing + ")");
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

SimWorld ReadPng(const std::string& path) {
    File file(OpenForReading(path), "rb");
    if (!file) Fail(path, std::string("cannot open (") + std::strerror(errno) + ")");
    png_byte signature[8];
    if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) Fail(path, "not a PNG file");

    std::string error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, PngError, PngWarning);
    if (!png) Fail(path, "out of memory");
    png_infop info = png_create_info_struct(png);
    // Each row gets its own buffer only when libpng is about to fill it, so a file that declares a huge image
    // but holds little data fails at its first missing row, not after the whole image has been allocated.
    std::vector<std::unique_ptr<png_byte[]>> rows;
    png_uint_32 width = 0, height = 0;
    int depth = 8;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        Fail(path, "damaged PNG file (" + error + ")");
    }
    if (!info) png_error(png, "out of memory");
    png_init_io(png, file.get());
    png_set_sig_bytes(png, 8);
    // Only the image itself is read: text, profiles and the like are skipped unread, and no chunk, whatever
    // length it declares, may claim more than a palette-sized buffer or two.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_malloc_max(png, kPngChunkBytesMax);
    png_set_chunk_cache_max(png, kPngChunkCountMax);
    // libpng's own width and height limits stay above the tool's: it would refuse a larger image only as
    // "Invalid IHDR data", and nothing sized by the image is allocated before the check below.
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width > png_uint_32(kMaxImageSide) || height > png_uint_32(kMaxImageSide)) {
        png_destroy_read_struct(&png, &info, nullptr);
        Fail(path, TooLarge(width, height));
    }
    depth = png_get_bit_depth(png, info);
    const int colorType = png_get_color_type(png, info);
    // Everything becomes RGBA with 8 or 16 bits per channel, 16-bit samples in host byte order.
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (depth < 8) png_set_packing(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA)) png_set_add_alpha(png, depth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    if (depth == 16) png_set_swap(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    depth = depth == 16 ? 16 : 8;
    const size_t rowBytes = png_get_rowbytes(png, info);
    rows.resize(height);
    // An interlaced image visits every row in every pass; a row that has no pixels in a pass is passed as
    // null, which libpng leaves alone, so a row is allocated only once its first pixels arrive.
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_bytep row = nullptr;
            if (passes == 1 || PNG_ROW_IN_INTERLACE_PASS(y, pass)) {
                if (!rows[y]) rows[y] = std::make_unique<png_byte[]>(rowBytes);
                row = rows[y].get();
            }
            png_read_row(png, row, nullptr);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    if (depth == 8) {
        SimWorld world(A_long(width), A_long(height), PixelDepth::k8);
        for (png_uint_32 y = 0; y < height; ++y) {
            const png_byte* src = rows[y].get();
            PF_Pixel* dst = world.Row<PF_Pixel>(A_long(y));
            for (png_uint_32 x = 0; x < width; ++x, src += 4) {
                dst[x] = {src[3], src[0], src[1], src[2]};
            }
            rows[y].reset();
        }
        return world;
    }
    SimWorld world(A_long(width), A_long(height), PixelDepth::k32f);
    for (png_uint_32 y = 0; y < height; ++y) {
        const auto* src = reinterpret_cast<const uint16_t*>(rows[y].get());
        PF_PixelFloat* dst = world.Row<PF_PixelFloat>(A_long(y));
        for (png_uint_32 x = 0; x < width; ++x, src += 4) {
            dst[x] = {src[3] / 65535.f, src[0] / 65535.f, src[1] / 65535.f, src[2] / 65535.f};
        }
        rows[y].reset();
    }
    return world;
}

void WritePng(const std::string& path, const SimWorld& world) {
    WriteToPath(path, [&](int fd) { WritePngInto(fd, path, world); });
}

SimWorld ReadExr(const std::string& path) {
    try {
        uint64_t size = 0;
        const int fd = OpenForReading(path, &size);
        DescriptorStream stream(path, fd, size);
        // The header alone first: its size and channels decide whether and how the pixels are read.
        int version = 0;
        uint64_t tableAt = 0;
        const Imf::Header header = ReadExrHeader(path, stream, size, version, tableAt);
        const Imath::Box2i window = header.dataWindow();
        const int64_t width = int64_t(window.max.x) - window.min.x + 1, height = int64_t(window.max.y) - window.min.y + 1;
        if (width <= 0 || height <= 0) Fail(path, "empty image");
        if (width > kMaxImageSide || height > kMaxImageSide) Fail(path, TooLarge(uint64_t(width), uint64_t(height)));
        CheckChunkTable(path, stream, size, header, version, tableAt);
        const Imf::ChannelList& channels = header.channels();
        const std::string layer = ImageLayer(path, channels);
        const bool rgb = channels.findChannel("R") || channels.findChannel("G") || channels.findChannel("B");
        const bool luminance = channels.findChannel("Y") || channels.findChannel("RY") || channels.findChannel("BY");
        stream.seekg(0);

        if (!layer.empty() || rgb || !luminance) {
            // Colour files keep their full 32-bit precision: each channel is a FLOAT slice straight into the
            // world's alpha, red, green, blue, placed so that the data window's corner lands on its first pixel.
            Imf::InputFile file(stream);
            SimWorld world(A_long(width), A_long(height), PixelDepth::k32f);
            const size_t xStride = sizeof(PF_PixelFloat), yStride = size_t(world.rowbytes());
            char* base = BufferBase(world.Row<PF_PixelFloat>(0), window.min.x, window.min.y, xStride, yStride);
            Imf::FrameBuffer frame;
            auto slice = [&](const char* name, size_t offset, double fill) {
                frame.insert(layer + name, Imf::Slice(Imf::FLOAT, base + offset, xStride, yStride, 1, 1, fill));
            };
            slice("A", offsetof(PF_PixelFloat, alpha), 1.0);
            slice("R", offsetof(PF_PixelFloat, red), 0.0);
            slice("G", offsetof(PF_PixelFloat, green), 0.0);
            slice("B", offsetof(PF_PixelFloat, blue), 0.0);
            file.setFrameBuffer(frame);
            file.readPixels(window.min.y, window.max.y);
            for (A_long y = 0; y < A_long(height); ++y) {
                PF_PixelFloat* row = world.Row<PF_PixelFloat>(y);
                for (A_long x = 0; x < A_long(width); ++x) Unpremultiply(row[x]);
            }
            return world;
        }
        // Luminance and luminance-chroma files: the library's RGBA interface turns Y (and RY, BY) into colour
        // with the file's own primaries; it gives half floats, which is what such files hold, a band of rows at
        // a time.
        Imf::RgbaInputFile file(stream);
        SimWorld world(A_long(width), A_long(height), PixelDepth::k32f);
        std::vector<Imf::Rgba> halves(size_t(width) * kExrBandRows);
        for (int64_t top = 0; top < height; top += kExrBandRows) {
            const int first = int(window.min.y + top), last = int(std::min<int64_t>(window.max.y, first + kExrBandRows - 1));
            file.setFrameBuffer(reinterpret_cast<Imf::Rgba*>(BufferBase(halves.data(), window.min.x, first,
                                                                        sizeof(Imf::Rgba), sizeof(Imf::Rgba) * size_t(width))),
                                1, size_t(width));
            file.readPixels(first, last);
            for (int y = first; y <= last; ++y) {
                const Imf::Rgba* src = halves.data() + size_t(y - first) * size_t(width);
                PF_PixelFloat* row = world.Row<PF_PixelFloat>(A_long(y - window.min.y));
                for (A_long x = 0; x < A_long(width); ++x) {
                    row[x] = {float(src[x].a), float(src[x].r), float(src[x].g), float(src[x].b)};
                    Unpremultiply(row[x]);
                }
            }
        }
        return world;
    } catch (const std::runtime_error&) {
        throw;
    } catch (const std::exception& e) {
        Fail(path, e.what());
    }
}

ImagePlacement WholePicture(const SimWorld& pixels) {
    ImagePlacement placement;
    placement.displayWidth = pixels.width();
    placement.displayHeight = pixels.height();
    return placement;
}

ImagePlacement ReadImagePlacement(const std::string& path, const SimWorld& pixels) {
    if (!EndsWith(Lower(path), ".exr")) return WholePicture(pixels);
    try {
        uint64_t size = 0;
        const int fd = OpenForReading(path, &size);
        DescriptorStream stream(path, fd, size);
        int version = 0;
        uint64_t tableAt = 0;
        const Imf::Header header = ReadExrHeader(path, stream, size, version, tableAt);
        const Imath::Box2i data = header.dataWindow(), display = header.displayWindow();
        ImagePlacement placement;
        placement.originX = data.min.x;
        placement.originY = data.min.y;
        placement.displayX = display.min.x;
        placement.displayY = display.min.y;
        placement.displayWidth = int64_t(display.max.x) - display.min.x + 1;
        placement.displayHeight = int64_t(display.max.y) - display.min.y + 1;
        if (int64_t(data.max.x) - data.min.x + 1 != pixels.width() ||
            int64_t(data.max.y) - data.min.y + 1 != pixels.height() || placement.displayWidth <= 0 ||
            placement.displayHeight <= 0)
            Fail(path, "the file changed while it was read");
        return placement;
    } catch (const std::runtime_error&) {
        throw;
    } catch (const std::exception& e) {
        Fail(path, e.what());
    }
}

void WriteExr(const std::string& path, const SimWorld& world, const ImagePlacement& placement) {
    WriteToPath(path, [&](int fd) { WriteExrInto(fd, path, world, placement); });
}

SimWorld ReadImage(const std::string& path) {
    const std::string lower = Lower(path);
    if (EndsWith(lower, ".png")) return ReadPng(path);
    if (EndsWith(lower, ".exr")) return ReadExr(path);
    Fail(path, "unknown image type (use .png or .exr)");
}

void WriteImage(const std::string& path, const SimWorld& world, const ImagePlacement& placement) {
    const std::string lower = Lower(path);
    if (!EndsWith(lower, ".png") && !EndsWith(lower, ".exr")) Fail(path, "unknown image type (use .png or .exr)");
    WriteToPath(path, [&](int fd) { WriteImageInto(fd, path, world, placement); });
}

void WriteImageInto(int fd, const std::string& name, const SimWorld& world, const ImagePlacement& placement) {
    const std::string lower = Lower(name);
    if (EndsWith(lower, ".png")) return WritePngInto(fd, name, world);
    if (EndsWith(lower, ".exr")) return WriteExrInto(fd, name, world, placement);
    Fail(name, "unknown image type (use .png or .exr)");
}

SimWorld MakeTestScene(A_long width, A_long height, PixelDepth depth) {
    SimWorld world(width, height, depth);
    const PF_PixelFloat background{1.f, 0.02f, 0.025f, 0.04f};
    for (A_long y = 0; y < height; ++y)
        for (A_long x = 0; x < width; ++x) world.SetFloat(x, y, background);
    // A bright horizontal bar across the lower third.
    const A_long barTop = height * 2 / 3, barBottom = std::min(height, barTop + std::max<A_long>(1, height / 24));
    for (A_long y = barTop; y < barBottom; ++y)
        for (A_long x = width / 8; x < width - width / 8; ++x) world.SetFloat(x, y, {1.f, 2.f, 1.6f, 1.2f});
    // Three small spots, far brighter than white, each of its own colour.
    struct Spot {
        float fx, fy;
        PF_PixelFloat colour;
    };
    const Spot spots[] = {{0.25f, 0.3f, {1.f, 12.f, 12.f, 12.f}},
                          {0.55f, 0.25f, {1.f, 16.f, 6.f, 2.f}},
                          {0.8f, 0.45f, {1.f, 3.f, 6.f, 20.f}}};
    for (const Spot& s : spots) {
        const A_long cx = A_long(s.fx * float(width)), cy = A_long(s.fy * float(height));
        for (A_long y = cy - 1; y <= cy + 1; ++y)
            for (A_long x = cx - 1; x <= cx + 1; ++x)
                if (x >= 0 && y >= 0 && x < width && y < height) world.SetFloat(x, y, s.colour);
    }
    return world;
}

}  // namespace simhost
