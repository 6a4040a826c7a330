// The RMS compressor BLSimpleRmsComp: settings, resets, dispatch through the base class and its
// RMS gain computer against closed forms and the reference model.

#include "BLSimpleComp.h"
#include "AbortExit.h"
#include "FailedCheck.h"
#include "DynamicsReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using VAZiro::BLSimpleComp;
using VAZiro::BLSimpleRmsComp;

namespace
{

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kPi = std::acos(-1.0);

struct Pair
{
    double a, b;
};

// Bursts of a deterministic noisy pair alternating with quiet stretches: the window, attack and
// release followers all work.
std::vector<Pair> testSignal(int frames)
{
    std::vector<Pair> signal(frames);
    double x = 0.31;
    for (int i = 0; i < frames; ++i)
    {
        x = std::fmod(x * 3.7 + 0.219, 1.0);
        const double level = ((i / 500) % 2 == 0) ? 1.5 : 0.02;
        signal[i] = {level * (x - 0.5), level * (0.5 - x * x)};
    }
    return signal;
}

// Runs the signal through both and asserts bit-identical outputs; returns the first output of
// every frame.
std::vector<double> runAgainstReference(BLSimpleRmsComp& comp, dynref::RmsCompressor& ref,
                                        const std::vector<Pair>& signal)
{
    std::vector<double> out;
    for (size_t i = 0; i < signal.size(); ++i)
    {
        double in1 = signal[i].a;
        double in2 = signal[i].b;
        comp.process(in1, in2);
        const double g = ref.gain(signal[i].a, signal[i].b);
        EXPECT_EQ(in1, signal[i].a * g) << "frame " << i;
        EXPECT_EQ(in2, signal[i].b * g) << "frame " << i;
        if (in1 != signal[i].a * g || in2 != signal[i].b * g)
            break; // one report is enough
        out.push_back(in1);
    }
    return out;
}

std::vector<double> run(BLSimpleRmsComp& comp, const std::vector<Pair>& signal)
{
    std::vector<double> out;
    for (const Pair& p : signal)
    {
        double in1 = p.a;
        double in2 = p.b;
        comp.process(in1, in2);
        out.push_back(in1);
    }
    return out;
}

// Makes the key readable from the output: attack and release so short that their coefficients
// underflow to 0 (the envelope equals the over amount every frame), slope 0 and a threshold far
// below the key, so gain = 10^((T - keyDB) / 20) and key = 10^(T / 20) / gain.
constexpr double kProbeThresholdDB = -80.0;

void makeKeyReadable(BLSimpleRmsComp& comp)
{
    comp.setAttackTime(1e-6);
    comp.setReleaseTime(1e-6);
    comp.setRatio(0.0);
    comp.setThreshold(kProbeThresholdDB);
}

double keyFromSample(double in, double out)
{
    return dynref::toLin(kProbeThresholdDB) * in / out;
}

} // namespace

TEST(RmsCompressorTest, Defaults)
{
    BLSimpleRmsComp comp;
    EXPECT_EQ(comp.getWindow(), 5.0);
    EXPECT_EQ(comp.getAttackTime(), 10.0);
    EXPECT_EQ(comp.getReleaseTime(), 100.0);
    EXPECT_EQ(comp.getSampleRate(), 44100.0);
    EXPECT_EQ(comp.getThreshold(), 0.0);
    EXPECT_EQ(comp.getRatio(), 1.0);
}

// The default 5 ms window at 44100 Hz, with the other followers at their defaults; the reference
// runs with the published coefficient.
TEST(RmsCompressorTest, DefaultWindowMatchesTheReference)
{
    BLSimpleRmsComp comp;
    comp.setThreshold(-24.0);
    comp.setRatio(0.25);
    dynref::RmsCompressor ref;
    ref.peak.thresholdDB = -24.0;
    ref.peak.slope = 0.25;
    EXPECT_NEAR(ref.windowCoeff, 0.9954751208601006, 5e-17);
    runAgainstReference(comp, ref, testSignal(6000));
}

