// The audio path of one block, shared by every plug-in edition of Kestrune: the settings a block
// runs with, how they reach the compressor, and the frame loop. Audio thread only: nothing here
// allocates, locks or waits.
#pragma once

#include "BLSimpleComp.h"

#include <cmath>
#include <cstdint>

namespace VAZiro
{

// The six settings in engineering units, as one block sees them.
struct KestruneSettings
{
    float attack;       // ms
    float release;      // ms
    float ratio;        // R of R:1
    bool useSidechain;  // key from the sidechain pair
    float threshold;    // dB
    float makeup;       // dB
};

// The compressor's settings and the block's makeup factor, kept up to date from KestruneSettings
// at the start of each block. A setting that did not change costs one comparison; one that did
// recomputes only its own coefficient. Owned by the audio thread.
class KestruneBlockState
{
public:
    // The compressor is configured with settings and sampleRate at once; its envelope is untouched.
    KestruneBlockState(BLSimpleComp& compressor, const KestruneSettings& settings, double sampleRate)
        : m_compressor(compressor), m_applied(settings), m_sampleRate(sampleRate),
          m_makeupGain(dB2lin(settings.makeup))
    {
        m_compressor.setSampleRate(sampleRate);
        m_compressor.setAttackTime(settings.attack);
        m_compressor.setReleaseTime(settings.release);
        m_compressor.setRatio(1.0 / static_cast<double>(settings.ratio));
        m_compressor.setThreshold(settings.threshold);
    }

    // Every value sent to the compressor is the float widened to double; the ratio goes as its
    // inverse, the slope above the threshold. sampleRate must be finite and above 0.
    void update(const KestruneSettings& settings, double sampleRate)
    {
        if (sampleRate != m_sampleRate)
        {
            m_sampleRate = sampleRate;
            m_compressor.setSampleRate(sampleRate);
        }
        if (settings.attack != m_applied.attack)
            m_compressor.setAttackTime(settings.attack);
        if (settings.release != m_applied.release)
            m_compressor.setReleaseTime(settings.release);
        if (settings.ratio != m_applied.ratio)
            m_compressor.setRatio(1.0 / static_cast<double>(settings.ratio));
        if (settings.threshold != m_applied.threshold)
            m_compressor.setThreshold(settings.threshold);
        if (settings.makeup != m_applied.makeup)
            m_makeupGain = dB2lin(settings.makeup);
        m_applied = settings;
    }

    const KestruneSettings& settings() const { return m_applied; }
    double makeupGain() const { return m_makeupGain; }
    BLSimpleComp& compressor() { return m_compressor; }

private:
    BLSimpleComp& m_compressor;
    KestruneSettings m_applied;
    double m_sampleRate;  // Hz
    double m_makeupGain;  // linear factor of m_applied.makeup
};

// Runs frames through the compressor with the state's current settings. sc1 and sc2 are read only
// when the sidechain keys the compressor. Every read of a frame comes before its writes, so an
// output may be the same memory as an input.
inline void processKestruneBlock(KestruneBlockState& state, const float* in1, const float* in2,
                                 const float* sc1, const float* sc2, float* out1, float* out2,
                                 std::int32_t frames) noexcept
{
    BLSimpleComp& compressor = state.compressor();
    const double gain = state.makeupGain();
    if (state.settings().useSidechain)
    {
        for (std::int32_t frame = 0; frame < frames; frame++)
        {
            double left = in1[frame];
            double right = in2[frame];
            double keyLeft = sc1[frame];
            double keyRight = sc2[frame];
            compressor.process(left, right, keyLeft, keyRight);
            out1[frame] = static_cast<float>(left * gain);
            out2[frame] = static_cast<float>(right * gain);
        }
    }
    else
    {
        for (std::int32_t frame = 0; frame < frames; frame++)
        {
            double left = in1[frame];
            double right = in2[frame];
            compressor.process(left, right);
            out1[frame] = static_cast<float>(left * gain);
            out2[frame] = static_cast<float>(right * gain);
        }
    }
}

// processKestruneBlock that also reports the lowest gain the compressor applied in the block
// (linear, makeup excluded; 1 when it applied none or frames is 0), for editions that meter the
// gain reduction. The compressor scales a probe of exactly 1.0 alongside the frame, which yields
// its factor without touching its state; the frame is then scaled by that factor as process()
// would have, so the audio is the same bit for bit.
inline double processKestruneBlockMetered(KestruneBlockState& state, const float* in1, const float* in2,
                                          const float* sc1, const float* sc2, float* out1, float* out2,
                                          std::int32_t frames) noexcept
{
    BLSimpleComp& compressor = state.compressor();
    const double makeup = state.makeupGain();
    const bool keyedBySidechain = state.settings().useSidechain;
    const float* key1 = keyedBySidechain ? sc1 : in1;
    const float* key2 = keyedBySidechain ? sc2 : in2;
    double lowest = 1.0;
    for (std::int32_t frame = 0; frame < frames; frame++)
    {
        const double left = in1[frame];
        const double right = in2[frame];
        // The key of the two-argument process() overloads: the larger magnitude, the first on a tie.
        const double rect1 = std::fabs(static_cast<double>(key1[frame]));
        const double rect2 = std::fabs(static_cast<double>(key2[frame]));
        const double link = (rect1 < rect2) ? rect2 : rect1;
        double gain = 1.0;
        double unused = 0.0;
        compressor.process(gain, unused, link);
        if (gain < lowest)
            lowest = gain;
        out1[frame] = static_cast<float>((left * gain) * makeup);
        out2[frame] = static_cast<float>((right * gain) * makeup);
    }
    return lowest;
}

}  // namespace VAZiro
