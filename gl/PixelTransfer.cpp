// Moves pixels between host worlds and render targets through one packed RGB buffer in a host handle.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <glm/gtc/packing.hpp>

#include "gl/glrender.h"
#include "host/Messages.h"
#include "host/Suites.h"

namespace {

struct ClientFormat {
    uint64_t bytesPerPixel;
    GLenum type;
};

ClientFormat ClientFormatFor(int bitDepth, unsigned char halfFloat) {
    if (bitDepth == 8) return {3, GL_UNSIGNED_BYTE};
    if (halfFloat) return {6, GL_HALF_FLOAT};
    return {12, GL_FLOAT};
}

std::string Dims(const PF_LayerDef* world) {
    return std::to_string(world->width) + ", " + std::to_string(world->height);
}

// The transfer buffer: unlocked and disposed when the transfer leaves, whichever way it leaves (a host
// code thrown by a missing suite included).
class TransferBuffer {
public:
    TransferBuffer(const PF_HandleSuite2* suite, uint64_t size) : suite_(suite) {
        // The host's handle sizes are 32-bit: a larger buffer is refused rather than allocated short.
        if (size <= std::numeric_limits<A_u_long>::max()) handle_ = suite_->host_new_handle(A_u_long(size));
    }
    ~TransferBuffer() {
        if (!handle_) return;
        if (locked_) suite_->host_unlock_handle(handle_);
        suite_->host_dispose_handle(handle_);
    }
    TransferBuffer(const TransferBuffer&) = delete;
    TransferBuffer& operator=(const TransferBuffer&) = delete;

    bool allocated() const { return handle_ != nullptr; }
    void* Lock() {
        void* pointer = suite_->host_lock_handle(handle_);
        locked_ = pointer != nullptr;
        return pointer;
    }

private:
    const PF_HandleSuite2* suite_;
    PF_Handle handle_ = nullptr;
    bool locked_ = false;
};

PF_Err Iterate(const AEGP_SuiteHandler& suites, PF_InData* in_data, PF_LayerDef* world, int bitDepth,
               unsigned char halfFloat, bool upload, rgb_transfer_data* refcon) {
    if (bitDepth == 8) {
        return suites.Iterate8Suite1()->iterate(in_data, 0, world->height, world, nullptr, refcon,
                                                upload ? RGB_In8 : RGB_Out8, world);
    }
    PF_IteratePixelFloatFunc callback = halfFloat ? (upload ? RGB_InHalf32 : RGB_OutHalf32)
                                                  : (upload ? RGB_In32 : RGB_Out32);
    return suites.IterateFloatSuite1()->iterate(in_data, 0, world->height, world, nullptr, refcon, callback, world);
}

// The host's side of a transfer: its suites, the buffer and the iteration. Every call into the host, the
// releases at the end included, is made with the GL work lock let go.
class HostTransfer {
public:
    HostTransfer(PF_InData* in_data, uint64_t size) : in_data_(in_data) {
        const GLWorkPause pause;
        try {
            suites_.emplace(in_data ? in_data->pica_basicP : nullptr);
            buffer_.emplace(suites_->HandleSuite2(), size);
        } catch (...) {
            Release();
            throw;
        }
    }
    ~HostTransfer() {
        const GLWorkPause pause;
        Release();
    }
    HostTransfer(const HostTransfer&) = delete;
    HostTransfer& operator=(const HostTransfer&) = delete;

