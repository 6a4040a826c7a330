// The peak compressor BLSimpleComp against closed forms and a reference model of its formulas.

#include "BLSimpleComp.h"
#include "DynamicsReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using VAZiro::BLSimpleComp;
using VAZiro::DC_OFFSET;

namespace
{

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The gain of one frame: samples 1 and -1 scaled in place, so the first output is the factor.
double gainFor(BLSimpleComp& comp, double key)
{
    double in1 = 1.0;
    double in2 = -1.0;
    comp.process(in1, in2, key);
    EXPECT_EQ(in2, -in1) << "the channels must receive the same factor";
    return in1;
}

// With a slope this steep any departure of the envelope from its rest value, down to one ulp of
// DC_OFFSET (about 1.5e-41 dB), shows as a gain visibly different from 1.0. A silent key keeps a
// resting envelope exactly where it is, so the probe leaves a resting compressor at rest.
bool envelopeAtRest(BLSimpleComp& comp)
{
    const double slope = comp.getRatio();
    comp.setRatio(1e40);
    const double gain = gainFor(comp, 0.0);
    comp.setRatio(slope);
    return gain == 1.0;
}

// A deterministic key sweeping between silence and +12 dB with sudden jumps, so both followers work.
std::vector<double> testKeys(int frames)
{
    std::vector<double> keys(frames);
    double x = 0.5;
    for (int i = 0; i < frames; ++i)
    {
        x = std::fmod(x * 3.9 + 0.123, 1.0);
        const bool loud = (i / 700) % 2 == 0;
        keys[i] = (loud ? 4.0 : 0.05) * (x - 0.5);
    }
    return keys;
}

void configure(BLSimpleComp& comp, dynref::Compressor& ref, double thresholdDB, double slope)
{
    comp.setThreshold(thresholdDB);
    comp.setRatio(slope);
    ref.thresholdDB = thresholdDB;
    ref.slope = slope;
}

} // namespace

TEST(CompressorTest, Defaults)
{
    BLSimpleComp comp;
    EXPECT_EQ(comp.getAttackTime(), 10.0);
    EXPECT_EQ(comp.getReleaseTime(), 100.0);
    EXPECT_EQ(comp.getSampleRate(), 44100.0);
    EXPECT_EQ(comp.getThreshold(), 0.0);
    EXPECT_EQ(comp.getRatio(), 1.0);
    EXPECT_TRUE(envelopeAtRest(comp));
}

TEST(CompressorTest, DefaultSlopeLeavesEverySampleUnchanged)
{
    BLSimpleComp comp;
    comp.setThreshold(-40.0);
    for (double key : testKeys(3000))
    {
        double in1 = key;
        double in2 = 0.3 - key;
        comp.process(in1, in2);
        ASSERT_EQ(in1, key);
        ASSERT_EQ(in2, 0.3 - key);
    }
}

TEST(CompressorTest, SilenceKeepsTheEnvelopeAtRest)
{
    BLSimpleComp comp;
    comp.setRatio(0.25);
    comp.setThreshold(-499.0); // any threshold above the -500 dB silence level
    for (int i = 0; i < 1000; ++i)
    {
        double in1 = 0.0;
        double in2 = 0.0;
        comp.process(in1, in2);
        ASSERT_EQ(gainFor(comp, 0.0), 1.0);
        ASSERT_EQ(gainFor(comp, -0.0), 1.0);
    }
    EXPECT_TRUE(envelopeAtRest(comp));
}

TEST(CompressorTest, KeyAtTheThresholdBehavesLikeOneBelow)
{
    BLSimpleComp comp;
    comp.setRatio(0.25);
    comp.setThreshold(dynref::toDB(0.5)); // 0.5 + DC_OFFSET rounds to 0.5
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(gainFor(comp, 0.5), 1.0);
    EXPECT_TRUE(envelopeAtRest(comp));

    // One step above the threshold level, the envelope leaves its rest value.
    comp.setThreshold(std::nextafter(dynref::toDB(0.5), -kInf));
    gainFor(comp, 0.5);
    EXPECT_FALSE(envelopeAtRest(comp));
}

