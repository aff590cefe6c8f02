
// begin shader
#version 330
// Plain copy. The Lens Iris chain also hands this pass a culling switch; it is not declared
// here, so the binding drops it and every value, however small, is copied as it is.

in vec2 out_uvs;
uniform sampler2D videoTexture;

out vec3 FragColor;

void main()
{
    FragColor = texture(videoTexture, out_uvs).rgb;
}
// end shader
