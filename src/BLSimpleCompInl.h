// Per-sample bodies of the compressors; included by BLSimpleComp.h only.
// Audio-thread safe: no allocation, no lock; at most one log10 and one pow per frame (plus one
// sqrt for RMS).
#pragma once

#include "BLSimpleGain.h"

#include <cmath>
#include <limits>

namespace VAZiro
{

// Every step is rounded separately in this order; the output is reproducible against the
// formulas with the same maths library. The shortcuts below (quiet keys, unity factors) return
// what the skipped steps would have returned, exactly.
//
// Non-finite key policy: when the over-threshold amount is NaN or infinite (a NaN or infinite
// key, or a NaN threshold), the envelope is not advanced for this frame and the frame is scaled
// by the gain of the kept envelope. Advancing it would make the envelope NaN, and with it every
// later output until initRuntime(); skipping keeps one bad host sample from poisoning the stream.
inline double BLSimpleComp::overAmount(double level) const noexcept
{
    if (level < m_quietLevelLimit)
        return 0.0;
    const double keyDB = lin2dB(level);
    const double overDB = keyDB - m_thresholdDB;
    return overDB < 0.0 ? 0.0 : overDB;
}

// (m_ratioDB - 1) * (envelope - DC_OFFSET) is the reduction in dB; dB2lin divides it by 20.0.
inline double BLSimpleComp::exponentOf(double envelopeDB) const noexcept
{
    const double overDB = envelopeDB - DC_OFFSET;
    const double reductionDB = (m_ratioDB - 1.0) * overDB;
    return reductionDB / 20.0;
}

inline double BLSimpleComp::factorOf(double exponent) noexcept
{
    if (exponent >= kUnityExponentMin && exponent <= kUnityExponentMax)
        return 1.0;
    return std::pow(10.0, exponent);
}

inline void BLSimpleComp::process(double& in1, double& in2, double keyLinked) noexcept
{
    const double overDB = overAmount(keyLevel(keyLinked));
    if (std::isfinite(overDB))
        AttRelEnvelope::process(overDB + DC_OFFSET, m_envelopeDB);
    const double gain = factorOf(exponentOf(m_envelopeDB));
    in1 = in1 * gain;
    in2 = in2 * gain;
}

namespace detail
{

// The maths-library passes of the block gain computer. Each is a loop around one call with nothing
// else to keep, so nothing is saved and restored around the calls, and the calls of neighbouring
// frames overlap. Out of line on purpose: inlined, the compiler keeps the constants of the other
// passes in registers across these calls.
[[gnu::noinline]] inline void logarithms(const double* levels, double* out, int n) noexcept
{
#pragma GCC unroll 4
    for (int i = 0; i < n; i++)
        out[i] = std::log10(levels[i]);
}

// A quiet level's logarithm is taken as -infinity: the envelope pass turns it into -infinity dB
// over the threshold, which the clamp makes 0, the quiet level's amount (quiet levels exist only
// with a finite threshold).
[[gnu::noinline]] inline void logarithmsAboveQuiet(const double* levels, double* out, double quietLimit,
                                                   int n) noexcept
{
    for (int i = 0; i < n; i++)
        out[i] = (levels[i] < quietLimit) ? -HUGE_VAL : std::log10(levels[i]);
}

// What turns an envelope value into its factor: pow(base, slope * (envelope - offset) / divisor),
// base 10, offset DC_OFFSET, divisor 20 (exponentOf() and dB2lin()).
struct FactorTerms
{
    double base;
    double offset;
    double slope;
    double divisor;
};

// The factor of every envelope value, the power computed also where the unity range would answer
// 1.0: it gives 1.0 there too, and compressing frames never lie there. The terms are read through
// a pointer that the stores may alias, so each is taken from memory where it is used instead of
// being kept in a register that every call clobbers.
[[gnu::noinline]] inline void factorsOfEnvelopes(double* values, const FactorTerms* terms, int n) noexcept
{
#pragma GCC unroll 4
    for (int i = 0; i < n; i++)
        values[i] = std::pow(terms->base, terms->slope * (values[i] - terms->offset) / terms->divisor);
}

} // namespace detail

// Logarithms in; exponents out (kAnyLevels), or the envelope after each frame. Over amounts are
// >= 0 or NaN after the clamp, so "finite" is "at most the largest double".
template <bool kAnyLevels>
inline void BLSimpleComp::envelopePass(double* values, int n) noexcept
{
    const double thresholdDB = m_thresholdDB;
    const double slope = m_ratioDB - 1.0;
    const double attack = m_attackEnvelope.coefficient();
    const double release = m_releaseEnvelope.coefficient();
    double envelopeDB = m_envelopeDB;
    if (kAnyLevels)
    {
        for (int i = 0; i < n; i++)
        {
            double overDB = 20.0 * values[i] - thresholdDB;
            overDB = (0.0 > overDB) ? 0.0 : overDB;
            if (overDB <= std::numeric_limits<double>::max())
                envelopeDB = AttRelEnvelope::step(overDB + DC_OFFSET, envelopeDB, attack, release);
            values[i] = slope * (envelopeDB - DC_OFFSET) / 20.0;
        }
    }
    else
    {
        // Every amount finite, or the envelope ends NaN (see gains()). The clamp is taken after the
        // offset: a negative amount plus DC_OFFSET rounds to DC_OFFSET or below, any other to
        // DC_OFFSET or above, so max(amount + DC_OFFSET, DC_OFFSET) is the clamped amount plus
        // DC_OFFSET, and a NaN stays NaN. The attack follower takes the step exactly when
        // envelope - in is negative (the difference of two finite doubles has the sign of the
        // exact difference, and is +0 when they are equal), so the sign bit picks the coefficient.
        const double coefficients[2] = {release, attack};
#pragma GCC unroll 4
        for (int i = 0; i < n; i++)
        {
            const double overDB = 20.0 * values[i] - thresholdDB;
            const double offset = overDB + DC_OFFSET;
            const double in = (DC_OFFSET > offset) ? DC_OFFSET : offset;
            const double difference = envelopeDB - in;
            envelopeDB = difference * coefficients[std::signbit(difference)] + in;
            values[i] = envelopeDB;
        }
    }
    m_envelopeDB = envelopeDB;
}

// Passes over the whole block: the logarithms, the serial envelope, the powers. Only the envelope
// pass depends on the frame before, so the calls of the other two overlap.
//
// With loudLevels the envelope pass does not look for amounts that are not finite. A level that
// is not finite makes the envelope NaN for good (the clamp keeps a NaN amount; +infinity meets
// the attack follower as (e - inf) * c + inf); the envelope is then put back and the block done
// again with every check.
//
// Callers fill the first n levels of a larger scratch array; GCC, inlining this into them, cannot
// always see that and would warn that the passes read it uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
inline void BLSimpleComp::gains(const double* levels, double* gains, int n, bool loudLevels) noexcept
{
    if (loudLevels && std::isfinite(m_thresholdDB))
    {
        const double envelopeBefore = m_envelopeDB;
        detail::logarithms(levels, gains, n);
        envelopePass<false>(gains, n);
        if (std::isfinite(m_envelopeDB))
        {
            const detail::FactorTerms terms = {10.0, DC_OFFSET, m_ratioDB - 1.0, 20.0};
            detail::factorsOfEnvelopes(gains, &terms, n);
            return;
        }
        m_envelopeDB = envelopeBefore;
    }
    detail::logarithmsAboveQuiet(levels, gains, m_quietLevelLimit, n);
    envelopePass<true>(gains, n);
    for (int i = 0; i < n; i++)
        gains[i] = factorOf(gains[i]);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// A quiet frame feeds the envelope an amount of exactly DC_OFFSET (0 + DC_OFFSET). An envelope that
// such a frame leaves unchanged is settled: every frame gets its factor. A moving one gives one
// factor only while each frame's factor is 1.0, as in the end of a release. That is checked on the
// reduction: one within 20 * 2^-56 dB of 0 divides by 20 into the unity range (the quotient
// rounds monotonically and the ends divide exactly). The follower is picked by the sign of
// envelope - DC_OFFSET, as in the envelope pass; with a finite slope and envelope no reduction is
// NaN, so the largest one is a plain maximum (a NaN envelope would stay NaN to the end).
inline bool BLSimpleComp::quietGain(int n, double& gain) noexcept
{
    double envelopeDB = m_envelopeDB;
    AttRelEnvelope::process(DC_OFFSET, envelopeDB);
    if (envelopeDB == m_envelopeDB)
    {
        gain = factorOf(exponentOf(envelopeDB));
        return true;
    }
    static_assert(-kUnityExponentMin <= kUnityExponentMax, "the symmetric bound lies in the unity range");
    constexpr double kUnityReductionDB = 20.0 * -kUnityExponentMin;
    const double slope = m_ratioDB - 1.0;
    double aboveDB = envelopeDB - DC_OFFSET;
    double largestDB = std::fabs(slope * aboveDB);
    if (!(largestDB <= kUnityReductionDB))
        return false;
    const double coefficients[2] = {m_releaseEnvelope.coefficient(), m_attackEnvelope.coefficient()};
#pragma GCC unroll 4
    for (int i = 1; i < n; i++)
    {
        envelopeDB = aboveDB * coefficients[std::signbit(aboveDB)] + DC_OFFSET;
        aboveDB = envelopeDB - DC_OFFSET;
        const double reductionDB = std::fabs(slope * aboveDB);
        largestDB = (reductionDB > largestDB) ? reductionDB : largestDB;
    }
    if (!(largestDB <= kUnityReductionDB) || !std::isfinite(envelopeDB))
        return false;
    m_envelopeDB = envelopeDB;
    gain = 1.0;
    return true;
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
