
// begin shader
#version 330
// One direction of a level's Gaussian blur: the width pass, then the height pass.
//
// Taps run from -STEPS to +STEPS steps of (strideX, strideY); a tap at i steps is weighted
// by getWeight(i / STEPS), so the kernel always spans [-1, 1] in normalised units whatever
// the tap count, and the sum of weights divides the result so a flat image stays flat.

in vec2 out_uvs;

uniform sampler2D videoTexture;
uniform float STEPS;            // taps on each side of the centre, at least 1
uniform float fadeMultiplier;   // the level's weight; used in the width pass only
uniform bool bypassB;           // debug views: copy instead of blurring
uniform bool isBlurWidthB;
uniform bool isAngleB;
uniform float strideX;          // texture-coordinate step between taps
uniform float strideY;
uniform bool is_glow_aberrationB;
uniform float redMultF;         // reach of each host channel, 1 = the level's own reach
uniform float greenMultF;
uniform float blueMultF;

out vec3 FragColour;

// A Gaussian in the normalised tap position x: exp(-x^2 / (2 sigma^2)) with variance
// sigma^2 = 0.06 (sigma about 0.245). The outermost taps, x = +-1, weigh
// exp(-1 / 0.12) = exp(-8.33), about 2.4e-4 of the centre tap, so the kernel has faded out
// by its ends and cutting it there leaves no visible edge.
float getWeight(float x)
{
    return exp(-0.5 * x * x / 0.06);
}

vec2 channelStep()
{
    if (isAngleB)
        return vec2(strideX, strideY);
    return isBlurWidthB ? vec2(strideX, 0.0) : vec2(0.0, strideY);
}

// Glow aberration blurs each channel on its own. The step length stays the level's; a
// multiplier above 1 adds taps (n = STEPS x m) and so reaches farther. When n is not whole
// the taps start at -n in whole steps and the last one lies at or below +n (for n = 4.8:
// -4.8, -3.8, ..., 4.2, ten taps). A multiplier of 0 still keeps three taps (n = 1).
//
// The taps at -n + k for k = 0 .. floor(2n) are all exact in float (each is a multiple of n's
// last bit and no larger than n), so counting k with an int gives the same taps, and the same
// positions, as stepping a float from -n by 1 would; llvmpipe runs the int loop much faster.
int tapCount(float n)
{
    return int(floor(2.0 * n)) + 1;
}

// One tap of one channel, summed in tap order so the result does not depend on the loop shape.
void addTap(inout float sum, inout float weights, float i, float n, vec2 s, int channel)
{
    float w = getWeight(i / n);
    sum += w * texture(videoTexture, out_uvs + i * s)[channel];
    weights += w;
}

// In working order r holds host green, g host blue and b host red. The three channels share
// one loop; each keeps its own taps and its own order of summation.
vec3 blurChannels()
{
    vec3 n = max(STEPS * vec3(greenMultF, blueMultF, redMultF), vec3(1.0));
    ivec3 count = ivec3(tapCount(n.r), tapCount(n.g), tapCount(n.b));
    int longest = max(count.r, max(count.g, count.b));
    vec2 s = channelStep();
    vec3 sum = vec3(0.0);
    vec3 weights = vec3(0.0);
    for (int k = 0; k < longest; ++k) {
        float fk = float(k);
        if (k < count.r)
            addTap(sum.r, weights.r, fk - n.r, n.r, s, 0);
        if (k < count.g)
            addTap(sum.g, weights.g, fk - n.g, n.g, s, 1);
        if (k < count.b)
            addTap(sum.b, weights.b, fk - n.b, n.b, s, 2);
    }
    return sum / weights;
}

void main()
{
    if (bypassB) {
        FragColour = texture(videoTexture, out_uvs).rgb;
        return;
    }

    vec3 c;
    if (!is_glow_aberrationB) {
        // STEPS is a whole tap count, so the taps lie at whole steps and the centre tap, at
        // weight getWeight(0) = 1, reads the texel at out_uvs itself: read it once, outside the
        // loops, and add it between the two halves to keep the order of summation.
        int taps = int(STEPS);
        float n = STEPS;
        vec2 s = vec2(strideX, strideY);
        vec3 sum = vec3(0.0);
        float weights = 0.0;
        for (int k = -taps; k < 0; ++k) {
            float i = float(k);
            float w = getWeight(i / n);
            sum += w * texture(videoTexture, out_uvs + i * s).rgb;
            weights += w;
        }
        sum += texture(videoTexture, out_uvs).rgb;
        weights += 1.0;
        for (int k = 1; k <= taps; ++k) {
            float i = float(k);
            float w = getWeight(i / n);
            sum += w * texture(videoTexture, out_uvs + i * s).rgb;
            weights += w;
        }
        c = sum / weights;
    } else {
        c = blurChannels();
    }

    // The level's weight is applied once, here in the width pass; the height pass blurs the
    // already weighted result.
    if (isBlurWidthB)
        c *= fadeMultiplier;

    FragColour = c;
}
// end shader
