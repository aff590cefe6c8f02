
// begin shader
#version 330
// 13-tap resampling of one level into the next.
//
// srcResolution is the size of the target written, so one step (x, y) is one target texel:
// the inner diagonals sit one step from the centre, the outer ring two steps.
//
//     a . b . c
//     . j . k .
//     d . e . f
//     . l . m .
//     g . h . i
//
// The taps form five 2x2 boxes, each averaged (x 1/4): the inner box j k l m with weight
// 1/2, and the four corner boxes (a b d e), (b c e f), (d e g h), (e f h i) with 1/8 each.
// A tap's weight is the sum over the boxes it belongs to:
//   j, k, l, m:  1/2 x 1/4           = 0.125   (one box)
//   e:           4 x 1/8 x 1/4       = 0.125   (all four corner boxes)
//   b, d, f, h:  2 x 1/8 x 1/4       = 0.0625  (two corner boxes)
//   a, c, g, i:  1/8 x 1/4           = 0.03125 (one corner box)
// Total: 4 x 0.125 + 0.125 + 4 x 0.0625 + 4 x 0.03125 = 0.5 + 0.125 + 0.25 + 0.125 = 1,
// so a flat image keeps its brightness.

in vec2 out_uvs;

uniform sampler2D videoTexture;
uniform vec2 srcResolution;

out vec3 colourOut;

void main()
{
    vec2 t = 1.0 / srcResolution;
    float x = t.x;
    float y = t.y;
    float u = out_uvs.x;
    float v = out_uvs.y;

    vec3 a = texture(videoTexture, vec2(u - 2.0 * x, v + 2.0 * y)).rgb;
    vec3 b = texture(videoTexture, vec2(u,           v + 2.0 * y)).rgb;
    vec3 c = texture(videoTexture, vec2(u + 2.0 * x, v + 2.0 * y)).rgb;

    vec3 d = texture(videoTexture, vec2(u - 2.0 * x, v)).rgb;
    vec3 e = texture(videoTexture, vec2(u,           v)).rgb;
    vec3 f = texture(videoTexture, vec2(u + 2.0 * x, v)).rgb;

    vec3 g = texture(videoTexture, vec2(u - 2.0 * x, v - 2.0 * y)).rgb;
    vec3 h = texture(videoTexture, vec2(u,           v - 2.0 * y)).rgb;
    vec3 i = texture(videoTexture, vec2(u + 2.0 * x, v - 2.0 * y)).rgb;

    vec3 j = texture(videoTexture, vec2(u - x, v + y)).rgb;
    vec3 k = texture(videoTexture, vec2(u + x, v + y)).rgb;
    vec3 l = texture(videoTexture, vec2(u - x, v - y)).rgb;
    vec3 m = texture(videoTexture, vec2(u + x, v - y)).rgb;

    colourOut = e * 0.125
              + (a + c + g + i) * 0.03125
              + (b + d + f + h) * 0.0625
              + (j + k + l + m) * 0.125;
}
// end shader
