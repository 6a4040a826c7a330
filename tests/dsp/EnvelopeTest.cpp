// Envelope followers, decibel conversions and the precondition checks of the dynamics library.

#include "BLEnvelopes.h"
#include "BLSimpleGain.h"
#include "AbortExit.h"
#include "FailedCheck.h"
#include "DynamicsReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using VAZiro::AttRelEnvelope;
using VAZiro::SimpleEnvelope;

namespace
{

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Published coefficient values carry 16 significant digits: half a unit in their last digit.
constexpr double kLiteralTolerance = 5e-17;

// One step from state 1 towards 0 leaves exactly the coefficient: (1 - 0) * c + 0.
double coefficientOf(SimpleEnvelope& envelope)
{
    double state = 1.0;
    envelope.process(0.0, state);
    return state;
}

double releaseCoefficientOf(AttRelEnvelope& envelope)
{
    double state = 1.0; // input below the state: the release follower
    envelope.process(0.0, state);
    return state;
}

// From 0 towards 1 the attack follower leaves (0 - 1) * c + 1; inverted with an exact subtraction.
double attackCoefficientOf(AttRelEnvelope& envelope)
{
    double state = 0.0;
    envelope.process(1.0, state);
    return 1.0 - state; // exact (Sterbenz) for c in [0.5, 1]
}

} // namespace

TEST(DecibelTest, LevelsOfKnownAmplitudes)
{
    EXPECT_EQ(VAZiro::lin2dB(1e-25), -500.0); // the silence level of the compressor
    EXPECT_EQ(VAZiro::lin2dB(1.0), 0.0);
    EXPECT_EQ(VAZiro::lin2dB(10.0), 20.0);
    EXPECT_NEAR(VAZiro::lin2dB(0.01), -40.0, 1e-14);
    // 20 * log10(2) = 6.0205999132796239...; one rounding of the product plus log10's error.
    EXPECT_NEAR(VAZiro::lin2dB(2.0), 6.020599913279624, 4e-15);
    EXPECT_EQ(VAZiro::lin2dB(0.0), -kInf);
    EXPECT_TRUE(std::isnan(VAZiro::lin2dB(-1.0)));
}

TEST(DecibelTest, AmplitudesOfKnownLevels)
{
    EXPECT_EQ(VAZiro::dB2lin(0.0), 1.0);
    EXPECT_EQ(VAZiro::dB2lin(20.0), 10.0);
    EXPECT_NEAR(VAZiro::dB2lin(-40.0), 0.01, 1e-17);
    EXPECT_NEAR(VAZiro::dB2lin(-500.0), 1e-25, 1e-40);
    EXPECT_EQ(VAZiro::dB2lin(-kInf), 0.0);
    EXPECT_NEAR(VAZiro::dB2lin(-6.020599913279624), 0.5, 1e-15);
}

// dB / 20.0 and dB * 0.05 round differently for some levels; the conversion must divide.
TEST(DecibelTest, DividesByTwentyRatherThanMultiplyingByAFifth)
{
    for (int i = 1; i <= 2000; ++i)
    {
        const double dB = -100.0 + 0.1 * i;
        if (dB / 20.0 == dB * 0.05)
            continue;
        EXPECT_EQ(VAZiro::dB2lin(dB), std::pow(10.0, dB / 20.0)) << "dB = " << dB;
    }
}

TEST(SimpleEnvelopeTest, CoefficientsOfTheDefaultTimes)
{
    SimpleEnvelope attack(10.0, 44100.0);
    SimpleEnvelope release(100.0, 44100.0);
    SimpleEnvelope fastest(0.1, 44100.0);

    EXPECT_EQ(coefficientOf(attack), dynref::coefficient(10.0, 44100.0));
    EXPECT_EQ(coefficientOf(release), dynref::coefficient(100.0, 44100.0));
    EXPECT_EQ(coefficientOf(fastest), dynref::coefficient(0.1, 44100.0));

    EXPECT_NEAR(coefficientOf(attack), 0.9977349953069204, kLiteralTolerance);
    EXPECT_NEAR(coefficientOf(release), 0.9997732683378947, kLiteralTolerance);
    EXPECT_NEAR(coefficientOf(fastest), 0.7971141629458125, kLiteralTolerance);

    EXPECT_EQ(attack.getTime(), 10.0);
    EXPECT_EQ(attack.getSampleRate(), 44100.0);
}

