
// begin shader
#version 330
// First pass of a frame: turns the uploaded source into the glow input.
//
// The source texture holds the host's red, green, blue in r, g, b. From here up to the
// post-process every texture holds host green, blue, red in r, g, b (the working order);
// only the Glow Input view turns back to host order, because the frame ends with it.

in vec2 out_uvs;

uniform sampler2D videoTexture;
uniform float satBiasF;            // -1 to 1; negative favours grey pixels, positive saturated ones
uniform float threshold;           // 0 switches thresholding off
uniform float thresholdSmooth;     // half width of the smooth step, 0.001 to threshold
uniform float exposure;            // applied once, in the post-process, not here
uniform int gammaCorrect;
uniform float custom_gammaF;
uniform int blendModeE;
uniform int viewE;
uniform int aberration_modeE;
uniform vec2 aberration_amountF;   // pixel offset in texture coordinates of the output
uniform int simple_exposureB;      // always 1; no other exposure model exists
uniform int halfFloatB;            // 1: the target holds half floats, whose largest value is 65504

const int VIEW_INPUT = 2;
const int BLEND_MODE_SCREEN = 1;
const int BLEND_MODE_ADD = 2;
const int ABERRATION_MODE_NONE = 0;
const int ABERRATION_MODE_R_G = 1;
const int ABERRATION_MODE_R_B = 2;
const int ABERRATION_MODE_G_B = 3;

out vec3 FragColour;

// Saturation as (max - min) / max. Float pixels brighter than 1 are first brought into
// range by dividing the channels by their maximum while the maximum itself is kept, so
// (2, 2, 2) scores (2 - 1) / 2 = 0.5 rather than 0: a very bright grey still counts as
// somewhat saturated, while (1, 1, 1) scores 0.
float rgb2s(vec3 k)
{
    float m = max(k.r, max(k.g, k.b));
    if (m == 0.0)
        return 0.0;
    vec3 q = (m > 1.0) ? k / m : k;
    float n = min(q.r, min(q.g, q.b));
    return (m - n) / m;
}

void main()
{
    vec4 S = texture(videoTexture, out_uvs);
    vec3 c = vec3(S.g, S.b, S.r);

    // Each host channel is read from its own shifted position before thresholding, so the
    // threshold acts on every channel where it is finally shown.
    if (aberration_modeE != ABERRATION_MODE_NONE) {
        vec4 P = texture(videoTexture, out_uvs + aberration_amountF);
        vec4 M = texture(videoTexture, out_uvs - aberration_amountF);
        if (aberration_modeE == ABERRATION_MODE_R_G) {
            c.b = P.r;   // host red from the positive shift
            c.r = M.g;   // host green from the negative shift
        } else if (aberration_modeE == ABERRATION_MODE_R_B) {
            c.b = P.r;   // host red
            c.g = M.b;   // host blue
        } else {
            c.r = P.g;   // host green
            c.g = M.b;   // host blue
        }
    }

    // Float sources may carry negative values; they would darken the glow.
    c = max(c, vec3(0.0));

    if (threshold > 0.0) {
        vec3 k = c;
        float lo = threshold - thresholdSmooth;
        float hi = threshold + thresholdSmooth;
        // Each channel fades in over [lo, hi]: with the smallest smoothing (0.001) a channel
        // at the threshold itself keeps half its value.
        c *= smoothstep(vec3(lo), vec3(hi), c);
        if (satBiasF != 0.0) {
            float s = rgb2s(k);
            if (satBiasF < 0.0)
                s = 1.0 - s;
            k *= smoothstep(lo, hi, s);
            c = mix(c, k, abs(satBiasF));
        }
    }

    if (viewE == VIEW_INPUT) {
        // Shown as it is: host order, values above 1 kept, no gamma.
        FragColour = vec3(c.b, c.r, c.g);
        return;
    }

    // Screen blending cannot take values above 1; Add keeps them.
    if (blendModeE == BLEND_MODE_SCREEN)
        c = min(c, vec3(1.0));

    if (gammaCorrect == 1)
        c = pow(c, vec3(custom_gammaF));

    // A bright float source raised to the gamma passes the largest half float: some drivers would store
    // an infinity, which the tone maps turn into NaN. It saturates instead, as other drivers do.
    if (halfFloatB == 1)
        c = min(c, vec3(65504.0));

    FragColour = c;
}
// end shader
