// Per-sample bodies of the envelope followers; included by BLEnvelopes.h only.
// Audio-thread safe: no allocation, no call outside this file.
#pragma once

namespace VAZiro
{

inline double SimpleEnvelope::step(double in, double state, double coeff) noexcept
{
    return (state - in) * coeff + in;
}

inline void SimpleEnvelope::process(double in, double& state) noexcept
{
    state = step(in, state, m_coeff);
}

inline double AttRelEnvelope::step(double in, double state, double attackCoeff, double releaseCoeff) noexcept
{
    return SimpleEnvelope::step(in, state, (in > state) ? attackCoeff : releaseCoeff);
}

inline void AttRelEnvelope::process(double in, double& state) noexcept
{
    state = step(in, state, m_attackEnvelope.coefficient(), m_releaseEnvelope.coefficient());
}

} // namespace VAZiro