// exp(-1000 / (ms * rate)) and exp(-1000 / ms / rate) differ for some short times; the product
// comes first.
TEST(SimpleEnvelopeTest, CoefficientTakesTheProductFirst)
{
    int distinguishing = 0;
    for (int i = 1; i <= 400; ++i)
    {
        const double ms = 0.0025 * i;
        for (double rate : {22050.0, 44100.0, 48000.0, 96000.0})
        {
            SimpleEnvelope envelope(ms, rate);
            const double expected = dynref::coefficient(ms, rate);
            if (expected != std::exp(-1000.0 / ms / rate))
                ++distinguishing;
            ASSERT_EQ(coefficientOf(envelope), expected) << ms << " ms at " << rate << " Hz";
        }
    }
    ASSERT_GT(distinguishing, 0) << "no time separates the two roundings";
}

TEST(SimpleEnvelopeTest, SettersRecomputeTheCoefficient)
{
    SimpleEnvelope envelope(10.0, 44100.0);

    envelope.setTime(5.0);
    EXPECT_EQ(envelope.getTime(), 5.0);
    EXPECT_NEAR(coefficientOf(envelope), 0.9954751208601006, kLiteralTolerance);

    envelope.setSampleRate(48000.0);
    EXPECT_EQ(envelope.getSampleRate(), 48000.0);
    EXPECT_EQ(envelope.getTime(), 5.0);
    EXPECT_EQ(coefficientOf(envelope), dynref::coefficient(5.0, 48000.0));
    EXPECT_EQ(coefficientOf(envelope), std::exp(-1.0 / 240.0));
    EXPECT_NEAR(coefficientOf(envelope), 0.99584200184511, 5e-15); // 14 digits published

    envelope.setTime(100.0);
    EXPECT_EQ(coefficientOf(envelope), dynref::coefficient(100.0, 48000.0));
}

TEST(SimpleEnvelopeTest, InfiniteTimeHoldsTheState)
{
    SimpleEnvelope envelope(kInf, 44100.0);
    EXPECT_EQ(coefficientOf(envelope), 1.0);

    double state = 0.375;
    for (int i = 0; i < 100; ++i)
        envelope.process(-3.0, state);
    EXPECT_EQ(state, 0.375);

    envelope.setTime(10.0);
    envelope.setTime(kInf);
    EXPECT_EQ(coefficientOf(envelope), 1.0);
}

// The step is (s - in) * c + in; c * s + (1 - c) * in or s + (in - s) * (1 - c) round differently.
TEST(SimpleEnvelopeTest, StepMatchesTheFormulaBitForBit)
{
    SimpleEnvelope envelope(3.7, 44100.0);
    const double c = dynref::coefficient(3.7, 44100.0);
    double state = 0.0;
    double reference = 0.0;
    double in = 0.1234;
    for (int i = 0; i < 2000; ++i)
    {
        in = std::fmod(in * 7.31 + 0.417, 2.0) - 1.0; // deterministic, wide-ranging input
        envelope.process(in, state);
        reference = dynref::onePole(reference, in, c);
        ASSERT_EQ(state, reference) << "frame " << i;
    }
}

// After one time constant of a constant input the remaining distance is 1/e.
TEST(SimpleEnvelopeTest, TimeConstantLeavesOneOverE)
{
    SimpleEnvelope envelope(10.0, 44100.0);
    double state = 0.0;
    for (int i = 0; i < 441; ++i) // 10 ms
        envelope.process(1.0, state);
    // 441 roundings of a value below 1: well under 1e-13 accumulated.
    EXPECT_NEAR(1.0 - state, std::exp(-1.0), 1e-13);
}

// The setters reach update() through the table, so a subclass can extend it.
TEST(SimpleEnvelopeTest, SettersUpdateThroughTheVirtualTable)
{
    struct CountingEnvelope : SimpleEnvelope
    {
        using SimpleEnvelope::SimpleEnvelope;
        int updates = 0;
        void update() override
        {
            ++updates;
            SimpleEnvelope::update();
        }
    };
    CountingEnvelope envelope(10.0, 44100.0);
    envelope.setTime(20.0);
    EXPECT_EQ(envelope.updates, 1);
    envelope.setSampleRate(96000.0);
    EXPECT_EQ(envelope.updates, 2);
    EXPECT_EQ(coefficientOf(envelope), dynref::coefficient(20.0, 96000.0));
}