// 4:1 (slope 0.25), key 6 dB over the threshold from rest: 10 ms attack towards 6 dB, gain towards
// -4.5 dB; then silence: 100 ms release. Checked against the published numbers, the one-pole
// closed forms, and frame by frame against the reference model.
TEST(CompressorTest, FourToOneStepResponse)
{
    BLSimpleComp comp;
    dynref::Compressor ref;
    configure(comp, ref, -6.0, 0.25); // key 1.0 reads exactly 0 dB, 6 dB over

    const double first = gainFor(comp, 1.0);
    EXPECT_EQ(first, ref.gain(1.0));
    // Envelope after one frame 6 * (1 - c); the gain carries a few roundings of pow and log10.
    const double firstEnvelopeDB = 6.0 * (1.0 - 0.9977349953069204);
    EXPECT_NEAR(dynref::toDB(first), -0.75 * firstEnvelopeDB, 1e-13);
    EXPECT_NEAR(dynref::toDB(first), -0.0102, 5e-5);

    // Attack: after one time constant (441 frames) the remaining distance to 6 dB is 1/e. The
    // accumulated rounding of 441 steps stays far below the tolerance.
    for (int i = 1; i < 441; ++i)
        ASSERT_EQ(gainFor(comp, 1.0), ref.gain(1.0)) << "frame " << i;
    const double afterTau = ref.envelope - DC_OFFSET;
    EXPECT_NEAR(afterTau, 6.0 * (1.0 - std::exp(-1.0)), 1e-12);

    double gain = 0.0;
    for (int i = 441; i < 44100; ++i)
    {
        gain = gainFor(comp, 1.0);
        ASSERT_EQ(gain, ref.gain(1.0)) << "frame " << i;
    }
    // After 100 time constants the envelope sits within a few ulps of 6 dB.
    constexpr double kConvergedTolerance = 1e-14;
    EXPECT_NEAR(gain, 0.5956621435290105, kConvergedTolerance);
    EXPECT_NEAR(gain, dynref::toLin(-4.5), kConvergedTolerance);

    // Release: after 100 ms (4410 frames) of silence, 1/e of the -4.5 dB gain is left.
    for (int i = 0; i < 4410; ++i)
    {
        gain = gainFor(comp, 0.0);
        ASSERT_EQ(gain, ref.gain(0.0)) << "release frame " << i;
    }
    EXPECT_NEAR(dynref::toDB(gain), -4.5 * std::exp(-1.0), 1e-11);
}

// Steady keys: the output level settles at T + slope * (L - T) above the threshold and equals the
// input level below it, for compression, limiting and expansion slopes.
TEST(CompressorTest, StaticCurve)
{
    const double thresholdDB = -20.0;
    for (double slope : {0.25, 0.5, 0.0, 2.0})
    {
        for (double levelDB : {-40.0, -20.0, -12.0, -3.0, 6.0})
        {
            BLSimpleComp comp;
            comp.setThreshold(thresholdDB);
            comp.setRatio(slope);
            const double amplitude = dynref::toLin(levelDB);
            double out1 = 0.0;
            for (int i = 0; i < 22050; ++i) // 500 ms: 50 attack time constants
            {
                out1 = amplitude;
                double out2 = -amplitude;
                comp.process(out1, out2);
            }
            const double expectedDB =
                levelDB > thresholdDB ? thresholdDB + slope * (levelDB - thresholdDB) : levelDB;
            // Level conversions on both sides round to ~1e-14 dB; the envelope converges to a
            // few ulps of L - T.
            EXPECT_NEAR(dynref::toDB(out1), expectedDB, 1e-12)
                << "slope " << slope << ", level " << levelDB << " dB";
        }
    }
}

// Long deterministic run with parameter changes between frames, against the reference model.
TEST(CompressorTest, MatchesTheReferenceModelBitForBit)
{
    BLSimpleComp comp;
    dynref::Compressor ref;
    configure(comp, ref, -18.0, 0.2);
    const std::vector<double> keys = testKeys(20000);
    for (int i = 0; i < static_cast<int>(keys.size()); ++i)
    {
        if (i == 5000)
            configure(comp, ref, -6.0, 0.5);
        if (i == 9000)
        {
            comp.setAttackTime(0.1);
            comp.setReleaseTime(1000.0);
            ref.setRate(0.1, 1000.0, 44100.0);
        }
        if (i == 14000)
        {
            comp.setSampleRate(96000.0);
            ref.setRate(0.1, 1000.0, 96000.0);
        }
        const double s1 = 0.25 - keys[i];
        const double s2 = keys[i] * 0.5;
        double in1 = s1;
        double in2 = s2;
        comp.process(in1, in2, keys[i]);
        const double g = ref.gain(keys[i]);
        ASSERT_EQ(in1, s1 * g) << "frame " << i;
        ASSERT_EQ(in2, s2 * g) << "frame " << i;
    }
    EXPECT_EQ(comp.getSampleRate(), 96000.0);
}

