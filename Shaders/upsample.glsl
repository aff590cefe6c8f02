
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
uniform int halfFloatB; // 1: the levels are half floats, whose largest value is 65504

out vec3 colourOut;

// The blend that sums the levels can pass the largest half float, which some drivers store as an
// infinity: such a level reads as the largest half float, as drivers that saturate store it.
vec3 Level(vec2 uv)
{
    vec3 v = texture(videoTexture, uv).rgb;
    return halfFloatB == 1 ? min(v, vec3(65504.0)) : v;
}

void main()
{
    vec2 aspect = in_res / out_res;
    vec2 texel = 1.0 / in_res;
    vec2 o = texel * aspect;

    vec3 sum = Level(out_uvs + vec2(-o.x,  o.y));
    sum += 2.0 * Level(out_uvs + vec2(0.0,  o.y));
    sum += Level(out_uvs + vec2( o.x,  o.y));

    sum += 2.0 * Level(out_uvs + vec2(-o.x, 0.0));
    sum += 4.0 * Level(out_uvs);
    sum += 2.0 * Level(out_uvs + vec2( o.x, 0.0));

    sum += Level(out_uvs + vec2(-o.x, -o.y));
    sum += 2.0 * Level(out_uvs + vec2(0.0, -o.y));
    sum += Level(out_uvs + vec2( o.x, -o.y));

    colourOut = sum * (1.0 / 16.0);
}
// end shader