TEST(AttRelEnvelopeTest, ConstructionAndAccessors)
{
    AttRelEnvelope envelope(10.0, 100.0, 44100.0);
    EXPECT_EQ(envelope.getAttackTime(), 10.0);
    EXPECT_EQ(envelope.getReleaseTime(), 100.0);
    EXPECT_EQ(envelope.getSampleRate(), 44100.0);
    EXPECT_EQ(attackCoefficientOf(envelope), dynref::coefficient(10.0, 44100.0));
    EXPECT_EQ(releaseCoefficientOf(envelope), dynref::coefficient(100.0, 44100.0));

    envelope.setAttackTime(1.0);
    EXPECT_EQ(envelope.getAttackTime(), 1.0);
    EXPECT_EQ(attackCoefficientOf(envelope), dynref::coefficient(1.0, 44100.0));
    EXPECT_EQ(releaseCoefficientOf(envelope), dynref::coefficient(100.0, 44100.0));

    envelope.setReleaseTime(250.0);
    EXPECT_EQ(envelope.getReleaseTime(), 250.0);
    EXPECT_EQ(attackCoefficientOf(envelope), dynref::coefficient(1.0, 44100.0));
    EXPECT_EQ(releaseCoefficientOf(envelope), dynref::coefficient(250.0, 44100.0));

    envelope.setSampleRate(48000.0); // both followers
    EXPECT_EQ(envelope.getSampleRate(), 48000.0);
    EXPECT_EQ(attackCoefficientOf(envelope), dynref::coefficient(1.0, 48000.0));
    EXPECT_EQ(releaseCoefficientOf(envelope), dynref::coefficient(250.0, 48000.0));
}

// With a near-instant attack and a slow release, one ulp above the state moves it onto the input
// (attack) while one ulp below leaves it in place (release), so the choice is visible.
TEST(AttRelEnvelopeTest, AttackOnlyWhenTheInputIsStrictlyGreater)
{
    AttRelEnvelope envelope(0.001, 100.0, 44100.0);
    const double up = std::nextafter(1.0, 2.0);
    const double down = std::nextafter(1.0, 0.0);

    double state = 1.0;
    envelope.process(up, state);
    EXPECT_EQ(state, up);

    state = 1.0;
    envelope.process(down, state);
    EXPECT_EQ(state, 1.0);

    state = 1.0;
    envelope.process(0.5, state);
    EXPECT_EQ(state, dynref::onePole(1.0, 0.5, dynref::coefficient(100.0, 44100.0)));
}

// A tie and a NaN take the release follower. With a tie both followers leave the state exactly
// where it is, and NaN propagates through either, so only the values can be checked here.
TEST(AttRelEnvelopeTest, TieAndNaNValues)
{
    AttRelEnvelope envelope(0.001, 100.0, 44100.0);
    double state = 0.75;
    envelope.process(0.75, state);
    EXPECT_EQ(state, 0.75);

    envelope.process(kNaN, state);
    EXPECT_TRUE(std::isnan(state));

    envelope.process(0.5, state);
    EXPECT_TRUE(std::isnan(state)); // a NaN state stays NaN: the caller owns the reset
}

