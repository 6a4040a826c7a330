// Compressors: construction, parameters and runtime reset. Parameters are stored unchecked;
// only times and sample rates have preconditions, checked by the envelope followers.

#include "BLSimpleComp.h"

#include <cmath>
#include <limits>

namespace VAZiro
{

namespace
{

// The threshold level lowered by a relative 2^-20 (about 8e-6 dB). The logarithm and the product
// round to within a few ulps of levels of at most a few thousand dB, under 1e-12 dB, far inside
// that margin; the limit's top is still put through the exact computation. A NaN threshold and
// -infinity give no limit (0); +infinity gives +infinity, below which every finite level lies.
double quietLevelLimitFor(double thresholdDB)
{
    const double limit = dB2lin(thresholdDB) * (1.0 - 0x1p-20);
    if (!(limit > 0.0))
        return 0.0;
    const double top = std::isfinite(limit) ? std::nextafter(limit, 0.0) : std::numeric_limits<double>::max();
    if (lin2dB(top) - thresholdDB > 0.0)
        return 0.0;
    return limit;
}

} // namespace

BLSimpleComp::BLSimpleComp()
    : AttRelEnvelope(10.0, 100.0, 44100.0), m_thresholdDB(0.0), m_ratioDB(1.0),
      m_envelopeDB(DC_OFFSET), m_quietLevelLimit(quietLevelLimitFor(0.0))
{
}

BLSimpleComp::~BLSimpleComp() = default;

double BLSimpleComp::getThreshold() const
{
    return m_thresholdDB;
}

// Computes a power and a logarithm: once per change, not per frame.
void BLSimpleComp::setThreshold(double dB)
{
    m_thresholdDB = dB;
    m_quietLevelLimit = quietLevelLimitFor(dB);
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
