// velloran-pass-floor: the lowest time the "Exponential" preset pyramid's pass structure can take on this
// machine's renderer. The same passes as the effect's chain (upload, pre-process, down-samples, the two blur
// passes of each level, the target clear, the blended up-samples, post-process, read-back), each drawn into a
// target of the same size and format with the same texture reads at the same offsets, but by a static shader:
// offsets and weights are constants, no uniforms and no loop, so the driver compiles the cheapest program it
// can. The level
// sizes and tap counts come from the effect's own level function.
//
//   velloran-pass-floor --source WxH --output WxH --radius R [--preset NAME] [--frames N] [--half-float 0|1]
//
// "Half Float" (on by default, as in the effect) makes every target RGB16F and the transfers half floats;
// off, RGB32F and floats.
//
// Prints one line: floor_ms (median wall time of the timed passes) and floor_cpu_ms (the process's CPU time
// over the same span, every thread of the renderer counted).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "CGL.h"
#include "bench/BenchOptions.h"
#include "gl/GLHeaders.h"
#include "host/RenderSettings.h"
#include "render/GlowLevels.h"

namespace {

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

GLuint Compile(GLenum kind, const std::string& source) {
    const GLuint shader = glCreateShader(kind);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[2048] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        throw std::runtime_error(std::string("shader compile failed: ") + log);
    }
    return shader;
}

using Offsets = std::vector<std::pair<float, float>>;

// A program reading one texel at each constant offset (texture coordinates) and summing them with constant
// weights, written to a vec3 as the effect's passes write. The offsets are the pass's own, so the reads walk
// the texture as the effect's do.
GLuint StaticProgram(const Offsets& offsets) {
    static std::map<std::string, GLuint> programs;
    std::string fragment = "#version 330\nin vec2 uv;\nuniform sampler2D source;\nout vec3 colour;\nvoid main() {\n"
                           "  vec3 sum = vec3(0.0);\n";
    char line[300];
    for (size_t i = 0; i < offsets.size(); ++i) {
        std::snprintf(line, sizeof line, "  sum += %.9g * texture(source, uv + vec2(%.9g, %.9g)).rgb;\n",
                      1.0 / double(offsets.size()), double(offsets[i].first), double(offsets[i].second));
        fragment += line;
    }
    fragment += "  colour = sum;\n}\n";
    GLuint& program = programs[fragment];
    if (program) return program;
    const std::string vertex =
        "#version 330\nout vec2 uv;\nvoid main() {\n"
        "  vec2 p = vec2(float((gl_VertexID & 1) * 2), float(gl_VertexID & 2));\n"
        "  uv = p; gl_Position = vec4(p * 2.0 - 1.0, 0.0, 1.0);\n}\n";
    program = glCreateProgram();
    glAttachShader(program, Compile(GL_VERTEX_SHADER, vertex));
    glAttachShader(program, Compile(GL_FRAGMENT_SHADER, fragment));
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) throw std::runtime_error("static program failed to link");
    return program;
}

const Offsets kOneTap = {{0.f, 0.f}};

// The 13 reads of the down-sample, one and two texels of the written level around the centre.
Offsets DownsampleTaps(int width, int height) {
    const float x = 1.0f / float(width), y = 1.0f / float(height);
    Offsets o;
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) o.push_back({2.0f * x * float(i), 2.0f * y * float(j)});
    for (int j : {-1, 1})
        for (int i : {-1, 1}) o.push_back({x * float(i), y * float(j)});
    return o;
}

// The 3 by 3 tent of the up-sample, one texel of the written level around the centre.
Offsets UpsampleTaps(int width, int height) {
    Offsets o;
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) o.push_back({float(i) / float(width), float(j) / float(height)});
    return o;
}

// The blur's taps: -taps to +taps steps of the level's stride along one axis. (A loop with constant bounds
// instead measured slower on llvmpipe, 10 % at Radius 100 and 400.)
Offsets BlurTaps(int taps, float stride, bool alongX) {
    Offsets o;
    for (int i = -taps; i <= taps; ++i) o.push_back(alongX ? std::make_pair(float(i) * stride, 0.f)
                                                           : std::make_pair(0.f, float(i) * stride));
    return o;
}

