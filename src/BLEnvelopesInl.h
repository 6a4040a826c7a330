// Per-sample bodies of the envelope followers; included by BLEnvelopes.h only.
// Audio-thread safe: no allocation, no call outside this file.
#pragma once

namespace VAZiro
{

inline void SimpleEnvelope::process(double in, double& state) noexcept
{
    state = (state - in) * m_coeff + in;
}

inline void AttRelEnvelope::process(double in, double& state) noexcept
{
    if (in > state)
        m_attackEnvelope.process(in, state);
    else
        m_releaseEnvelope.process(in, state);
}

} // namespace VAZiro