// A new rate moves all three coefficients: the output matches a reference at 48 kHz throughout,
// and differs from references that leave either the window or the attack/release followers at
// 44.1 kHz.
TEST(RmsCompressorTest, SampleRateChangesAllThreeCoefficients)
{
    BLSimpleRmsComp comp;
    comp.setThreshold(-24.0);
    comp.setRatio(0.25);
    comp.setSampleRate(48000.0);
    EXPECT_EQ(comp.getSampleRate(), 48000.0);
    EXPECT_EQ(comp.getWindow(), 5.0);

    auto reference = [](bool window48k, bool attRel48k) {
        dynref::RmsCompressor ref;
        ref.peak.thresholdDB = -24.0;
        ref.peak.slope = 0.25;
        ref.windowCoeff = dynref::coefficient(5.0, window48k ? 48000.0 : 44100.0);
        ref.peak.setRate(10.0, 100.0, attRel48k ? 48000.0 : 44100.0);
        return ref;
    };
    dynref::RmsCompressor all = reference(true, true);
    EXPECT_EQ(all.windowCoeff, std::exp(-1.0 / 240.0));
    EXPECT_NEAR(all.windowCoeff, 0.99584200184511, 5e-15); // 14 digits published

    const std::vector<Pair> signal = testSignal(6000);
    const std::vector<double> out = runAgainstReference(comp, all, signal);
    ASSERT_EQ(out.size(), signal.size());

    for (bool windowMoved : {false, true})
    {
        dynref::RmsCompressor stale = reference(windowMoved, !windowMoved);
        bool differs = false;
        for (size_t i = 0; i < signal.size(); ++i)
            differs = differs || out[i] != signal[i].a * stale.gain(signal[i].a, signal[i].b);
        EXPECT_TRUE(differs) << (windowMoved ? "attack/release" : "window") << " left at 44.1 kHz";
    }
}

TEST(RmsCompressorTest, SetWindowRecomputesItsCoefficient)
{
    BLSimpleRmsComp comp;
    comp.setThreshold(-30.0);
    comp.setRatio(0.5);
    comp.setWindow(50.0);
    EXPECT_EQ(comp.getWindow(), 50.0);
    dynref::RmsCompressor ref;
    ref.peak.thresholdDB = -30.0;
    ref.peak.slope = 0.5;
    ref.windowCoeff = dynref::coefficient(50.0, 44100.0);
    runAgainstReference(comp, ref, testSignal(4000));
}

// initRuntime resets the envelope and the average: the same input gives the same output again.
// Resetting only the base envelope would not.
TEST(RmsCompressorTest, InitRuntimeResetsBothStatesAndKeepsSettings)
{
    BLSimpleRmsComp comp;
    comp.setThreshold(-20.0);
    comp.setRatio(0.3);
    comp.setWindow(20.0);
    comp.setAttackTime(2.0);
    comp.setReleaseTime(50.0);
    const std::vector<Pair> signal = testSignal(3000);
    const std::vector<double> first = run(comp, signal);

    BLSimpleRmsComp baseOnly = comp; // same settings and states
    comp.initRuntime();
    EXPECT_EQ(comp.getWindow(), 20.0);
    EXPECT_EQ(comp.getAttackTime(), 2.0);
    EXPECT_EQ(comp.getReleaseTime(), 50.0);
    EXPECT_EQ(comp.getThreshold(), -20.0);
    EXPECT_EQ(comp.getRatio(), 0.3);
    EXPECT_EQ(comp.getSampleRate(), 44100.0);
    EXPECT_EQ(run(comp, signal), first);

    baseOnly.BLSimpleComp::initRuntime();
    EXPECT_NE(run(baseOnly, signal), first) << "the average must matter for this check";
}

// Through a BLSimpleComp reference the overridden setSampleRate and initRuntime run, while the
// non-virtual process is the base's peak gain computer.
TEST(RmsCompressorTest, DrivenThroughTheBaseClass)
{
    BLSimpleRmsComp rms;
    BLSimpleComp& base = rms;
    base.setThreshold(-24.0);
    base.setRatio(0.25);
    base.setSampleRate(48000.0);

    dynref::RmsCompressor ref;
    ref.peak.thresholdDB = -24.0;
    ref.peak.slope = 0.25;
    ref.peak.setRate(10.0, 100.0, 48000.0);
    ref.windowCoeff = dynref::coefficient(5.0, 48000.0);
    const std::vector<Pair> signal = testSignal(3000);
    const std::vector<double> first = runAgainstReference(rms, ref, signal);

    base.initRuntime();
    EXPECT_EQ(run(rms, signal), first);

    base.initRuntime();
    BLSimpleComp peak;
    peak.setThreshold(-24.0);
    peak.setRatio(0.25);
    peak.setSampleRate(48000.0);
    for (size_t i = 0; i < signal.size(); ++i)
    {
        double a1 = signal[i].a;
        double a2 = signal[i].b;
        base.process(a1, a2);
        double b1 = signal[i].a;
        double b2 = signal[i].b;
        peak.process(b1, b2);
        ASSERT_EQ(a1, b1) << "frame " << i;
        ASSERT_EQ(a2, b2) << "frame " << i;
    }
}

