// Per-sample bodies of the compressors; included by BLSimpleComp.h only.
// Audio-thread safe: no allocation, no lock; one log10, one pow per frame (plus one sqrt for RMS).
#pragma once

#include "BLSimpleGain.h"

#include <cmath>

namespace VAZiro
{

// Every step is rounded separately in this order; the output is reproducible against the
// formulas with the same maths library.
//
// Non-finite key policy: when the over-threshold amount is NaN or infinite (a NaN or infinite
// key, or a NaN threshold), the envelope is not advanced for this frame and the frame is scaled
// by the gain of the kept envelope. Advancing it would make the envelope NaN, and with it every
// later output until initRuntime(); skipping keeps one bad host sample from poisoning the stream.
inline void BLSimpleComp::process(double& in1, double& in2, double keyLinked) noexcept
{
    keyLinked = std::fabs(keyLinked);
    keyLinked = keyLinked + DC_OFFSET;
    const double keyDB = lin2dB(keyLinked);
    double overDB = keyDB - m_thresholdDB;
    if (overDB < 0.0)
        overDB = 0.0;
    if (std::isfinite(overDB))
    {
        overDB = overDB + DC_OFFSET;
        AttRelEnvelope::process(overDB, m_envelopeDB);
    }
    overDB = m_envelopeDB - DC_OFFSET;
    double gainReduction = (m_ratioDB - 1.0) * overDB; // dB, <= 0 while compressing
    gainReduction = dB2lin(gainReduction);
    in1 = in1 * gainReduction;
    in2 = in2 * gainReduction;
}

// The second magnitude wins only if the first compares strictly less: a tie or a NaN keeps the
// first.
inline void BLSimpleComp::process(double& in1, double& in2) noexcept
{
    const double rect1 = std::fabs(in1);
    const double rect2 = std::fabs(in2);
    const double link = (rect1 < rect2) ? rect2 : rect1;
    process(in1, in2, link);
}

inline void BLSimpleComp::process(double& in1, double& in2, double& sc1, double& sc2) noexcept
{
    const double rect1 = std::fabs(sc1);
    const double rect2 = std::fabs(sc2);
    const double link = (rect1 < rect2) ? rect2 : rect1;
    process(in1, in2, link);
}

// meanSquare = (in1 * in1 + in2 * in2) / 2.0: both squares, their sum, then the division.
// Same policy as the gain computer: a non-finite mean square (NaN, infinity, or squares that
// overflow) does not advance the average, and the key is that of the kept average.
inline void BLSimpleRmsComp::process(double& in1, double& in2) noexcept
{
    const double meanSquare = (in1 * in1 + in2 * in2) / 2.0;
    if (std::isfinite(meanSquare))
        m_averager.process(meanSquare, m_averageOfSquares);
    const double key = std::sqrt(m_averageOfSquares);
    BLSimpleComp::process(in1, in2, key);
}

} // namespace VAZiro
