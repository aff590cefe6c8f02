
// begin shader
#version 330
// Last pass of a frame: back to host order, then exposure, tint, tone map, gamma back and
// the Screen cap. The tone map works on exposed, tinted, linear values, before the gamma.

in vec2 out_uvs;

uniform sampler2D videoTexture;   // the accumulated glow, in working order (host g, b, r)
uniform int simple_exposureB;     // always 1; no other exposure model exists
uniform int gammaCorrect;
uniform float custom_gammaF;
uniform int blendMode;
uniform float exposure;
uniform float tintMix;            // 0 to 2; 0 when the tint is off
uniform float clampMixF;          // tone-map mix, 0 to 1
uniform int tonemapE;
uniform vec3 tintColor;
uniform int tintMode;             // the tint blend mode
uniform int tintMultiB;           // Duocolor: blend towards tintColorOuter in bright channels
uniform vec3 tintColorOuter;
uniform int halfFloatB;          // 1: the glow and the target are half floats, whose largest value is 65504

const int BLEND_MODE_SCREEN = 1;
const int BLEND_MODE_ADD = 2;

const int TINT_BLEND_MULTIPLY = 1;
const int TINT_BLEND_OVERLAY = 2;
const int TINT_BLEND_SOFT_LIGHT = 3;

// The popup's separators occupy 2 and 8; they select no operator.
const int TONEMAP_MODE_NONE = 1;
const int TONEMAP_MODE_SEPARATOR_1 = 2;
const int TONEMAP_MODE_ACES_FILMIC = 3;
const int TONEMAP_MODE_FILMIC = 4;
const int TONEMAP_MODE_HABLE_FILMIC = 5;
const int TONEMAP_MODE_REINHARD = 6;
const int TONEMAP_MODE_REINHARD_2 = 7;
const int TONEMAP_MODE_SEPARATOR_2 = 8;
const int TONEMAP_MODE_CLAMP_CHROMA = 9;

out vec3 FragColour;

vec3 overlayV(vec3 bg, vec3 fg)
{
    vec3 low = 2.0 * bg * fg;
    vec3 high = 1.0 - 2.0 * (1.0 - bg) * (1.0 - fg);
    return mix(low, high, step(0.5, bg));   // step is 1 where bg >= 0.5
}

vec3 softLightV(vec3 a, vec3 b)
{
    return (1.0 - 2.0 * b) * a * a + 2.0 * b * a;
}

// Overlay is a display-space operation: both sides go to roughly gamma 2.2 space
// (exponent 0.45) and the result comes back with overlayExponent. The inner colour has
// always come back with 2.22 and the outer with 2.2; both are kept so that existing
// projects render as they did.
vec3 tintWith(vec3 c, vec3 color, float overlayExponent)
{
    if (tintMode == TINT_BLEND_MULTIPLY)
        return c * color;
    if (tintMode == TINT_BLEND_OVERLAY)
        return pow(overlayV(pow(c, vec3(0.45)), pow(color, vec3(0.45))), vec3(overlayExponent));
    if (tintMode == TINT_BLEND_SOFT_LIGHT)
        return softLightV(c, color);
    return c;   // no blend mode is sent while the tint is on; leave the colour untinted
}

vec3 DoTint(vec3 c)
{
    // Soft light is only defined on [0, 1]; the clamped colour is also what the mix uses.
    if (tintMode == TINT_BLEND_SOFT_LIGHT)
        c = min(c, vec3(1.0));

    vec3 I = tintWith(c, tintColor, 2.22);
    if (tintMultiB == 1) {
        vec3 O = tintWith(c, tintColorOuter, 2.2);
        // Dark channels take the inner colour, channels at 1 or above the outer one.
        I = mix(I, O, min(c, vec3(1.0)));
    }
    // tintMix above 1 pushes the colour past the tint.
    c = mix(c, I, tintMix);
    return max(c, vec3(0.0));
}