// A constant pair (a, b): the average converges to the mean square (a^2 + b^2) / 2.
TEST(RmsCompressorTest, ConstantPairGivesTheRootMeanSquare)
{
    for (Pair p : {Pair{0.5, 0.5}, Pair{0.6, -0.8}, Pair{0.3, 0.0}, Pair{-1.0, 2.0}})
    {
        BLSimpleRmsComp comp;
        makeKeyReadable(comp);
        double out1 = 0.0;
        for (int i = 0; i < 22050; ++i) // 100 window time constants: the transient is gone
        {
            out1 = p.a;
            double out2 = p.b;
            comp.process(out1, out2);
        }
        const double expected = std::sqrt((p.a * p.a + p.b * p.b) / 2.0);
        // A handful of roundings in the average, log10 and pow: relative 1e-12 is ample.
        EXPECT_NEAR(keyFromSample(p.a, out1) / expected, 1.0, 1e-12)
            << "pair " << p.a << ", " << p.b;
    }
}

// Steady sine of amplitude A on both channels: the mean square is A^2/2 - (A^2/2) cos(2wn). The
// window follower passes the constant part unchanged and the ripple at 2w with the gain
// h = (1 - c) / |1 - c e^(-2jw)|, so the key stays within A/sqrt(2) * sqrt(1 -+ h) and its square
// averages to A^2/2 over whole periods of the ripple.
TEST(RmsCompressorTest, SteadySineKeySettlesAtAmplitudeOverRootTwo)
{
    const double amplitude = 0.5;
    const double frequency = 1000.0; // the ripple at 2 kHz repeats every 22.05 frames
    const double rate = 44100.0;
    const double w = 2.0 * kPi * frequency / rate;
    const double c = dynref::coefficient(5.0, rate);
    const double h = (1.0 - c) / std::sqrt(1.0 - 2.0 * c * std::cos(2.0 * w) + c * c);
    const double rms = amplitude / std::sqrt(2.0);
    constexpr double kRounding = 1e-12; // relative, as for the constant pair

    BLSimpleRmsComp comp;
    makeKeyReadable(comp);
    double sumOfSquares = 0.0;
    int counted = 0;
    for (int n = 0; n < 44100; ++n)
    {
        const double s = amplitude * std::sin(w * n);
        double out1 = s;
        double out2 = s;
        comp.process(out1, out2);
        if (n < 22050 || s == 0.0) // settle for 100 window time constants
            continue;
        const double key = keyFromSample(s, out1);
        ASSERT_GE(key, rms * std::sqrt(1.0 - h) * (1.0 - kRounding)) << "frame " << n;
        ASSERT_LE(key, rms * std::sqrt(1.0 + h) * (1.0 + kRounding)) << "frame " << n;
        if (n >= 44100 - 441) // the last 441 frames: exactly 20 periods of the ripple
        {
            sumOfSquares += key * key;
            ++counted;
        }
    }
    // The ripple sums to zero over whole periods; what is left is rounding.
    EXPECT_NEAR(sumOfSquares / counted / (rms * rms), 1.0, kRounding);
}

// With the default 10 ms / 100 ms followers the envelope is a running convex mix of over amounts,
// so it stays between the over amounts of the lowest and highest key of the ripple: the gain lies
// within (slope - 1) * (20 log10(A/sqrt(2) * sqrt(1 -+ h)) - T) dB around the closed form
// (slope - 1) * (20 log10(A/sqrt(2)) - T) for the RMS level.
TEST(RmsCompressorTest, SteadySineGetsTheStaticGainOfItsRmsLevel)
{
    const double amplitude = 0.5;
    const double rate = 44100.0;
    const double w = 2.0 * kPi * 1000.0 / rate;
    const double c = dynref::coefficient(5.0, rate);
    const double h = (1.0 - c) / std::sqrt(1.0 - 2.0 * c * std::cos(2.0 * w) + c * c);
    const double thresholdDB = -20.0;
    const double slope = 0.25;
    const double rmsDB = dynref::toDB(amplitude / std::sqrt(2.0));
    const double closedForm = (slope - 1.0) * (rmsDB - thresholdDB);
    // Half the key ripple in dB, times |slope - 1|, plus what the transient from rest leaves after
    // 1 s (below 6e-5 of the over amount, through the slowest follower).
    const double rippleDB = -10.0 * std::log10(1.0 - h);
    const double tolerance = (1.0 - slope) * rippleDB + 1e-3;

    BLSimpleRmsComp comp;
    comp.setThreshold(thresholdDB);
    comp.setRatio(slope);
    for (int n = 0; n < 88200; ++n)
    {
        const double s = amplitude * std::sin(w * n);
        double out1 = s;
        double out2 = -s;
        comp.process(out1, out2);
        if (n < 44100 || std::fabs(s) < 1e-3)
            continue;
        ASSERT_NEAR(dynref::toDB(out1 / s), closedForm, tolerance) << "frame " << n;
    }
}

