// Compressors: construction, parameters and runtime reset. Parameters are stored unchecked;
// only times and sample rates have preconditions, checked by the envelope followers.

#include "BLSimpleComp.h"

namespace VAZiro
{

BLSimpleComp::BLSimpleComp()
    : AttRelEnvelope(10.0, 100.0, 44100.0), m_thresholdDB(0.0), m_ratioDB(1.0),
      m_envelopeDB(DC_OFFSET)
{
}

BLSimpleComp::~BLSimpleComp() = default;

double BLSimpleComp::getThreshold() const
{
    return m_thresholdDB;
}

void BLSimpleComp::setThreshold(double dB)
{
    m_thresholdDB = dB;
}

double BLSimpleComp::getRatio() const
{
    return m_ratioDB;
}

void BLSimpleComp::setRatio(double ratio)
{
    m_ratioDB = ratio;
}

void BLSimpleComp::initRuntime()
{
    m_envelopeDB = DC_OFFSET;
}

BLSimpleRmsComp::BLSimpleRmsComp()
    : BLSimpleComp(), m_averager(5.0, 44100.0), m_averageOfSquares(DC_OFFSET)
{
}

BLSimpleRmsComp::~BLSimpleRmsComp() = default;

// Attack, release, then the window: the three followers keep one rate.
void BLSimpleRmsComp::setSampleRate(double sampleRate)
{
    BLSimpleComp::setSampleRate(sampleRate);
    m_averager.setSampleRate(sampleRate);
}

void BLSimpleRmsComp::initRuntime()
{
    BLSimpleComp::initRuntime();
    m_averageOfSquares = DC_OFFSET;
}

double BLSimpleRmsComp::getWindow()
{
    return m_averager.getTime();
}

void BLSimpleRmsComp::setWindow(double ms)
{
    m_averager.setTime(ms);
}

} // namespace VAZiro