struct Target {
    GLuint texture = 0, framebuffer = 0;
    int width = 0, height = 0;
};

bool halfFloat = true;

// The effect's targets: RGB16F or RGB32F, linear filtering, mirrored repeat.
Target MakeTarget(int width, int height) {
    Target t;
    t.width = width;
    t.height = height;
    glGenTextures(1, &t.texture);
    glBindTexture(GL_TEXTURE_2D, t.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_MIRRORED_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_MIRRORED_REPEAT);
    glTexImage2D(GL_TEXTURE_2D, 0, halfFloat ? GL_RGB16F : GL_RGB32F, width, height, 0, GL_RGB,
                 halfFloat ? GL_HALF_FLOAT : GL_FLOAT, nullptr);
    glGenFramebuffers(1, &t.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.texture, 0);
    return t;
}

void Free(Target& t) {
    glDeleteFramebuffers(1, &t.framebuffer);
    glDeleteTextures(1, &t.texture);
    t = Target();
}

void Draw(const Target& into, const Target& from, GLuint program) {
    glBindFramebuffer(GL_FRAMEBUFFER, into.framebuffer);
    glViewport(0, 0, into.width, into.height);
    glUseProgram(program);
    glBindTexture(GL_TEXTURE_2D, from.texture);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

struct Options {
    int sourceWidth = 1920, sourceHeight = 1080, outputWidth = 0, outputHeight = 0;
    double radius = 100;
    int quality = 3;
    int frames = 3;
};

// The "Exponential" presets that build the pyramid, with the steps and resolution scale the effect's settings
// give each (the effect keeps them in its settings code; Extreme and Custom build a different chain).
void PresetValues(int quality, float* steps, float* resolutionScale) {
    switch (quality) {
        case 1: *steps = 0.25f; *resolutionScale = 0.8f; return;
        case 2: *steps = 0.25f; *resolutionScale = 0.85f; return;
        case 3: *steps = 0.33f; *resolutionScale = 0.9f; return;
        case 4: *steps = 0.5f; *resolutionScale = 0.9f; return;
        case 5: *steps = 0.5f; *resolutionScale = 0.97f; return;
    }
    throw std::invalid_argument("--preset: Draft, Low, Medium, Standard or High");
}

// One frame of the pass structure; returns {wall, cpu} seconds.
std::pair<double, double> Frame(const Options& o, const std::vector<bloomMip>& mips, std::vector<float>& pixels,
                                std::vector<float>& readBack) {
    const double wall0 = Seconds(CLOCK_MONOTONIC), cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    Target upload = MakeTarget(o.sourceWidth, o.sourceHeight);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, o.sourceWidth, o.sourceHeight, GL_RGB,
                    halfFloat ? GL_HALF_FLOAT : GL_FLOAT, pixels.data());
    Target pre = MakeTarget(o.outputWidth, o.outputHeight);
    Draw(pre, upload, StaticProgram(kOneTap));
    Free(upload);

    const size_t n = mips.size();
    std::vector<Target> width(n), down(n), level(n);
    for (size_t k = 0; k < n; ++k) {
        width[k] = MakeTarget(mips[k].width, mips[k].height);
        down[k] = MakeTarget(mips[k].width, mips[k].height);
        level[k] = MakeTarget(mips[k].width, mips[k].height);
    }
    for (size_t k = 0; k < n; ++k) Draw(down[k], k == 0 ? pre : down[k - 1], StaticProgram(DownsampleTaps(mips[k].width, mips[k].height)));
    for (size_t k = 0; k < n; ++k) {
        Draw(width[k], down[k], StaticProgram(BlurTaps(mips[k].tapsX, mips[k].strideX, true)));
        Free(down[k]);
        Draw(level[k], width[k], StaticProgram(BlurTaps(mips[k].tapsY, mips[k].strideY, false)));
        Free(width[k]);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, pre.framebuffer);
    glViewport(0, 0, pre.width, pre.height);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);  // "Screen", the default "Blend Mode"
    for (size_t k = n - 1; k >= 1; --k) Draw(level[k - 1], level[k], StaticProgram(UpsampleTaps(mips[k - 1].width, mips[k - 1].height)));
    glDisable(GL_BLEND);
    Draw(pre, level[0], StaticProgram(kOneTap));
    glFinish();
    glBindFramebuffer(GL_FRAMEBUFFER, pre.framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, pre.width, pre.height, GL_RGB, halfFloat ? GL_HALF_FLOAT : GL_FLOAT, readBack.data());
    for (Target& t : level) Free(t);
    Free(pre);
    return {Seconds(CLOCK_MONOTONIC) - wall0, Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

int Run(const Options& o) {
    PF_EffectWorld output{};
    output.width = o.outputWidth;
    output.height = o.outputHeight;
    myParams p;
    p.output_worldP = &output;
    p.baseRadius = float(o.radius);
    p.downsampleX = 1;
    p.maxGlowLevels = 10;
    p.quality = o.quality;
    PresetValues(o.quality, &p.stepsMultiplier, &p.resolutionScale);
    p.aspectMultipliers[0] = p.aspectMultipliers[1] = 1.0;  // "Aspect Ratio" 1
    CalcBloomDownsampleDims(&p);
    const std::vector<bloomMip> mips(p.bloomMips.begin(), p.bloomMips.begin() + p.maxGlowLevels);
    if (mips.empty()) throw std::runtime_error("no levels");

    const CGLPixelFormatAttribute attributes[] = {kCGLPFAOpenGLProfile,
                                                  CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                                  CGLPixelFormatAttribute(0)};
    CGLPixelFormatObj pix = nullptr;
    GLint screens = 0;
    CGLContextObj ctx = nullptr;
    if (CGLChoosePixelFormat(attributes, &pix, &screens) != kCGLNoError ||
        CGLCreateContext(pix, nullptr, &ctx) != kCGLNoError || CGLSetCurrentContext(ctx) != kCGLNoError)
        throw std::runtime_error("no OpenGL 3.3 core context");
    CGLDestroyPixelFormat(pix);
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);

    std::vector<float> pixels(size_t(o.sourceWidth) * size_t(o.sourceHeight) * 3, 0.25f);
    std::vector<float> readBack(size_t(o.outputWidth) * size_t(o.outputHeight) * 3);
    Frame(o, mips, pixels, readBack);  // builds the programs, as the effect's first frame does
    std::vector<double> walls, cpus;
    for (int i = 0; i < o.frames; ++i) {
        const auto [wall, cpu] = Frame(o, mips, pixels, readBack);
        walls.push_back(wall * 1e3);
        cpus.push_back(cpu * 1e3);
    }
    if (glGetError() != GL_NO_ERROR) throw std::runtime_error("a GL call failed");
    const int passes = 4 * int(mips.size()) + 2;  // pre, clear, post; down, two blurs, up (one fewer) per level
    std::printf("floor_ms=%.6f\tfloor_cpu_ms=%.6f\tlevels=%d\tpasses=%d\tsource=%dx%d\toutput=%dx%d\tformat=%s\n",
                Median(walls), Median(cpus), int(mips.size()), passes, o.sourceWidth, o.sourceHeight, o.outputWidth,
                o.outputHeight, halfFloat ? "RGB16F" : "RGB32F");
    CGLSetCurrentContext(nullptr);
    CGLDestroyContext(ctx);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Options o;
        const std::map<std::string, int> presets = {{"Draft", 1}, {"Low", 2}, {"Medium", 3}, {"Standard", 4}, {"High", 5}};
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            const std::string v = argv[++i];
            if (a == "--source") velloran_bench::ParseSize(v, &o.sourceWidth, &o.sourceHeight);
            else if (a == "--output") velloran_bench::ParseSize(v, &o.outputWidth, &o.outputHeight);
            else if (a == "--radius") o.radius = std::stod(v);
            else if (a == "--frames") o.frames = std::max(1, std::stoi(v));
            else if (a == "--half-float") halfFloat = v != "0";
            else if (a == "--preset") {
                const auto found = presets.find(v);
                o.quality = found == presets.end() ? 0 : found->second;
            } else throw std::invalid_argument("unknown option " + a);
        }
        if (o.outputWidth == 0) {
            o.outputWidth = o.sourceWidth;
            o.outputHeight = o.sourceHeight;
        }
        return Run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velloran-pass-floor: %s\n", e.what());
        return 1;
    }
}