// A non-finite mean square (NaN or infinite sample, or squares that overflow) leaves the average
// alone; the frame still runs the gain computer with the kept key.
TEST(RmsCompressorTest, NonFiniteMeanSquareKeepsTheAverage)
{
    BLSimpleRmsComp comp;
    comp.setThreshold(-24.0);
    comp.setRatio(0.25);
    dynref::RmsCompressor ref;
    ref.peak.thresholdDB = -24.0;
    ref.peak.slope = 0.25;

    std::vector<Pair> signal = testSignal(4000);
    signal[300].a = kNaN;
    signal[800].b = kInf;
    signal[1300] = {-kInf, kNaN};
    signal[1800] = {1e200, 0.0}; // 1e400 overflows
    for (size_t i = 0; i < signal.size(); ++i)
    {
        double in1 = signal[i].a;
        double in2 = signal[i].b;
        comp.process(in1, in2);
        const double g = ref.gain(signal[i].a, signal[i].b);
        ASSERT_FALSE(std::isnan(g)) << "frame " << i;
        if (std::isfinite(signal[i].a))
        {
            ASSERT_EQ(in1, signal[i].a * g) << "frame " << i;
        }
        if (std::isfinite(signal[i].b))
        {
            ASSERT_EQ(in2, signal[i].b * g) << "frame " << i;
        }
    }

    // With memoryless attack/release followers the gain depends on the average alone, so after a
    // bad frame the output must continue exactly as in a run that never saw it.
    BLSimpleRmsComp hit;
    BLSimpleRmsComp clean;
    makeKeyReadable(hit);
    makeKeyReadable(clean);
    for (int i = 0; i < 2000; ++i)
    {
        const Pair p = signal[2000 + i];
        if (i == 700)
        {
            double bad1 = kNaN;
            double bad2 = 1.0;
            hit.process(bad1, bad2);
            EXPECT_TRUE(std::isnan(bad1));
            EXPECT_FALSE(std::isnan(bad2));
        }
        double a1 = p.a;
        double a2 = p.b;
        hit.process(a1, a2);
        double b1 = p.a;
        double b2 = p.b;
        clean.process(b1, b2);
        ASSERT_EQ(a1, b1) << "frame " << i;
        ASSERT_EQ(a2, b2) << "frame " << i;
    }
}

// --- precondition checks -----------------------------------------------------------------------

namespace
{

using kestrune_test::failedCheck;

class RmsCompressorDeathTest : public testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

} // namespace

TEST_F(RmsCompressorDeathTest, SetWindowRejectsTimesNotAboveZero)
{
    BLSimpleRmsComp comp;
    for (double ms : {0.0, -5.0, kNaN})
    {
        EXPECT_EXIT(comp.setWindow(ms), abortedProcess(),
                    failedCheck("ms > 0.0"))
            << "ms = " << ms;
    }
}

TEST_F(RmsCompressorDeathTest, SetSampleRateRejectsRatesNotAboveZero)
{
    BLSimpleRmsComp comp;
    BLSimpleComp& base = comp;
    for (double rate : {0.0, -1.0, kNaN})
    {
        EXPECT_EXIT(comp.setSampleRate(rate), abortedProcess(),
                    failedCheck("sampleRate > 0.0"))
            << "rate = " << rate;
        EXPECT_EXIT(base.setSampleRate(rate), abortedProcess(),
                    failedCheck("sampleRate > 0.0"));
    }
}

TEST(RmsCompressorTest, InfiniteWindowHoldsTheAverage)
{
    BLSimpleRmsComp comp;
    makeKeyReadable(comp);
    for (int i = 0; i < 22050; ++i) // 100 window time constants: the average settles at 0.25
    {
        double a = 0.5;
        double b = -0.5;
        comp.process(a, b);
    }
    comp.setWindow(kInf);
    EXPECT_EQ(comp.getWindow(), kInf);
    double held = 0.0;
    for (int i = 0; i < 100; ++i)
    {
        double a = 1.0;
        double b = 1.0;
        comp.process(a, b);
        if (i == 0)
            held = a;
        ASSERT_EQ(a, held) << "frame " << i;
    }
    EXPECT_NEAR(keyFromSample(1.0, held), 0.5, 1e-12);
}
