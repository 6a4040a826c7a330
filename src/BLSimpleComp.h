// Feed-forward, stereo-linked, hard-knee compressor of the dynamics library, and its RMS variant.
//
// Levels are in dB, times in ms, sample rates in Hz, gains linear factors. The compressor smooths
// the amount by which the key exceeds the threshold in the dB domain, so the attack and release
// times are the times of the gain change. Setters and initRuntime() are virtual and belong off
// the per-sample path; the process() overloads are inline, noexcept and allocate nothing
// (BLSimpleCompInl.h).
#pragma once

#include "BLEnvelopes.h"

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

private:
    double m_thresholdDB;
    double m_ratioDB;    // dB per dB
    double m_envelopeDB; // smoothed over-threshold amount + DC_OFFSET
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
