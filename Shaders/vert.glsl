
// begin shader
#version 330
// Vertex stage that places the source quad inside the output target.

in vec3 vertex;
in vec2 tex;

// Uploaded as sixteen floats without transposition; the corner is a row vector on the left
// of the product, so the translation sits in the fourth row of the stored matrix.
uniform mat4 xform;

out vec2 out_uvs;

void main()
{
    out_uvs = tex;
    gl_Position = vec4(vertex, 1.0) * xform;
}
// end shader
