// A slow, plain model of Kestrune's whole audio path, written from the formulas: the parameter
// mappings, the peak compressor and the block loop. The plug-in's tests run it beside the real
// module and compare every output sample bit for bit, so it shares no code with src/ and every
// rounding step is a statement of its own, in the order the arithmetic is defined.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "DynamicsReference.h"
#include "ParameterFacts.h"

namespace kref
{

// One instance of the effect as the host sees its audio: parameters, sample rate, resume, blocks.
struct ReferenceModel
{
    // What the host last set (after the clamp), and the engineering values mapped from it.
    float normalised[kParameterCount] = {};
    float attackMs = 0.0f;
    float releaseMs = 0.0f;
    float ratio = 0.0f;
    bool useSidechain = false;
    float thresholdDB = 0.0f;
    float makeupDB = 0.0f;

    double sampleRate = 44100.0;  // Hz
    dynref::Compressor dynamics;  // coefficients, threshold, slope and the running envelope

    // Lowest per-frame gain computed since construction (linear, makeup excluded): tells the
    // tests whether a run really compressed.
    double lowestGain = 1.0;

    ReferenceModel()
    {
        for (int index = 0; index < kParameterCount; index++)
            setParameter(index, defaultNormalised(index));
    }

    // Out-of-range values are clamped to 0..1; NaN and unknown indices change nothing.
    void setParameter(int index, float value)
    {
        if (index < 0 || index >= kParameterCount || std::isnan(value))
            return;
        if (value < 0.0f)
            value = 0.0f;
        if (value > 1.0f)
            value = 1.0f;
        normalised[index] = value;
        switch (index)
        {
        case kAttack: attackMs = attackMsFrom(value); break;
        case kRelease: releaseMs = releaseMsFrom(value); break;
        case kRatio: ratio = ratioFrom(value); break;
        case kUseSidechain: useSidechain = useSidechainFrom(value); break;
        case kThreshold: thresholdDB = thresholdDBFrom(value); break;
        case kMakeup: makeupDB = makeupDBFrom(value); break;
        default: break;
        }
        configureDynamics();
    }

    // The compressor holds times as coefficients and the ratio as the slope 1/R.
    void configureDynamics()
    {
        dynamics.setRate(static_cast<double>(attackMs), static_cast<double>(releaseMs), sampleRate);
        dynamics.thresholdDB = static_cast<double>(thresholdDB);
        dynamics.slope = 1.0 / static_cast<double>(ratio);
    }

    // Only a finite rate above 0 is taken; the envelope keeps its value either way.
    void setSampleRate(float rate)
    {
        if (!(std::isfinite(rate) && rate > 0.0f))
            return;
        sampleRate = static_cast<double>(rate);
        configureDynamics();
    }

    void resume() { dynamics.envelope = dynref::kOffset; }

    // The gain computer for one frame: advances the envelope and returns the linear gain.
    double gainForKey(double key)
    {
        const double gain = dynamics.gain(key);
        if (gain < lowestGain)
            lowestGain = gain;
        return gain;
    }

    // One block with the host's channel layout: inputs main L, main R, side L, side R; outputs
    // L, R. All reads of a frame come before its writes, so outputs may alias inputs.
    void process(const float* const* inputs, float* const* outputs, int frames)
    {
        if (frames <= 0)
            return;
        const double makeupFactor = dynref::toLin(static_cast<double>(makeupDB));
        const bool keyedBySidechain = useSidechain;
        for (int frame = 0; frame < frames; frame++)
        {
            const double in1 = static_cast<double>(inputs[0][frame]);
            const double in2 = static_cast<double>(inputs[1][frame]);
            double key;
            if (keyedBySidechain)
            {
                const double sc1 = static_cast<double>(inputs[2][frame]);
                const double sc2 = static_cast<double>(inputs[3][frame]);
                key = dynref::Compressor::link(sc1, sc2);
            }
            else
            {
                key = dynref::Compressor::link(in1, in2);
            }
            const double gain = gainForKey(key);
            const double compressed1 = in1 * gain;
            const double compressed2 = in2 * gain;
            const double out1 = compressed1 * makeupFactor;
            const double out2 = compressed2 * makeupFactor;
            outputs[0][frame] = static_cast<float>(out1);
            outputs[1][frame] = static_cast<float>(out2);
        }
    }
};

}  // namespace kref
