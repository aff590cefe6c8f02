// The effect's GL layer: contexts, programs, checked calls, draws, and the render target PX_FBO2 with its
// pixel transfer to and from host worlds.
#pragma once

#include <cstdint>

#include "gl/GLContext.h"
#include "gl/GLErrors.h"
#include "gl/GLHeaders.h"
#include "gl/PixelTransfer.h"
#include "gl/Program.h"
#include "gl/QuadDraw.h"
#include "gl/Uniforms.h"
#include "sdk/AE_Effect.h"

// The colour texture of a target as created.
struct PX_TextureInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;           // 1 once created
    uint32_t internalFormat = 0;
    GLuint ID = 0;                // texture name, 0 when none
};

// A framebuffer with one colour texture. Owns both names and deletes them; never copied (a copy would
// delete the same GL objects twice), but movable so that targets can live in containers. Every member
// needs the creating thread's GL context current.
class PX_FBO2 {
public:
    GLuint m_FBO_ID = 0;
    PX_TextureInfo m_colorBuffer;
    PF_InData* in_data = nullptr;  // the creating render's in data, for the log and the host's suites
    uint32_t m_widthLu = 0;
    uint32_t m_heightLu = 0;
    int m_internalFormat = 0;
    int m_imageType = 0;           // GL_FLOAT for GL_RGB32F, GL_HALF_FLOAT otherwise
    int m_edgeBehaviour = 0;       // wrap mode of both axes

    PX_FBO2() = default;
    ~PX_FBO2();
    PX_FBO2(const PX_FBO2&) = delete;
    PX_FBO2& operator=(const PX_FBO2&) = delete;
    PX_FBO2(PX_FBO2&& other) noexcept;
    PX_FBO2& operator=(PX_FBO2&& other) noexcept;

    // Texture, framebuffer, clear; the first non-zero result (4 for a GL failure, 515 when already made).
    PF_Err CreateTextureFBO2(PF_InData* in_data, unsigned width, unsigned height, int edgeBehaviour,
                             int internalFormat);
    PF_Err CreateTextureRenderBuffer2();
    PF_Err CreateFBO2();
    // Transparent black; 515 when a call fails.
    PF_Err ClearFBO2();
    GLuint GetFBO();
    GLuint GetTAO();
    // Deletes both objects now and zeroes their names; sizes and formats stay.
    void DeleteGenericFBO();

    PF_Err RenderPOD2(Vec4i viewport, GL_Pod& pod);
    // Draws the full-screen quad with the program over the whole target; always empties uniforms.
    PF_Err RenderQuad2(GLuint program, UniformMap& uniforms);

    // The world (8 or 32 bits per channel) premultiplied into the colour texture, resized to the world.
    PF_Err UploadToTexture(PF_LayerDef* world, short bitDepth, unsigned char halfFloat);
    // The framebuffer's colour back into the world from (0, 0), opaque.
    PF_Err FBOtoEffectWorld(PF_LayerDef* world, int bitDepth, unsigned char halfFloat);
};

// The read-back from the named framebuffer, logging through in_data.
PF_Err FBOtoEffectWorld(PF_InData* in_data, GLuint framebuffer, PF_LayerDef* world, int bitDepth,
                        unsigned char halfFloat);
