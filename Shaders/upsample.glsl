
// begin shader
#version 330
// 3x3 tent resampling of a level into the level before it; the pass chain blends the
// result onto that level.
//
// The tent is the outer product of the binomial row (1, 2, 1) / 4 with itself:
//     1 2 1
//     2 4 2   x 1/16     (4 + 4 x 2 + 4 x 1 = 16, so the weights sum to 1)
//     1 2 1
// The taps are one texel of the target apart: (1 / in_res) x (in_res / out_res).

in vec2 out_uvs;

uniform sampler2D videoTexture;
uniform vec2 in_res;    // size of the texture read
uniform vec2 out_res;   // size of the target written

out vec3 colourOut;

void main()
{
    vec2 aspect = in_res / out_res;
    vec2 texel = 1.0 / in_res;
    vec2 o = texel * aspect;

    vec3 sum = texture(videoTexture, out_uvs + vec2(-o.x,  o.y)).rgb;
    sum += 2.0 * texture(videoTexture, out_uvs + vec2(0.0,  o.y)).rgb;
    sum += texture(videoTexture, out_uvs + vec2( o.x,  o.y)).rgb;

    sum += 2.0 * texture(videoTexture, out_uvs + vec2(-o.x, 0.0)).rgb;
    sum += 4.0 * texture(videoTexture, out_uvs).rgb;
    sum += 2.0 * texture(videoTexture, out_uvs + vec2( o.x, 0.0)).rgb;

    sum += texture(videoTexture, out_uvs + vec2(-o.x, -o.y)).rgb;
    sum += 2.0 * texture(videoTexture, out_uvs + vec2(0.0, -o.y)).rgb;
    sum += texture(videoTexture, out_uvs + vec2( o.x, -o.y)).rgb;

    colourOut = sum * (1.0 / 16.0);
}
// end shader
