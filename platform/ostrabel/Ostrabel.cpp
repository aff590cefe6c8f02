// The library's C entry points and its GL side: the source is read back once into the cache, convolved on the
// CPU (see OstrabelConvolve.cpp for how) and written into the destination through a temporary texture and a
// framebuffer blit, which works for any colour format of the destination, texture or renderbuffer.
#include "Ostrabel.h"

#include <GL/glcorearb.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <type_traits>

#include "AE_EffectSuites.h"
#include "OstrabelConvolve.h"
#include "SPBasic.h"

namespace {

// Threads one convolution may use: the machine's, within reason, since several render threads may be
// convolving at once.
constexpr unsigned kMostWorkers = 8;

struct Pipeline {
    void* gl_context = nullptr;
    unsigned workers = 1;
    ostrabel::TransformCache transforms;  // used by the pipeline's one render thread at a time
    OstrabelStretchRunner runner = nullptr;
};

// Runs work through the pipeline's runner. An exception may not cross the runner's C frames: it is caught on
// the far side and thrown again here.
template <class Work>
void AwayFromGL(const Pipeline& pipeline, Work&& work) {
    if (!pipeline.runner) {
        work();
        return;
    }
    struct Call {
        std::remove_reference_t<Work>* work;
        std::exception_ptr failure;
    } call{&work, nullptr};
    pipeline.runner(
        [](void* data) {
            Call& c = *static_cast<Call*>(data);
            try {
                (*c.work)();
            } catch (...) {
                c.failure = std::current_exception();
            }
        },
        &call);
    if (call.failure) std::rethrow_exception(call.failure);
}

struct BlurCache {
    Pipeline* pipeline = nullptr;
    ostrabel::IrisWeights iris;
    ostrabel::RgbaImage source;
};

void WriteReason(char* buffer, int capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
void WriteReason(char* buffer, int capacity, const char* format, ...) {
    if (!buffer || capacity <= 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, std::size_t(capacity), format, args);  // truncates and always ends with a NUL
    va_end(args);
}

// Releases the acquired suite on every path.
class WorldSuiteScope {
public:
    explicit WorldSuiteScope(SPBasicSuite* basic) : basic_(basic) {
        const void* suite = nullptr;
        if (basic_ && basic_->AcquireSuite &&
            basic_->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite) == kSPNoError && suite)
            suite_ = static_cast<const PF_WorldSuite2*>(suite);
    }
    ~WorldSuiteScope() {
        if (suite_ && basic_->ReleaseSuite) basic_->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
    }
    WorldSuiteScope(const WorldSuiteScope&) = delete;
    WorldSuiteScope& operator=(const WorldSuiteScope&) = delete;
    const PF_WorldSuite2* get() const { return suite_; }

private:
    SPBasicSuite* basic_;
    const PF_WorldSuite2* suite_ = nullptr;
};

// Weight of one iris pixel: its luminance (Rec. 709) times its alpha. Negative and non-finite values would
// subtract light or poison the sum, so they weigh nothing.
float PixelWeight(double alpha, double red, double green, double blue) {
    const double weight = (0.2126 * red + 0.7152 * green + 0.0722 * blue) * alpha;
    return std::isfinite(weight) && weight > 0.0 ? float(weight) : 0.0f;
}

template <class Pixel>
void ReadWeights(const PF_EffectWorld& world, double full_scale, ostrabel::IrisWeights& iris) {
    const char* base = static_cast<const char*>(world.data);
    for (int y = 0; y < world.height; ++y) {
        const Pixel* row = reinterpret_cast<const Pixel*>(base + std::ptrdiff_t(y) * world.rowbytes);
        for (int x = 0; x < world.width; ++x) {
            const Pixel& p = row[x];
            iris.weights[std::size_t(y) * std::size_t(world.width) + std::size_t(x)] =
                PixelWeight(p.alpha / full_scale, p.red / full_scale, p.green / full_scale, p.blue / full_scale);
        }
    }
}

// Fills `iris` from the world, or returns false with a reason.
bool CopyIrisWeights(PF_InData* in_data, PF_EffectWorld* world, ostrabel::IrisWeights& iris, char* reason,
                     int capacity) {
    if (!world || !world->data || world->width <= 0 || world->height <= 0) {
        WriteReason(reason, capacity, "CreateOstrabelImageCacheGL: the iris world has no pixels");
        return false;
    }
    WorldSuiteScope suite(in_data ? in_data->pica_basicP : nullptr);
    if (!suite.get() || !suite.get()->PF_GetPixelFormat) {
        WriteReason(reason, capacity, "CreateOstrabelImageCacheGL: the host's \"%s\" %d is not available",
                    kPFWorldSuite, kPFWorldSuiteVersion2);
        return false;
    }
    PF_PixelFormat format = PF_PixelFormat_INVALID;
    const PF_Err err = suite.get()->PF_GetPixelFormat(world, &format);
    std::size_t pixel_bytes = 0;
    if (err == PF_Err_NONE) {
        if (format == PF_PixelFormat_ARGB32) pixel_bytes = sizeof(PF_Pixel8);
        if (format == PF_PixelFormat_ARGB128) pixel_bytes = sizeof(PF_PixelFloat);
    }
    if (pixel_bytes == 0) {
        WriteReason(reason, capacity,
                    "CreateOstrabelImageCacheGL: the iris world is neither 8-bit nor 32-bit float (error %d, format "
                    "0x%08x)",
                    int(err), unsigned(format));
        return false;
    }
    if (std::size_t(std::abs(std::int64_t(world->rowbytes))) < pixel_bytes * std::size_t(world->width)) {
        WriteReason(reason, capacity, "CreateOstrabelImageCacheGL: the iris world's rows (%d bytes) are shorter "
                    "than %d pixels", int(world->rowbytes), int(world->width));
        return false;
    }
    iris.width = world->width;
    iris.height = world->height;
    iris.weights.assign(std::size_t(world->width) * std::size_t(world->height), 0.0f);
    // The scale of a depth does not change the normalised kernel; it only keeps the weights readable.
    if (format == PF_PixelFormat_ARGB32) ReadWeights<PF_Pixel8>(*world, 255.0, iris);
    if (format == PF_PixelFormat_ARGB128) ReadWeights<PF_PixelFloat>(*world, 1.0, iris);
    iris.total = 0.0;
    for (float weight : iris.weights) iris.total += weight;
    if (!(iris.total > 0.0) || !std::isfinite(iris.total)) {
        WriteReason(reason, capacity,
                    "CreateOstrabelImageCacheGL: the iris image's weights (luminance times alpha) sum to 0");
        return false;
    }
    return true;
}

// Saves the GL state the library touches and puts it back on every path. Pixel-store values are set to
// their defaults while the library works, so a caller's leftover row length cannot skew a transfer.
class GLStateScope {
public:
    GLStateScope() {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer_);
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw_framebuffer_);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture_);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_buffer_);
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpack_buffer_);
        scissor_ = glIsEnabled(GL_SCISSOR_TEST);
        discard_ = glIsEnabled(GL_RASTERIZER_DISCARD);
        for (std::size_t i = 0; i < kStoreCount; ++i) glGetIntegerv(kStores[i].name, &stores_[i]);

        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        // A blit is clipped by the scissor box and skipped under rasterizer discard.
        if (scissor_) glDisable(GL_SCISSOR_TEST);
        if (discard_) glDisable(GL_RASTERIZER_DISCARD);
        for (std::size_t i = 0; i < kStoreCount; ++i)
            if (stores_[i] != kStores[i].initial) glPixelStorei(kStores[i].name, kStores[i].initial);
    }
    ~GLStateScope() {
        for (std::size_t i = 0; i < kStoreCount; ++i)
            if (stores_[i] != kStores[i].initial) glPixelStorei(kStores[i].name, stores_[i]);
        if (discard_) glEnable(GL_RASTERIZER_DISCARD);
        if (scissor_) glEnable(GL_SCISSOR_TEST);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, GLuint(unpack_buffer_));
        glBindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(pack_buffer_));
        glBindTexture(GL_TEXTURE_2D, GLuint(texture_));
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(draw_framebuffer_));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(read_framebuffer_));
    }
    GLStateScope(const GLStateScope&) = delete;
    GLStateScope& operator=(const GLStateScope&) = delete;

