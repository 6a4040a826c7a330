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
// formulas with the same maths library. The shortcuts below (quiet keys, unity factors, rest
// inputs) return what the skipped steps would have returned, exactly. -ffp-contract=off (CMake)
// keeps each product and sum of the law below rounded on its own: a fused multiply-add would
// change the bits.
//
// Non-finite key policy: when the over-threshold amount is NaN or infinite (a NaN or infinite
// key, or a NaN threshold), the envelope is not advanced for this frame and the frame is scaled
// by the gain of the kept envelope. Advancing it would make the envelope NaN, and with it every
// later output until initRuntime(); skipping keeps one bad host sample from poisoning the stream.

// --- the gain law: every pass and the per-frame path go through these ---------------------------

// max(amount + DC_OFFSET, DC_OFFSET) is the clamped amount plus DC_OFFSET: a negative amount plus
// DC_OFFSET rounds to DC_OFFSET or below, any other to DC_OFFSET or above, and a NaN stays NaN.
// Clamped after the offset, the clamp is one maxsd; before it, GCC branches on the sign.
inline double BLSimpleComp::envelopeInput(double log10Level, double thresholdDB) noexcept
{
    const double overDB = 20.0 * log10Level - thresholdDB;
    const double in = overDB + DC_OFFSET;
    return (DC_OFFSET > in) ? DC_OFFSET : in;
}

inline double BLSimpleComp::envelopeStep(double in, double difference, double coefficient) noexcept
{
    return difference * coefficient + in;
}

// A difference of two finite doubles has the sign of the exact one and is +0 when they are equal,
// so this is AttRelEnvelope's choice (attack only when in lies strictly above) without a branch.
// Where either side is NaN or infinite the step gives NaN with either follower.
inline double BLSimpleComp::followerOf(double difference, const double followers[2]) noexcept
{
    return followers[std::signbit(difference)];
}

inline double BLSimpleComp::GainLaw::reductionOf(double aboveDB) const noexcept
{
    return slope * aboveDB;
}

inline double BLSimpleComp::GainLaw::exponentOf(double envelopeDB) const noexcept
{
    return reductionOf(envelopeDB - offset) / divisor;
}

inline double BLSimpleComp::GainLaw::powerOf(double exponent) const noexcept
{
    return std::pow(base, exponent);
}

inline double BLSimpleComp::GainLaw::factorOf(double exponent) const noexcept
{
    if (exponent >= kUnityExponentMin && exponent <= kUnityExponentMax)
        return 1.0;
    return powerOf(exponent);
}

inline double BLSimpleComp::inputOf(double level) const noexcept
{
    if (level < m_quietLevelLimit)
        return DC_OFFSET;
    return envelopeInput(std::log10(level), m_thresholdDB);
}

inline void BLSimpleComp::process(double& in1, double& in2, double keyLinked) noexcept
{
    const double in = inputOf(keyLevel(keyLinked));
    if (in <= std::numeric_limits<double>::max())
    {
        const double followers[2] = {m_releaseEnvelope.coefficient(), m_attackEnvelope.coefficient()};
        const double difference = m_envelopeDB - in;
        m_envelopeDB = envelopeStep(in, difference, followerOf(difference, followers));
    }
    const GainLaw law = gainLaw();
    const double gain = law.factorOf(law.exponentOf(m_envelopeDB));
    in1 = in1 * gain;
    in2 = in2 * gain;
}

namespace detail
{

// The maths-library passes of the block gain computer. Each is a loop around one call with nothing
// else to keep, so nothing is saved and restored around the calls, and the calls of neighbouring
// frames overlap. Out of line on purpose: inlined, the compiler keeps the constants of the other
// passes in registers across these calls. -fno-plt (CMake) makes each call go straight through the
// GOT, without the extra jump of a PLT stub.
[[gnu::noinline]] inline void logarithms(const double* levels, double* out, int n) noexcept
{
    // Four calls in flight per iteration: the loop's own counting is a quarter of what it was.
#pragma GCC unroll 4
    for (int i = 0; i < n; i++)
        out[i] = std::log10(levels[i]);
}

// A quiet level's logarithm is taken as -infinity: the envelope pass turns it into -infinity dB
// over the threshold, which the clamp makes 0, the quiet level's amount.
[[gnu::noinline]] inline void logarithmsAboveQuiet(const double* levels, double* out, double quietLimit,
                                                   int n) noexcept
{
    for (int i = 0; i < n; i++)
        out[i] = (levels[i] < quietLimit) ? -HUGE_VAL : std::log10(levels[i]);
}

// The factor of every envelope value, the power computed also where the unity range would answer
// 1.0: it gives 1.0 there too, and compressing frames never lie there. The law is read through a
// pointer that the stores may alias, so each of its terms is taken from memory where it is used
// instead of being kept in a register that every call clobbers.
[[gnu::noinline]] inline void factorsOfEnvelopes(double* values, const BLSimpleComp::GainLaw* law, int n) noexcept
{
    // As in logarithms(): the counting of four frames in one.
#pragma GCC unroll 4
    for (int i = 0; i < n; i++)
        values[i] = law->powerOf(law->exponentOf(values[i]));
}

} // namespace detail