// The key is the larger magnitude; the second channel wins only when strictly larger, so a NaN
// there is ignored. The sidechain samples are only read.
TEST(CompressorTest, StereoLink)
{
    BLSimpleComp selfKeyed;
    BLSimpleComp sideKeyed;
    dynref::Compressor ref;
    configure(selfKeyed, ref, -12.0, 0.25);
    sideKeyed.setThreshold(-12.0);
    sideKeyed.setRatio(0.25);

    struct Frame
    {
        double a, b, expectedKey;
    };
    const Frame frames[] = {{0.5, -0.7, 0.7}, {-0.9, 0.2, 0.9}, {0.4, kNaN, 0.4},
                            {-0.6, 0.6, 0.6}, {0.0, -0.3, 0.3}, {0.8, -kNaN, 0.8}};
    for (int repeat = 0; repeat < 50; ++repeat)
    {
        for (const Frame& f : frames)
        {
            const double g = ref.gain(f.expectedKey);
            double in1 = f.a;
            double in2 = f.b;
            selfKeyed.process(in1, in2);
            EXPECT_EQ(in1, f.a * g);
            if (!std::isnan(f.b))
            {
                EXPECT_EQ(in2, f.b * g);
            }

            double sc1 = f.a;
            double sc2 = f.b;
            double main1 = 0.125;
            double main2 = -0.25;
            sideKeyed.process(main1, main2, sc1, sc2);
            EXPECT_EQ(main1, 0.125 * g);
            EXPECT_EQ(main2, -0.25 * g);
            EXPECT_EQ(std::memcmp(&sc1, &f.a, sizeof sc1), 0);
            EXPECT_EQ(std::memcmp(&sc2, &f.b, sizeof sc2), 0);
        }
    }
}

// A NaN in the first key channel makes the link NaN: the envelope keeps its value for that frame
// and the frame gets the gain of the kept envelope, the same as the frame before.
TEST(CompressorTest, NaNInTheFirstKeyChannelKeepsTheEnvelope)
{
    BLSimpleComp comp;
    BLSimpleComp skipped;
    for (BLSimpleComp* c : {&comp, &skipped})
    {
        c->setThreshold(-12.0);
        c->setRatio(0.25);
    }
    double previousGain = 0.0;
    for (int i = 0; i < 300; ++i)
    {
        double in1 = 1.0;
        double in2 = 0.9;
        comp.process(in1, in2);
        previousGain = in1;
        double s1 = 1.0;
        double s2 = 0.9;
        skipped.process(s1, s2);
    }
    double in1 = kNaN;
    double in2 = 0.9;
    comp.process(in1, in2);
    EXPECT_TRUE(std::isnan(in1));
    EXPECT_EQ(in2, 0.9 * previousGain);

    for (int i = 0; i < 300; ++i)
    {
        double a1 = 0.1;
        double a2 = -0.8;
        comp.process(a1, a2);
        double b1 = 0.1;
        double b2 = -0.8;
        skipped.process(b1, b2);
        ASSERT_EQ(a1, b1) << "frame " << i;
        ASSERT_EQ(a2, b2) << "frame " << i;
    }
}