private:
    struct Store {
        GLenum name;
        GLint initial;
    };
    static constexpr Store kStores[] = {
        {GL_PACK_SWAP_BYTES, 0},    {GL_PACK_ROW_LENGTH, 0},     {GL_PACK_SKIP_ROWS, 0},
        {GL_PACK_SKIP_PIXELS, 0},   {GL_PACK_ALIGNMENT, 4},      {GL_UNPACK_SWAP_BYTES, 0},
        {GL_UNPACK_ROW_LENGTH, 0},  {GL_UNPACK_SKIP_ROWS, 0},    {GL_UNPACK_SKIP_PIXELS, 0},
        {GL_UNPACK_ALIGNMENT, 4},   {GL_UNPACK_IMAGE_HEIGHT, 0}, {GL_UNPACK_SKIP_IMAGES, 0},
    };
    static constexpr std::size_t kStoreCount = sizeof(kStores) / sizeof(kStores[0]);
    GLint read_framebuffer_ = 0, draw_framebuffer_ = 0, texture_ = 0, pack_buffer_ = 0, unpack_buffer_ = 0;
    GLboolean scissor_ = GL_FALSE, discard_ = GL_FALSE;
    GLint stores_[kStoreCount] = {};
};

// Deletes the temporary GL objects of one write, after the state scope has unbound them.
struct TemporaryObjects {
    GLuint texture = 0, framebuffer = 0;
    ~TemporaryObjects() {
        if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
        if (texture) glDeleteTextures(1, &texture);
    }
};

