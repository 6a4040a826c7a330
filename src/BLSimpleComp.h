// Feed-forward, stereo-linked, hard-knee compressor of the dynamics library, and its RMS variant.
//
// Levels are in dB, times in ms, sample rates in Hz, gains linear factors. The compressor smooths
// the amount by which the key exceeds the threshold in the dB domain, so the attack and release
// times are the times of the gain change. Setters and initRuntime() are virtual and belong off
// the per-sample path; the process() overloads are inline, noexcept and allocate nothing
// (BLSimpleCompInl.h).
#pragma once

#include "BLEnvelopes.h"

#include <cmath>

namespace VAZiro
{

// Added to the key before the logarithm (silence reads -500 dB, not -infinity) and to the
// smoothed amount; the rest value of every running envelope state.
constexpr double DC_OFFSET = 1e-25;

class BLSimpleComp : public AttRelEnvelope
{
public:
    // Attack 10 ms, release 100 ms, 44100 Hz, threshold 0 dB, slope 1 (no compression), at rest.
    BLSimpleComp();
    ~BLSimpleComp() override;

    virtual double getThreshold() const; // dB
    virtual void setThreshold(double dB);
    // Slope of output over input level above the threshold: 1/R for a ratio of R:1.
    virtual double getRatio() const;
    virtual void setRatio(double ratio);
    // Returns the envelope to rest; parameters and coefficients stay. Call when processing resumes.
    virtual void initRuntime();

    // Gain computer: scales in1 and in2 by one factor derived from |keyLinked|.
    void process(double& in1, double& in2, double keyLinked) noexcept;
    // Self-keyed: the key is the larger magnitude of the main pair.
    void process(double& in1, double& in2) noexcept;
    // Externally keyed: the key is the larger magnitude of sc1, sc2, which are only read.
    void process(double& in1, double& in2, double& sc1, double& sc2) noexcept;

    // Block forms of the gain computer. They give, bit for bit, the factors and the envelope that
    // the same frames give through process(in1, in2, key) one after the other, and only skip work
    // whose result is known exactly. A frame's level is its key as the gain computer measures it:
    // |key| + DC_OFFSET (keyLevel()).

    static double keyLevel(double keyLinked) noexcept { return std::fabs(keyLinked) + DC_OFFSET; }

    // The factor of each of n frames from its level, into gains (not the same memory as levels).
    // loudLevels takes every logarithm, quiet levels' included, in a pass without per-frame checks;
    // without it quiet levels skip theirs. Both give the same bits, so the caller chooses by
    // cost: the promise pays where few levels are quiet and the levels turn out finite.
    void gains(const double* levels, double* gains, int n, bool loudLevels = false) noexcept;
    // gains() for n frames whose levels are all below quietLevelLimit(): the envelope takes its rest
    // input without a level being read.
    void restGains(double* gains, int n) noexcept;
    // For n frames whose levels are all below quietLevelLimit(): when they all get one and the same
    // factor, advances the envelope past them, sets gain to that factor and returns true;
    // otherwise changes nothing and returns false (restGains() then does them).
    bool quietGain(int n, double& gain) noexcept;

    // Levels below this lie certainly under the threshold, so their over-threshold amount is 0
    // without a logarithm; from it up, and for NaN, the logarithm decides. Follows setThreshold();
    // at most DC_OFFSET (no level is below it) for thresholds near or below the -500 dB that
    // silence reads as, 0 for a NaN threshold.
    double quietLevelLimit() const { return m_quietLevelLimit; }

    // dB2lin(r) = pow(10, r / 20) is exactly 1.0 when r / 20 lies in [kUnityExponentMin,
    // kUnityExponentMax]: 10^x is within 0.3 ulp of 1.0 there, so the power is not computed. The
    // dynamics tests hold the maths library to it.
    static constexpr double kUnityExponentMin = -0x1p-56;
    static constexpr double kUnityExponentMax = 0x1p-55;

    // The gain law, one small function per step, shared by every pass: what the envelope is fed
    // for a level, how it moves, and the factor of where it stands.
    //
    // The envelope's input for a level given by its log10: the amount by which it exceeds the
    // threshold in dB, clamped at 0 from below, plus DC_OFFSET; NaN or infinite when the level or
    // the threshold makes it so. A quiet level's input is DC_OFFSET, the rest input.
    static double envelopeInput(double log10Level, double thresholdDB) noexcept;
    // One envelope step towards in, from difference = envelope - in, by the follower's coefficient.
    // Steps towards inputs >= DC_OFFSET from an envelope that starts there keep it >= DC_OFFSET.
    static double envelopeStep(double in, double difference, double coefficient) noexcept;
    // The follower's coefficient for a difference: followers holds the release coefficient, then the
    // attack one, which moves the envelope where in lies above it.
    static double followerOf(double difference, const double followers[2]) noexcept;

    // From an envelope value to its factor: pow(base, slope * (envelope - offset) / divisor).
    struct GainLaw
    {
        double slope;  // slope above the threshold - 1: the reduction per dB over it, <= 0
        double base = 10.0;
        double offset = DC_OFFSET;
        double divisor = 20.0;  // dB2lin()'s

        // The reduction in dB of an envelope aboveDB over its rest; <= 0 while compressing.
        double reductionOf(double aboveDB) const noexcept;
        // The exponent of the factor for an envelope value: its reduction / 20.
        double exponentOf(double envelopeDB) const noexcept;
        // The factor of an exponent.
        double powerOf(double exponent) const noexcept;
        // powerOf(), without the power where it is exactly 1.0.
        double factorOf(double exponent) const noexcept;
    };
    GainLaw gainLaw() const noexcept { return {m_ratioDB - 1.0}; }

private:
    // The envelope's input for one level: DC_OFFSET below quietLevelLimit() without a logarithm.
    double inputOf(double level) const noexcept;
    // Loud: every input finite, envelopes out. Checked: inputs that are not finite skipped,
    // exponents out. Rest: every input DC_OFFSET, nothing read, envelopes out.
    enum class Pass
    {
        Loud,
        Checked,
        Rest
    };
    template <Pass kPass>
    void envelopePass(double* values, int n) noexcept;

    double m_thresholdDB;
    double m_ratioDB;    // dB per dB
    double m_envelopeDB; // smoothed over-threshold amount + DC_OFFSET
    double m_quietLevelLimit; // see quietLevelLimit()
};

// The compressor keyed by a running mean square: the window follower averages the mean of the
// two squared main samples, and the key is its square root. The three followers (attack,
// release, window) always share one sample rate.
class BLSimpleRmsComp : public BLSimpleComp
{
public:
    // The base defaults plus a 5 ms window, at rest.
    BLSimpleRmsComp();
    ~BLSimpleRmsComp() override;

    void setSampleRate(double sampleRate) override;
    void initRuntime() override;
    virtual double getWindow(); // ms
    virtual void setWindow(double ms);

    // RMS-keyed gain computer. Hides the base overloads on purpose: through a BLSimpleComp
    // reference the peak computer runs.
    void process(double& in1, double& in2) noexcept;

private:
    SimpleEnvelope m_averager;
    double m_averageOfSquares;
};

} // namespace VAZiro

#include "BLSimpleCompInl.h"
