// One-pole envelope followers of the dynamics library.
//
// Times are in milliseconds, sample rates in hertz; both must be greater than 0 (checked, the
// process aborts otherwise; +infinity is allowed and makes a follower hold its state). A
// follower holds no signal state: the caller owns the state and passes it to process(), so one
// follower can drive any number of states. process() is inline and noexcept (BLEnvelopesInl.h)
// and is safe on the audio thread; the setters run exp() and belong off the per-sample path.
#pragma once

namespace VAZiro
{

// First-order lag: after getTime() ms of a constant input the remaining distance has shrunk
// to 1/e. The coefficient is exp(-1000 / (ms * rate)), kept valid for the current time and rate.
class SimpleEnvelope
{
public:
    SimpleEnvelope(double ms, double sampleRate);
    virtual ~SimpleEnvelope();

    virtual double getTime();
    virtual void setTime(double ms);
    virtual double getSampleRate();
    virtual void setSampleRate(double sampleRate);

    // state = (state - in) * coeff + in, in exactly this order.
    void process(double in, double& state) noexcept;
    // The same step with a coefficient held elsewhere (a copy of coefficient()).
    static double step(double in, double state, double coeff) noexcept;
    double coefficient() const noexcept { return m_coeff; }

protected:
    virtual void update();

    double m_sampleRate; // Hz
    double m_time;       // ms
    double m_coeff;      // per-sample pole
};

// Attack/release follower: the attack follower moves the state when the input is strictly
// greater than it; a tie or a NaN on either side uses the release follower. Both followers
// always run at the same sample rate.
class AttRelEnvelope
{
public:
    AttRelEnvelope(double attackTime, double releaseTime, double sampleRate);
    virtual ~AttRelEnvelope();

    virtual double getAttackTime();
    virtual void setAttackTime(double ms);
    virtual double getReleaseTime();
    virtual void setReleaseTime(double ms);
    virtual double getSampleRate();
    virtual void setSampleRate(double sampleRate);

    void process(double in, double& state) noexcept;
    // The same step with copies of the two coefficients.
    static double step(double in, double state, double attackCoeff, double releaseCoeff) noexcept;

protected:
    SimpleEnvelope m_attackEnvelope;
    SimpleEnvelope m_releaseEnvelope;
};

} // namespace VAZiro

#include "BLEnvelopesInl.h"
