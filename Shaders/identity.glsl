
// begin shader
#version 330
// Plain copy. The Lens Iris chain also hands this pass a culling switch; it is not declared
// here, so the binding drops it and every value, however small, is copied as it is.

in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform int halfFloatB;   // 1: the levels are half floats, whose largest value is 65504

out vec3 FragColor;

void main()
{
    // A level summed past the largest half float may hold an infinity on some drivers; it reads as the
    // largest half float, as drivers that saturate store it.
    vec3 v = texture(videoTexture, out_uvs).rgb;
    FragColor = halfFloatB == 1 ? min(v, vec3(65504.0)) : v;
}
// end shader