bool IsCompleteFramebuffer(GLuint framebuffer, GLenum target) {
    if (framebuffer == 0 || !glIsFramebuffer(framebuffer)) return false;
    glBindFramebuffer(target, framebuffer);
    return glCheckFramebufferStatus(target) == GL_FRAMEBUFFER_COMPLETE;
}

// Reads the framebuffer's colour into `image`, or returns false with a reason.
bool ReadFramebuffer(GLuint framebuffer, int width, int height, ostrabel::RgbaImage& image, char* reason,
                     int capacity) {
    GLStateScope state;
    if (!IsCompleteFramebuffer(framebuffer, GL_READ_FRAMEBUFFER)) {
        WriteReason(reason, capacity, "CreateOstrabelImageCacheGL: source %u is not a complete framebuffer",
                    framebuffer);
        return false;
    }
    image.width = width;
    image.height = height;
    image.pixels.resize(std::size_t(width) * std::size_t(height) * 4);  // the read-back writes every value
    glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, image.pixels.data());
    return true;
}

void WriteFramebuffer(GLuint framebuffer, int width, int height, const ostrabel::RgbaImage& image) {
    TemporaryObjects objects;  // destroyed after `state` has restored the bindings
    GLStateScope state;
    if (!IsCompleteFramebuffer(framebuffer, GL_DRAW_FRAMEBUFFER)) return;
    glGenTextures(1, &objects.texture);
    glBindTexture(GL_TEXTURE_2D, objects.texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, image.width, image.height, 0, GL_RGBA, GL_FLOAT,
                 image.pixels.data());
    glGenFramebuffers(1, &objects.framebuffer);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, objects.framebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, objects.texture, 0);
    if (glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return;
    // A destination of another size than the cache gets the part both share.
    const int w = std::min(width, image.width), h = std::min(height, image.height);
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

}  // namespace

extern "C" {

void* CreateIrisPipelineOBJ(void* gl_context) {
    Pipeline* pipeline = new (std::nothrow) Pipeline;
    if (!pipeline) return nullptr;
    pipeline->gl_context = gl_context;
    pipeline->workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMostWorkers);
    return pipeline;
}

void DeletePipelineCtx(void* pipeline) { delete static_cast<Pipeline*>(pipeline); }

void OstrabelSetStretchRunner(void* pipeline, OstrabelStretchRunner runner) {
    if (pipeline) static_cast<Pipeline*>(pipeline)->runner = runner;
}

void* CreateOstrabelImageCacheGL(PF_InData* in_data, void* pipeline, int /*bit_depth_hint*/,
                                 PF_EffectWorld* iris_world, int /*reserved_a*/, int /*reserved_b*/,
                                 unsigned int source_framebuffer, int width, int height, char* error_buffer,
                                 int error_capacity) {
    try {
        if (!pipeline) {
            WriteReason(error_buffer, error_capacity, "CreateOstrabelImageCacheGL: no pipeline object");
            return nullptr;
        }
        // The transform sizes and pixel counts are formed in int and size_t arithmetic; 2^15 keeps them safe.
        constexpr int kLargestSide = 1 << 15;
        if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide) {
            WriteReason(error_buffer, error_capacity, "CreateOstrabelImageCacheGL: unusable source size %d x %d",
                        width, height);
            return nullptr;
        }
        auto cache = std::make_unique<BlurCache>();
        cache->pipeline = static_cast<Pipeline*>(pipeline);
        bool copied = false;
        AwayFromGL(*cache->pipeline,
                   [&] { copied = CopyIrisWeights(in_data, iris_world, cache->iris, error_buffer, error_capacity); });
        if (!copied) return nullptr;
        if (!ReadFramebuffer(source_framebuffer, width, height, cache->source, error_buffer, error_capacity))
            return nullptr;
        return cache.release();
    } catch (const std::bad_alloc&) {
        WriteReason(error_buffer, error_capacity, "CreateOstrabelImageCacheGL: out of memory");
    } catch (...) {
        WriteReason(error_buffer, error_capacity, "CreateOstrabelImageCacheGL: unexpected failure");
    }
    return nullptr;
}

void OstrabelGL(void* cache, int sampling_level, unsigned int destination_framebuffer, int width, int height,
                float radius) {
    if (!cache || width <= 0 || height <= 0) return;
    try {
        const BlurCache& blur = *static_cast<const BlurCache*>(cache);
        ostrabel::RgbaImage result;
        AwayFromGL(*blur.pipeline, [&] {
            result = ostrabel::ConvolveWithIris(blur.source, blur.iris, radius, sampling_level,
                                                blur.pipeline->transforms, blur.pipeline->workers);
        });
        WriteFramebuffer(destination_framebuffer, width, height, result);
    } catch (...) {
        // Out of memory: the destination keeps what it held; there is no channel to report through.
    }
}

void OstrabelDisposeBlurCacheGL(void* cache) { delete static_cast<BlurCache*>(cache); }

}  // extern "C"