    bool allocated() const { return buffer_->allocated(); }
    void* Lock() {
        const GLWorkPause pause;
        return buffer_->Lock();
    }
    PF_Err Iterate(PF_LayerDef* world, int bitDepth, unsigned char halfFloat, bool upload, rgb_transfer_data* refcon) {
        const GLWorkPause pause;
        return ::Iterate(*suites_, in_data_, world, bitDepth, halfFloat, upload, refcon);
    }

private:
    void Release() {
        buffer_.reset();
        suites_.reset();
    }
    PF_InData* in_data_;
    std::optional<AEGP_SuiteHandler> suites_;
    std::optional<TransferBuffer> buffer_;
};

// GL's default unpack state and no texture bound, back on every path of the upload.
struct UnpackStateRestorer {
    ~UnpackStateRestorer() {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
};

// GL's default pack alignment and no framebuffer bound, back on every path of the read-back.
struct PackStateRestorer {
    ~PackStateRestorer() {
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
};

size_t ElementIndex(const rgb_transfer_data* data, A_long x, A_long y) {
    return (size_t(y) * size_t(data->world->width) + size_t(x)) * 3;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Per-pixel callbacks
// ---------------------------------------------------------------------------------------------------------
PF_Err RGB_In8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* /*out*/) {
    auto* data = static_cast<rgb_transfer_data*>(refcon);
    uint8_t* element = static_cast<uint8_t*>(data->buffer) + ElementIndex(data, x, y);
    // Integer premultiplication, floor(channel * alpha / 255): exact for every input pair.
    element[0] = uint8_t(unsigned(in->red) * in->alpha / 255u);
    element[1] = uint8_t(unsigned(in->green) * in->alpha / 255u);
    element[2] = uint8_t(unsigned(in->blue) * in->alpha / 255u);
    return PF_Err_NONE;
}

// A NaN or an infinity in a float source (or one made by premultiplying, as infinity times 0 is) would be
// spread by every filtered read and blur over the whole glow; such a value counts as 0.
static float FiniteOrZero(float v) { return std::isfinite(v) ? v : 0.0f; }

PF_Err RGB_In32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* /*out*/) {
    auto* data = static_cast<rgb_transfer_data*>(refcon);
    float* element = static_cast<float*>(data->buffer) + ElementIndex(data, x, y);
    element[0] = FiniteOrZero(in->red * in->alpha);
    element[1] = FiniteOrZero(in->green * in->alpha);
    element[2] = FiniteOrZero(in->blue * in->alpha);
    return PF_Err_NONE;
}

// A finite value beyond the largest half float would pack as an infinity: it saturates instead.
static uint16_t HalfOf(float v) {
    constexpr float kHalfMax = 65504.0f;
    return glm::packHalf1x16(std::clamp(FiniteOrZero(v), -kHalfMax, kHalfMax));
}

PF_Err RGB_InHalf32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* /*out*/) {
    auto* data = static_cast<rgb_transfer_data*>(refcon);
    uint16_t* element = static_cast<uint16_t*>(data->buffer) + ElementIndex(data, x, y);
    element[0] = HalfOf(in->red * in->alpha);
    element[1] = HalfOf(in->green * in->alpha);
    element[2] = HalfOf(in->blue * in->alpha);
    return PF_Err_NONE;
}

PF_Err RGB_Out8(void* refcon, A_long x, A_long y, PF_Pixel* /*in*/, PF_Pixel* out) {
    auto* data = static_cast<rgb_transfer_data*>(refcon);
    const uint8_t* element = static_cast<const uint8_t*>(data->buffer) + ElementIndex(data, x, y);
    *out = {255, element[0], element[1], element[2]};
    return PF_Err_NONE;
}

PF_Err RGB_Out32(void* refcon, A_long x, A_long y, PF_PixelFloat* /*in*/, PF_PixelFloat* out) {
    auto* data = static_cast<rgb_transfer_data*>(refcon);
    const float* element = static_cast<const float*>(data->buffer) + ElementIndex(data, x, y);
    *out = {1.0f, element[0], element[1], element[2]};
    return PF_Err_NONE;
}

PF_Err RGB_OutHalf32(void* refcon, A_long x, A_long y, PF_PixelFloat* /*in*/, PF_PixelFloat* out) {
    auto* data = static_cast<rgb_transfer_data*>(refcon);
    const uint16_t* element = static_cast<const uint16_t*>(data->buffer) + ElementIndex(data, x, y);
    *out = {1.0f, glm::unpackHalf1x16(element[0]), glm::unpackHalf1x16(element[1]), glm::unpackHalf1x16(element[2])};
    return PF_Err_NONE;
}

// ---------------------------------------------------------------------------------------------------------
// Up and down
// ---------------------------------------------------------------------------------------------------------
PF_Err PX_FBO2::UploadToTexture(PF_LayerDef* world, short bitDepth, unsigned char halfFloat) {
    if (m_colorBuffer.ID == 0) {
        LogError("UploadToTexture() called without valid m_colorBuffer.ID\n", in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    if (!world) {
        LogError("UploadToTexture() called without valid aeBuffer\n", in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    if (bitDepth != 8 && bitDepth != 32) {
        LogError("UploadToTexture() called without valid bpc: " + std::to_string(bitDepth), in_data);
        return PF_Err_INVALID_CALLBACK;
    }

    const ClientFormat format = ClientFormatFor(bitDepth, halfFloat);
    const uint64_t size = uint64_t(world->width) * uint64_t(world->height) * format.bytesPerPixel;

    // The host fills the buffer first, and only then does GL take it.
    HostTransfer buffer(in_data, size);
    if (!buffer.allocated()) {
        LogError("UploadToTexture(), failed to generate bufferH with dims of " + Dims(world) + "\n", in_data);
        return PF_Err_OUT_OF_MEMORY;
    }
    void* pointer = buffer.Lock();
    if (!pointer) {
        // Reported like the read-back does: a frame rendered from a texture that never got its pixels
        // would otherwise pass for a good one.
        LogError("UploadToTexture !bufferP: 0 with dims of " + Dims(world) + "\n", in_data);
        return PF_Err_OUT_OF_MEMORY;
    }
    rgb_transfer_data refcon{pointer, world};
    const PF_Err err = buffer.Iterate(world, bitDepth, halfFloat, true, &refcon);

    {
        glBindTexture(GL_TEXTURE_2D, m_colorBuffer.ID);
        UnpackStateRestorer restoreUnpackState;
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, world->width);
        glTexImage2D(GL_TEXTURE_2D, 0, m_internalFormat, world->width, world->height, 0, GL_RGB, m_imageType,
                     nullptr);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, world->width, world->height, GL_RGB, format.type, pointer);
        SettleGLWork();
    }
    if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) {
        LogError("UploadToTexture err macro code: " + std::to_string(err) + "with dims of " + Dims(world) + "\n",
                 in_data);
    }
    return err;
}

PF_Err PX_FBO2::FBOtoEffectWorld(PF_LayerDef* world, int bitDepth, unsigned char halfFloat) {
    return ::FBOtoEffectWorld(in_data, m_FBO_ID, world, bitDepth, halfFloat);
}

PF_Err FBOtoEffectWorld(PF_InData* in_data, GLuint framebuffer, PF_LayerDef* world, int bitDepth,
                        unsigned char halfFloat) {
    glFinish();
    if (bitDepth != 8 && bitDepth != 32) {
        LogError("FBOtoEffectWorld() called without valid bpc: " + std::to_string(bitDepth), in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    if (!world) {
        LogError("FBOtoEffectWorld() called without valid world\n", in_data);
        return PF_Err_INVALID_CALLBACK;
    }

    const ClientFormat format = ClientFormatFor(bitDepth, halfFloat);
    const uint64_t size = uint64_t(world->width) * uint64_t(world->height) * format.bytesPerPixel;

    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    PackStateRestorer restorePackState;
    // The window's framebuffer, a name that is no framebuffer or one that cannot be read hold nothing the
    // render wrote: reading them would fill the world with whatever the driver has, and leave a GL error.
    if (framebuffer == 0 || !glIsFramebuffer(framebuffer)) {
        LogError("FBOtoEffectWorld() called without valid framebuffer: " + std::to_string(framebuffer) + "\n",
                 in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        LogError("FBOtoEffectWorld() called with incomplete framebuffer " + std::to_string(framebuffer) +
                     ", status: " + std::to_string(status) + "\n",
                 in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    HostTransfer buffer(in_data, size);
    if (!buffer.allocated()) {
        LogError("FBOtoEffectWorld(), failed to generate bufferH with dims of " + Dims(world) + "\n", in_data);
        return PF_Err_OUT_OF_MEMORY;
    }
    void* pointer = buffer.Lock();
    if (!pointer) {
        LogError("FBOtoEffectWorld !bufferP: 0 with dims of " + Dims(world) + "\n", in_data);
        return PF_Err_OUT_OF_MEMORY;
    }
    glReadPixels(0, 0, world->width, world->height, GL_RGB, format.type, pointer);
    SettleGLWork();
    rgb_transfer_data refcon{pointer, world};
    const PF_Err err = buffer.Iterate(world, bitDepth, halfFloat, false, &refcon);
    if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) {
        LogError("FBOtoEffectWorld err macro code: " + std::to_string(err) + " with dims of " + Dims(world) + "\n",
                 in_data);
        return PF_Err_OUT_OF_MEMORY;
    }
    return err;
}
