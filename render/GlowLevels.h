// The glow level chain of the "Exponential" mode: how many levels, the size, blur radius, taps and weight of
// each. The chain is built once per render from the settings record and read by the pass chains.
#pragma once

struct myParams;

// One level of the chain.
struct bloomMip {
    float scale = 0;      // size relative to the output world
    int width = 0;        // ceil(scale * output width)
    int height = 0;       // ceil(scale * output height)
    int tapsX = 0;        // taps on each side of the centre in the x pass, at least 1
    int tapsY = 0;
    float strideX = 0;    // texture-coordinate step between two x taps
    float strideY = 0;
    float radius = 0;     // blur radius in level pixels
    double radiusX = 0;   // radius times the x aspect multiplier
    double radiusY = 0;
    float weight = 0;     // the level's fade multiplier, 0 to 1
};

// Builds p->bloomMips from baseRadius, downsampleX, maxGlowLevels, quality, resolutionScale,
// stepsMultiplier, aspectMultipliers and the output world's size; rewrites maxGlowLevels (the level count),
// baseRadius (level 0's radius before scaling) and, for "Extreme", quality (to 8). Always returns 0.
int CalcBloomDownsampleDims(myParams* p);

// clamp((x - e0) / (e1 - e0), 0, 1): the ramp of the level weights.
float GetWeight(float e0, float e1, float x);

// floor(log2(min(a, b) / d)) with the integer division done first; 0 when the quotient is below 1 (an
// output smaller than d pixels), where the logarithm has no integer value.
int calculateSafeIterations(int a, int b, int d);
