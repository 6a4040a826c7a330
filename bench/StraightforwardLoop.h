// The audio path as it was written first, kept here as the baseline the benchmarks compare with:
// one frame at a time, a logarithm of the key and a power of the gain reduction in every frame,
// whatever the signal. Its output is the plug-in's bit for bit (the benchmark checks that), so
// the two do the same work and differ only in how.
#pragma once

#include <cmath>
#include <cstdint>

namespace kbench
{

class StraightforwardCompressor
{
public:
    // Settings in engineering units, as the plug-in holds them (floats, widened once).
    void configure(float attackMs, float releaseMs, float ratio, float thresholdDB, float makeupDB,
                   double sampleRate)
    {
        m_attackCoeff = std::exp(-1000.0 / (static_cast<double>(attackMs) * sampleRate));
        m_releaseCoeff = std::exp(-1000.0 / (static_cast<double>(releaseMs) * sampleRate));
        m_slope = 1.0 / static_cast<double>(ratio);
        m_thresholdDB = thresholdDB;
        m_makeup = std::pow(10.0, static_cast<double>(makeupDB) / 20.0);
    }

    void reset() { m_envelope = kOffset; }

    // Outputs may be the same memory as inputs: each frame is read before it is written.
    void process(const float* in1, const float* in2, const float* sc1, const float* sc2, float* out1,
                 float* out2, std::int32_t frames, bool useSidechain)
    {
        for (std::int32_t frame = 0; frame < frames; frame++)
        {
            double left = in1[frame];
            double right = in2[frame];
            double key1 = useSidechain ? sc1[frame] : left;
            double key2 = useSidechain ? sc2[frame] : right;
            const double rect1 = std::fabs(key1);
            const double rect2 = std::fabs(key2);
            const double gain = gainFor((rect1 < rect2) ? rect2 : rect1);
            left = left * gain;
            right = right * gain;
            out1[frame] = static_cast<float>(left * m_makeup);
            out2[frame] = static_cast<float>(right * m_makeup);
        }
    }

private:
    static constexpr double kOffset = 1e-25;

    double gainFor(double key)
    {
        key = std::fabs(key) + kOffset;
        double over = 20.0 * std::log10(key) - m_thresholdDB;
        if (over < 0.0)
            over = 0.0;
        if (std::isfinite(over))
        {
            over = over + kOffset;
            const double coeff = over > m_envelope ? m_attackCoeff : m_releaseCoeff;
            m_envelope = (m_envelope - over) * coeff + over;
        }
        const double reduction = (m_slope - 1.0) * (m_envelope - kOffset);
        return std::pow(10.0, reduction / 20.0);
    }

    double m_attackCoeff = 0.0;
    double m_releaseCoeff = 0.0;
    double m_slope = 1.0;
    double m_thresholdDB = 0.0;
    double m_makeup = 1.0;
    double m_envelope = kOffset;
};

}  // namespace kbench