// Non-finite over amounts (NaN or infinite key, NaN threshold) leave the envelope untouched: the
// bad frame takes the previous frame's gain, and every later frame is exactly what a compressor
// that never saw the bad frame produces.
TEST(CompressorTest, NonFiniteOverAmountSkipsTheFrame)
{
    struct Case
    {
        const char* name;
        double key;
        bool nanThreshold;
    };
    const Case cases[] = {{"NaN key", kNaN, false},
                          {"+inf key", kInf, false},
                          {"-inf key", -kInf, false},
                          {"NaN threshold", 0.5, true}};
    const std::vector<double> keys = testKeys(3000);
    for (const Case& bad : cases)
    {
        for (int badFrame : {350, 1050, 2000}) // rising, falling, rising again
        {
            BLSimpleComp comp;
            BLSimpleComp skipped;
            for (BLSimpleComp* c : {&comp, &skipped})
            {
                c->setThreshold(-15.0);
                c->setRatio(0.3);
            }
            double previousGain = 1.0;
            for (int i = 0; i < static_cast<int>(keys.size()); ++i)
            {
                if (i == badFrame)
                {
                    if (bad.nanThreshold)
                        comp.setThreshold(kNaN);
                    EXPECT_EQ(gainFor(comp, bad.nanThreshold ? keys[i] : bad.key), previousGain)
                        << bad.name << " at frame " << i;
                    comp.setThreshold(-15.0);
                    continue;
                }
                previousGain = gainFor(comp, keys[i]);
                ASSERT_EQ(previousGain, gainFor(skipped, keys[i]))
                    << bad.name << ", bad frame " << badFrame << ", frame " << i;
            }
            EXPECT_FALSE(std::isnan(previousGain));
        }
    }
}

// Huge but finite keys are ordinary keys: the envelope advances.
TEST(CompressorTest, HugeFiniteKeyIsProcessedNormally)
{
    BLSimpleComp comp;
    dynref::Compressor ref;
    configure(comp, ref, 0.0, 0.9);
    for (double key : {1e300, std::numeric_limits<double>::max(), 1e300, 0.0, 1.0})
        EXPECT_EQ(gainFor(comp, key), ref.gain(key));
    // Three frames of keys near 6000 dB lift the envelope by 6000 * (1 - c^3), about 40 dB.
    EXPECT_GT(ref.envelope, 30.0);
}

TEST(CompressorTest, InitRuntimeMakesTheOutputRepeat)
{
    BLSimpleComp comp;
    comp.setThreshold(-10.0);
    comp.setRatio(0.25);
    comp.setAttackTime(3.0);
    comp.setReleaseTime(40.0);
    const std::vector<double> keys = testKeys(2000);

    std::vector<double> first;
    for (double key : keys)
        first.push_back(gainFor(comp, key));
    ASSERT_FALSE(envelopeAtRest(comp));

    comp.initRuntime();
    EXPECT_TRUE(envelopeAtRest(comp));
    EXPECT_EQ(comp.getThreshold(), -10.0);
    EXPECT_EQ(comp.getRatio(), 0.25);
    EXPECT_EQ(comp.getAttackTime(), 3.0);
    EXPECT_EQ(comp.getReleaseTime(), 40.0);
    EXPECT_EQ(comp.getSampleRate(), 44100.0);
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(gainFor(comp, keys[i]), first[i]) << "frame " << i;
}

// Setters change parameters and coefficients only: re-applying the current values mid-stream
// leaves the output untouched, and a changed threshold acts from the current envelope.
TEST(CompressorTest, SettersLeaveTheEnvelopeAlone)
{
    BLSimpleComp comp;
    BLSimpleComp untouched;
    for (BLSimpleComp* c : {&comp, &untouched})
    {
        c->setThreshold(-10.0);
        c->setRatio(0.25);
    }
    const std::vector<double> keys = testKeys(3000);
    for (size_t i = 0; i < keys.size(); ++i)
    {
        if (i % 100 == 50)
        {
            comp.setThreshold(-10.0);
            comp.setRatio(0.25);
            comp.setAttackTime(10.0);
            comp.setReleaseTime(100.0);
            comp.setSampleRate(44100.0);
        }
        ASSERT_EQ(gainFor(comp, keys[i]), gainFor(untouched, keys[i])) << "frame " << i;
    }

    // The envelope is high after a loud stretch; a threshold raised far above the key must let
    // the gain return through the release follower, not jump to 1.
    BLSimpleComp loud;
    loud.setThreshold(-20.0);
    loud.setRatio(0.5);
    for (int i = 0; i < 4410; ++i)
        gainFor(loud, 1.0);
    loud.setThreshold(20.0);
    const double next = gainFor(loud, 1.0);
    EXPECT_LT(next, 0.5);
    EXPECT_GT(next, 0.3);
}
