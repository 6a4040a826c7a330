// Envelope followers: construction, setters and the coefficient.
// Every check runs before anything is stored, so a failed one leaves the object unchanged;
// the lines of the checks appear in the failure message, so keep them where they are.

#include "BLEnvelopes.h"

#include "BLAssert.h"

#include <cmath>

namespace VAZiro
{

SimpleEnvelope::SimpleEnvelope(double ms, double sampleRate)
{
    BL_ASSERT(ms > 0.0);
    BL_ASSERT(sampleRate > 0.0);
    m_time = ms;
    m_sampleRate = sampleRate;
    SimpleEnvelope::update(); // not through the table: a subclass is not built yet
}

SimpleEnvelope::~SimpleEnvelope() = default;

double SimpleEnvelope::getTime()
{
    return m_time;
}

// Precondition: ms > 0.0. +infinity is accepted: the coefficient becomes 1.0 and the follower
// holds its state.
void SimpleEnvelope::setTime(double ms)
{
    BL_ASSERT(ms > 0.0);
    m_time = ms;
    update();
}

double SimpleEnvelope::getSampleRate()
{
    return m_sampleRate;
}

void SimpleEnvelope::setSampleRate(double sampleRate)
{
    BL_ASSERT(sampleRate > 0.0);
    m_sampleRate = sampleRate;
    update();
}

// Product first, then the division, then exp; an infinite time gives exactly 1.0.
void SimpleEnvelope::update()
{
    m_coeff = std::exp(-1000.0 / (m_time * m_sampleRate));
}

AttRelEnvelope::AttRelEnvelope(double attackTime, double releaseTime, double sampleRate)
    : m_attackEnvelope(attackTime, sampleRate), m_releaseEnvelope(releaseTime, sampleRate)
{
}

AttRelEnvelope::~AttRelEnvelope() = default;

double AttRelEnvelope::getAttackTime()
{
    return m_attackEnvelope.getTime();
}

void AttRelEnvelope::setAttackTime(double ms)
{
    m_attackEnvelope.setTime(ms);
}

double AttRelEnvelope::getReleaseTime()
{
    return m_releaseEnvelope.getTime();
}

void AttRelEnvelope::setReleaseTime(double ms)
{
    m_releaseEnvelope.setTime(ms);
}

double AttRelEnvelope::getSampleRate()
{
    return m_attackEnvelope.getSampleRate();
}

void AttRelEnvelope::setSampleRate(double sampleRate)
{
    m_attackEnvelope.setSampleRate(sampleRate);
    m_releaseEnvelope.setSampleRate(sampleRate);
}

} // namespace VAZiro