vec3 aces_filmic(vec3 x)
{
    return clamp((x * (2.51 * x + 0.03)) / (x * (2.43 * x + 0.59) + 0.14), 0.0, 1.0);
}

// The curve already contains the display gamma, so it is raised back by 2.2 to stay linear.
vec3 filmic(vec3 x)
{
    vec3 X = max(vec3(0.0), x - 0.004);
    return pow((X * (6.2 * X + 0.5)) / (X * (6.2 * X + 1.7) + 0.06), vec3(2.2));
}

// Shoulder strength A, linear strength B, linear angle C, toe strength D, toe numerator E,
// toe denominator F. The input is kept above 0 so the curve at black is P(1e-5), a tiny
// positive value, never a division that could go wrong.
vec3 uncharted2_tonemap_partial(vec3 y)
{
    const float A = 0.15;
    const float B = 0.50;
    const float C = 0.10;
    const float D = 0.20;
    const float E = 0.02;
    const float F = 0.30;
    vec3 v = max(y, vec3(1e-5));
    return ((v * (A * v + C * B) + D * E) / (v * (A * v + B) + D * F)) - E / F;
}

// Exposure bias 2, normalised so that the white point 11.2 maps to 1.
vec3 uncharted2_filmic(vec3 x)
{
    const float exposure_bias = 2.0;
    const vec3 W = vec3(11.2);
    return uncharted2_tonemap_partial(x * exposure_bias) / uncharted2_tonemap_partial(W);
}

// Extended Reinhard with a white level of 4: x (1 + x / 4^2) / (1 + x).
vec3 reinhard2(vec3 x)
{
    const float L_white = 4.0;
    return (x * (1.0 + x / (L_white * L_white))) / (1.0 + x);
}

// Pulls a colour towards its grey of equal luminance (Rec. 709 weights), the more the
// brighter it is: fully grey from luminance 1 up.
vec3 clamp_chroma(vec3 x)
{
    float l = dot(x, vec3(0.2126, 0.7152, 0.0722));
    float d = clamp(l, 0.0, 1.0);
    return max(mix(x, vec3(l), d), vec3(0.0));
}

vec3 DoTonemap(vec3 x)
{
    vec3 t = x;
    if (tonemapE == TONEMAP_MODE_ACES_FILMIC)
        t = aces_filmic(x);
    else if (tonemapE == TONEMAP_MODE_FILMIC)
        t = filmic(x);
    else if (tonemapE == TONEMAP_MODE_HABLE_FILMIC)
        t = uncharted2_filmic(x);
    else if (tonemapE == TONEMAP_MODE_REINHARD)
        t = x / (x + 1.0);
    else if (tonemapE == TONEMAP_MODE_REINHARD_2)
        t = reinhard2(x);
    else if (tonemapE == TONEMAP_MODE_CLAMP_CHROMA)
        t = clamp_chroma(x);
    return mix(x, t, clampMixF);
}

void main()
{
    vec3 T = texture(videoTexture, out_uvs).rgb;
    // The level sums may have stored an infinity on drivers that do not saturate half floats.
    if (halfFloatB == 1)
        T = min(T, vec3(65504.0));
    vec3 c = vec3(T.b, T.r, T.g);

    c *= exposure;

    if (tintMix > 0.0)
        c = DoTint(c);

    // A mix of 1 % or less is treated as no tone map at all.
    if (tonemapE >= TONEMAP_MODE_ACES_FILMIC && clampMixF > 0.01)
        c = DoTonemap(c);

    if (gammaCorrect == 1)
        c = pow(c, vec3(1.0 / custom_gammaF));

    // Screen blending cannot take values above 1; the cap comes after the gamma.
    if (blendMode == BLEND_MODE_SCREEN)
        c = min(c, vec3(1.0));

    if (halfFloatB == 1)
        c = min(c, vec3(65504.0));

    FragColour = c;
}
// end shader