// Logarithms in (none for the rest pass); the envelope after each frame out, or its exponent
// (checked pass, whose factors skip the power where they are 1.0). The three passes differ only
// in what they skip: the loud pass the check for inputs that are not finite, the rest pass the
// logarithms, whose inputs it knows are DC_OFFSET, and the choice of the follower: the envelope
// never falls below DC_OFFSET, so the rest input never lies above it and the release moves it.
// Inputs are >= DC_OFFSET or NaN after the clamp, so "finite" is "at most the largest double".
template <BLSimpleComp::Pass kPass>
inline void BLSimpleComp::envelopePass(double* values, int n) noexcept
{
    const double thresholdDB = m_thresholdDB;
    const GainLaw law = gainLaw();
    const double followers[2] = {m_releaseEnvelope.coefficient(), m_attackEnvelope.coefficient()};
    double envelopeDB = m_envelopeDB;
    // The serial chain is a few instructions per frame; four frames per iteration cut the loop's
    // own counting to a quarter.
#pragma GCC unroll 4
    for (int i = 0; i < n; i++)
    {
        const double in = (kPass == Pass::Rest) ? DC_OFFSET : envelopeInput(values[i], thresholdDB);
        const double difference = envelopeDB - in;
        const double follower = (kPass == Pass::Rest) ? followers[0] : followerOf(difference, followers);
        const double stepped = envelopeStep(in, difference, follower);
        // A select, not a branch: a branch here makes GCC branch on the clamp too.
        envelopeDB = (kPass != Pass::Checked || in <= std::numeric_limits<double>::max()) ? stepped : envelopeDB;
        values[i] = (kPass == Pass::Checked) ? law.exponentOf(envelopeDB) : envelopeDB;
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
        envelopePass<Pass::Loud>(gains, n);
        if (std::isfinite(m_envelopeDB))
        {
            const GainLaw law = gainLaw();
            detail::factorsOfEnvelopes(gains, &law, n);
            return;
        }
        m_envelopeDB = envelopeBefore;
    }
    detail::logarithmsAboveQuiet(levels, gains, m_quietLevelLimit, n);
    envelopePass<Pass::Checked>(gains, n);
    const GainLaw law = gainLaw();
    for (int i = 0; i < n; i++)
        gains[i] = law.factorOf(gains[i]);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Where the gain reaches 1.0 the power gives 1.0 too, so no frame needs the unity range here.
inline void BLSimpleComp::restGains(double* gains, int n) noexcept
{
    envelopePass<Pass::Rest>(gains, n);
    const GainLaw law = gainLaw();
    detail::factorsOfEnvelopes(gains, &law, n);
}

// A quiet frame feeds the envelope an amount of exactly DC_OFFSET (0 + DC_OFFSET). An envelope that
// such a frame leaves unchanged is settled: every frame gets its factor. A moving one gives one
// factor only while each frame's factor is 1.0, as in the end of a release. That is checked on the
// reduction: one within 20 * 2^-56 dB of 0 divides by 20 into the unity range (the quotient
// rounds monotonically and the ends divide exactly). With a finite slope and envelope no
// reduction is NaN, so the largest one is a plain maximum (a NaN envelope would stay NaN to the
// end). The envelope's distance from DC_OFFSET is both the next step's difference and what the
// reduction is taken of, so it is computed once per frame. Out of line: inlined into the block
// code, it leaves GCC too few registers for the scaling loops, which then go through the stack.
[[gnu::noinline]] inline bool BLSimpleComp::quietGain(int n, double& gain) noexcept
{
    // The rest input never lies above the envelope: the release moves it (see envelopePass()).
    const double release = m_releaseEnvelope.coefficient();
    const GainLaw law = gainLaw();
    double envelopeDB = envelopeStep(DC_OFFSET, m_envelopeDB - DC_OFFSET, release);
    if (envelopeDB == m_envelopeDB)
    {
        gain = law.factorOf(law.exponentOf(envelopeDB));
        return true;
    }
    static_assert(-kUnityExponentMin <= kUnityExponentMax, "the symmetric bound lies in the unity range");
    constexpr double kUnityReductionDB = 20.0 * -kUnityExponentMin;
    double aboveDB = envelopeDB - DC_OFFSET;
    double largestDB = std::fabs(law.reductionOf(aboveDB));
    if (!(largestDB <= kUnityReductionDB))
        return false;
    // As in the envelope pass: the counting of four frames in one.
#pragma GCC unroll 4
    for (int i = 1; i < n; i++)
    {
        envelopeDB = envelopeStep(DC_OFFSET, aboveDB, release);
        aboveDB = envelopeDB - DC_OFFSET;
        const double reductionDB = std::fabs(law.reductionOf(aboveDB));
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
