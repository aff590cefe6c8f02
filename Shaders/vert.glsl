
// begin shader
#version 330
// Vertex stage that places the source quad inside the output target.

in vec3 vertex;
in vec2 tex;

// Uploaded as sixteen floats without transposition, and the corner is a row vector on the left
// of the product: output component c is the corner dotted with floats 4c to 4c + 3. The stored
// floats are therefore the placement matrix in row-major order, its translation in floats 3, 7
// and 11.
uniform mat4 xform;

out vec2 out_uvs;

void main()
{
    out_uvs = tex;
    gl_Position = vec4(vertex, 1.0) * xform;
}
// end shader
