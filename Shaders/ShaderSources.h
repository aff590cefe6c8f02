#pragma once
// The effect's GLSL sources as zero-terminated text constants, each the exact content of
// Shaders/<name>.glsl: a newline, "// begin shader", the "#version 330" source, "// end shader"
// and a newline. They are compiled at run time exactly as stored.

namespace Shaders {

// Vertex stages.
extern const char vert[];          // quad placed by the matrix xform
extern const char vertIdentity[];  // quad over the whole target

// Fragment stages.
extern const char preProcess[];
extern const char downsample[];
extern const char upsample[];
extern const char blurUnified[];
extern const char postProcess[];
extern const char identity[];

}  // namespace Shaders
