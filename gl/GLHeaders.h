// OpenGL core-profile declarations. Entry points are linked straight from the GL library, so the
// prototypes are wanted, and no compatibility header (GL/gl.h) may come in beside this one.
#pragma once

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/glcorearb.h>
