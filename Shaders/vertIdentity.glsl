
// begin shader
#version 330
// Pass-through vertex stage: the quad already spans the whole target in clip space.

in vec3 vertex;   // quad corner; the buffer holds (x, y, z, w) and the fourth component is dropped
in vec2 tex;      // (0, 0) at the bottom-left corner to (1, 1) at the top-right

out vec2 out_uvs;

void main()
{
    out_uvs = tex;
    gl_Position = vec4(vertex.x, vertex.y, vertex.z, 1.0);
}
// end shader