// The step with coefficients held elsewhere (the block passes copy them once per block) is the
// step of process(), against the formula: attack only for an input strictly above the state.
TEST(AttRelEnvelopeTest, StepWithCopiedCoefficientsIsTheProcessStep)
{
    AttRelEnvelope envelope(3.0, 40.0, 48000.0);
    const SimpleEnvelope attackFollower(3.0, 48000.0);
    const SimpleEnvelope releaseFollower(40.0, 48000.0);
    const double attack = dynref::coefficient(3.0, 48000.0);
    const double release = dynref::coefficient(40.0, 48000.0);
    ASSERT_EQ(attackFollower.coefficient(), attack);
    ASSERT_EQ(releaseFollower.coefficient(), release);
    const double values[] = {0.0, 1e-25, 0.5, 0.75, 6.0, -2.0, kInf, kNaN};
    for (double in : values)
    {
        for (double state : values)
        {
            double processed = state;
            envelope.process(in, processed);
            const double stepped =
                AttRelEnvelope::step(in, state, attackFollower.coefficient(), releaseFollower.coefficient());
            const double formula = dynref::onePole(state, in, (in > state) ? attack : release);
            EXPECT_EQ(std::isnan(stepped), std::isnan(formula)) << in << " " << state;
            if (!std::isnan(formula))
            {
                EXPECT_EQ(stepped, formula) << in << " " << state;
                EXPECT_EQ(processed, formula) << in << " " << state;
            }
        }
    }
    EXPECT_EQ(SimpleEnvelope::step(0.0, 1.0, 0.25), 0.25);
}

// --- precondition checks -----------------------------------------------------------------------

namespace
{

using kestrune_test::failedCheck;

class EnvelopeDeathTest : public testing::Test
{
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

} // namespace

TEST_F(EnvelopeDeathTest, ConstructorRejectsTimesNotAboveZero)
{
    for (double ms : {0.0, -0.0, -1.0, -kInf, kNaN})
    {
        EXPECT_EXIT(SimpleEnvelope(ms, 44100.0), abortedProcess(),
                    failedCheck("ms > 0.0"))
            << "ms = " << ms;
    }
    // Both bad: the time is checked first.
    EXPECT_EXIT(SimpleEnvelope(0.0, 0.0), abortedProcess(),
                failedCheck("ms > 0.0"));
}

TEST_F(EnvelopeDeathTest, ConstructorRejectsRatesNotAboveZero)
{
    for (double rate : {0.0, -44100.0, kNaN})
    {
        EXPECT_EXIT(SimpleEnvelope(10.0, rate), abortedProcess(),
                    failedCheck("sampleRate > 0.0"))
            << "rate = " << rate;
    }
    EXPECT_EXIT(AttRelEnvelope(10.0, 100.0, 0.0), abortedProcess(),
                failedCheck("sampleRate > 0.0"));
    EXPECT_EXIT(AttRelEnvelope(10.0, -1.0, 44100.0), abortedProcess(),
                failedCheck("ms > 0.0"));
}

TEST_F(EnvelopeDeathTest, SetTimeRejectsTimesNotAboveZero)
{
    SimpleEnvelope simple(10.0, 44100.0);
    AttRelEnvelope attRel(10.0, 100.0, 44100.0);
    for (double ms : {0.0, -5.0, kNaN})
    {
        EXPECT_EXIT(simple.setTime(ms), abortedProcess(),
                    failedCheck("ms > 0.0"));
        EXPECT_EXIT(attRel.setAttackTime(ms), abortedProcess(),
                    failedCheck("ms > 0.0"));
        EXPECT_EXIT(attRel.setReleaseTime(ms), abortedProcess(),
                    failedCheck("ms > 0.0"));
    }
}

TEST_F(EnvelopeDeathTest, SetSampleRateRejectsRatesNotAboveZero)
{
    SimpleEnvelope simple(10.0, 44100.0);
    AttRelEnvelope attRel(10.0, 100.0, 44100.0);
    for (double rate : {0.0, -48000.0, kNaN})
    {
        EXPECT_EXIT(simple.setSampleRate(rate), abortedProcess(),
                    failedCheck("sampleRate > 0.0"));
        EXPECT_EXIT(attRel.setSampleRate(rate), abortedProcess(),
                    failedCheck("sampleRate > 0.0"));
    }
}

// +infinity passes every check; so do the smallest positive values.
TEST(EnvelopePreconditionTest, InfinityAndTinyPositiveValuesPass)
{
    SimpleEnvelope envelope(kInf, kInf);
    envelope.setTime(std::numeric_limits<double>::denorm_min());
    envelope.setSampleRate(std::numeric_limits<double>::denorm_min());
    AttRelEnvelope attRel(kInf, kInf, kInf);
    attRel.setAttackTime(kInf);
    attRel.setReleaseTime(1e-300);
    EXPECT_EQ(attRel.getAttackTime(), kInf);
    EXPECT_EQ(attRel.getReleaseTime(), 1e-300);
}
