// A plain reference model of the dynamics library, written from the formulas and independent of
// the classes under test: the dynamics tests compare the library against it frame by frame, bit for
// bit, and the model of the whole audio path (ReferenceModel.h) runs its gain computer. Clarity
// over speed; every step is a separate statement so the rounding order is visible.
#pragma once

#include <cmath>

namespace dynref
{

constexpr double kOffset = 1e-25; // the library's DC_OFFSET, restated on purpose

// exp(-1000 / (ms * rate)): product, quotient, exp.
inline double coefficient(double ms, double sampleRate)
{
    const double product = ms * sampleRate;
    const double quotient = -1000.0 / product;
    return std::exp(quotient);
}

// One-pole step: difference, product, sum.
inline double onePole(double state, double in, double coeff)
{
    const double difference = state - in;
    const double product = difference * coeff;
    return product + in;
}

inline double toDB(double lin)
{
    const double l = std::log10(lin);
    return 20.0 * l;
}

inline double toLin(double dB)
{
    const double exponent = dB / 20.0;
    return std::pow(10.0, exponent);
}

// The peak gain computer with the non-finite policy: a non-finite over amount leaves the envelope
// where it is for that frame.
struct Compressor
{
    double attackCoeff = coefficient(10.0, 44100.0);
    double releaseCoeff = coefficient(100.0, 44100.0);
    double thresholdDB = 0.0;
    double slope = 1.0;
    double envelope = kOffset;

    void setRate(double attackMs, double releaseMs, double sampleRate)
    {
        attackCoeff = coefficient(attackMs, sampleRate);
        releaseCoeff = coefficient(releaseMs, sampleRate);
    }

    // The linear gain for this frame; advances the envelope.
    double gain(double key)
    {
        double k = std::fabs(key);
        k = k + kOffset;
        double over = toDB(k) - thresholdDB;
        if (over < 0.0)
            over = 0.0;
        if (std::isfinite(over))
        {
            over = over + kOffset;
            const double c = (over > envelope) ? attackCoeff : releaseCoeff;
            envelope = onePole(envelope, over, c);
        }
        const double amount = envelope - kOffset;
        const double gainDB = (slope - 1.0) * amount;
        return toLin(gainDB);
    }

    static double link(double a, double b)
    {
        const double ra = std::fabs(a);
        const double rb = std::fabs(b);
        return (ra < rb) ? rb : ra;
    }
};

// The RMS variant: the window follower averages the mean of the two squares; the key is the root.
struct RmsCompressor
{
    Compressor peak;
    double windowCoeff = coefficient(5.0, 44100.0);
    double average = kOffset;

    double gain(double in1, double in2)
    {
        const double square1 = in1 * in1;
        const double square2 = in2 * in2;
        const double sum = square1 + square2;
        const double meanSquare = sum / 2.0;
        if (std::isfinite(meanSquare))
            average = onePole(average, meanSquare, windowCoeff);
        return peak.gain(std::sqrt(average));
    }
};

} // namespace dynref
