// Build-time tool: reads a PNG and writes a C++ source that holds its pixels as one constant byte array in
// blue, green, red, alpha order with straight alpha, rows top to bottom, so the effect carries the picture
// without reading any file when it runs.
//   embed_image INPUT.png OUTPUT.cpp SYMBOL WIDTH HEIGHT
// Fails (and writes nothing) when the picture is not WIDTH by HEIGHT.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: embed_image INPUT.png OUTPUT.cpp SYMBOL WIDTH HEIGHT\n");
        return 2;
    }
    const std::string input = argv[1], output = argv[2], symbol = argv[3];
    const unsigned width = unsigned(std::atoi(argv[4])), height = unsigned(std::atoi(argv[5]));

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, input.c_str())) {
        std::fprintf(stderr, "embed_image: %s: %s\n", input.c_str(), image.message);
        return 1;
    }
    if (image.width != width || image.height != height) {
        std::fprintf(stderr, "embed_image: %s is %ux%u, expected %ux%u\n", input.c_str(), image.width, image.height,
                     width, height);
        png_image_free(&image);
        return 1;
    }
    image.format = PNG_FORMAT_BGRA;  // straight (not premultiplied) alpha in libpng's simplified API
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "embed_image: %s: %s\n", input.c_str(), image.message);
        return 1;
    }

    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << "// Generated from " << input << " by embed_image; do not edit.\n"
        << "#include \"host/HeaderImage.h\"\n\n"
        << "const unsigned char " << symbol << "[" << pixels.size() << "] = {\n";
    for (size_t i = 0; i < pixels.size(); ++i) {
        out << unsigned(pixels[i]) << (i + 1 < pixels.size() ? "," : "");
        if (i % 32 == 31) out << "\n";
    }
    out << "};\n";
    out.close();
    if (!out) {
        std::fprintf(stderr, "embed_image: cannot write %s\n", output.c_str());
        std::remove(output.c_str());
        return 1;
    }
    return 0;
}
