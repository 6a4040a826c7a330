// The built Kestrune.so, loaded through host/, against the reference model of tests/support: long
// seeded signals, five sample rates, many block sizes, parameter changes between blocks (values
// outside 0..1 and NaN included), both key sources, resume and sample-rate changes mid-stream,
// in-place buffers and non-finite key samples. Every output sample must equal the model's as a
// float bit pattern. Set KESTRUNE_TEST_SEED to replay a run with another seed; each run prints its own.
#include "ModuleSession.h"
#include "ReferenceModel.h"
#include "TestSeed.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace
{

using kref::ReferenceModel;
using ksession::describe;
using ksession::fillPair;
using ksession::firstDifference;
using ksession::Layout;
using ksession::makeSignal;
using ksession::Output;
using ksession::Random;
using ksession::sameBits;
using ksession::Session;
using ksession::Signal;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// --- seeds ------------------------------------------------------------------------------------

// A seed for one run: the first draws of the test seed's generator mixed with a number naming the
// run, so runs differ from each other and KESTRUNE_TEST_SEED changes them all.
std::uint64_t runSeed(std::uint64_t salt)
{
    std::mt19937 seeds = kestrune_test::seededGenerator();
    const std::uint64_t high = seeds();
    const std::uint64_t base = (high << 32) | seeds();
    std::uint64_t x = base ^ (salt * 0x9E3779B97F4A7C15ull);
    x ^= x >> 31;
    return x;
}

// --- parameter values ------------------------------------------------------------------------

// A normalised value as a careless host might send it: mostly in range and spread so thresholds
// fall in -60..0 dB and ratios reach 10:1, sometimes outside 0..1, infinite or NaN.
float randomNormalised(Random& random, int index)
{
    const double draw = random.uniform();
    if (draw < 0.07)
        return kNaN;
    if (draw < 0.15)
    {
        static const float outside[] = {-0.5f, -3.0f, 1.5f, 7.0f, kInf, -kInf, -0.0f, 1.0000001f, -1e-30f};
        return outside[random.below(static_cast<int>(sizeof outside / sizeof outside[0]))];
    }
    switch (index)
    {
    case kref::kThreshold:
        if (random.chance(0.05))
            return static_cast<float>(random.uniform(0.0, 0.01));  // below -120 dB
        return static_cast<float>(std::pow(10.0, random.uniform(-60.0, 0.0) / 60.0));
    case kref::kUseSidechain:
        if (random.chance(0.1))
            return random.chance(0.5) ? 0.5f : std::nextafter(0.5f, 0.0f);
        return static_cast<float>(random.uniform());
    default:
        return static_cast<float>(random.uniform());
    }
}


// Block sizes: a fixed size, or (fixed = 0) a random mix of tiny, medium, large and empty blocks.
int nextBlockSize(Random& random, int fixed)
{
    if (fixed > 0)
        return fixed;
    const double draw = random.uniform();
    if (draw < 0.02)
        return 0;
    if (draw < 0.3)
        return 1 + random.below(16);
    if (draw < 0.8)
        return 1 + random.below(1024);
    return 1 + random.below(4096);
}

struct Schedule
{
    int blockSize = 0;           // 0: random sizes
    double changeSpacingMs = 60; // mean distance between parameter changes
    int sidechain = -1;          // -1: random like the others; 0 or 1: held off or on
};

// Processes the signal block by block, changing parameters between blocks at random moments:
// usually all six at once, sometimes a single one.
void drive(Session& session, Random& random, double sampleRate, const Schedule& schedule)
{
    std::size_t nextChange = 0;
    while (!session.finished())
    {
        if (session.position() >= nextChange)
        {
            if (random.chance(0.8))
            {
                for (int index = 0; index < kref::kParameterCount; index++)
                    if (index != kref::kUseSidechain || schedule.sidechain < 0)
                        session.setParameter(index, randomNormalised(random, index));
            }
            else
            {
                const int index = random.below(kref::kParameterCount);
                if (index != kref::kUseSidechain || schedule.sidechain < 0)
                    session.setParameter(index, randomNormalised(random, index));
            }
            if (schedule.sidechain >= 0)
                session.setParameter(kref::kUseSidechain, schedule.sidechain > 0 ? 1.0f : 0.0f);
            const double spacing = random.uniform(0.2, 1.8) * schedule.changeSpacingMs;
            nextChange = session.position() + static_cast<std::size_t>(spacing * sampleRate / 1000.0);
        }
        session.process(nextBlockSize(random, schedule.blockSize));
    }
}

// Both seeds of a run: KESTRUNE_TEST_SEED set to the test seed replays it.
std::string seedText(std::uint64_t seed)
{
    char text[96];
    std::snprintf(text, sizeof text, "run seed 0x%016" PRIX64 " from KESTRUNE_TEST_SEED=%" PRIu32, seed,
                  kestrune_test::testSeed());
    return text;
}

// Prints the seed of a run and keeps it in every failure message of the scope.
#define ANNOUNCE_SEED(seed)                      \
    std::printf("%s\n", seedText(seed).c_str()); \
    SCOPED_TRACE(seedText(seed))

// A run whose gain never went 6 dB down proves little about the compressor.
constexpr double kWorkingGain = 0.5;

// --- the model against closed forms ------------------------------------------------------------
// The model is only worth comparing against when it is right on its own; these anchor it to values
// derived by hand, independent of both the model's code and the module.

TEST(ReferenceModelAnchors, DefaultsMapToTheirEngineeringValues)
{
    const ReferenceModel model;
    EXPECT_EQ(model.attackMs, 10.0f);
    EXPECT_EQ(model.releaseMs, 100.0f);
    EXPECT_EQ(model.ratio, 1.0f);
    EXPECT_FALSE(model.useSidechain);
    EXPECT_EQ(model.thresholdDB, 0.0f);
    EXPECT_EQ(model.makeupDB, 0.0f);
    EXPECT_EQ(dynref::toLin(static_cast<double>(model.makeupDB)), 1.0);
    EXPECT_EQ(model.sampleRate, 44100.0);
}

TEST(ReferenceModelAnchors, MappingsAtTheirEnds)
{
    EXPECT_EQ(kref::attackMsFrom(0.0f), 0.1f);
    EXPECT_EQ(kref::releaseMsFrom(1.0f), 500.0f);
    EXPECT_EQ(kref::ratioFrom(1.0f), 10.0f);
    EXPECT_EQ(kref::thresholdDBFrom(0.0f), -120.0f);
    EXPECT_EQ(kref::thresholdDBFrom(-0.0f), -120.0f);
    EXPECT_EQ(kref::thresholdDBFrom(0.01f), -120.0f);
    EXPECT_NEAR(kref::thresholdDBFrom(0.5f), -18.0618f, 1e-4);  // 60 log10(0.5)
    EXPECT_EQ(kref::makeupDBFrom(0.0f), -18.0f);
    EXPECT_EQ(kref::makeupDBFrom(1.0f), 18.0f);
    EXPECT_TRUE(kref::useSidechainFrom(0.5f));
    EXPECT_FALSE(kref::useSidechainFrom(std::nextafter(0.5f, 0.0f)));

    ReferenceModel model;
    model.setParameter(kref::kRatio, 5.0f);
    EXPECT_EQ(model.ratio, 10.0f);
    model.setParameter(kref::kRatio, kNaN);
    EXPECT_EQ(model.ratio, 10.0f);
    model.setParameter(kref::kAttack, -kInf);
    EXPECT_EQ(model.attackMs, 0.1f);
    model.setParameter(kref::kUseSidechain, kNaN);
    EXPECT_FALSE(model.useSidechain);
}

TEST(ReferenceModelAnchors, CoefficientsMatchTheirDecimalValues)
{
    // The decimal expansions carry 16 significant digits: 1e-16 covers their rounding.
    EXPECT_NEAR(dynref::coefficient(10.0, 44100.0), 0.9977349953069204, 1e-16);
    EXPECT_NEAR(dynref::coefficient(100.0, 44100.0), 0.9997732683378947, 1e-16);
    EXPECT_NEAR(dynref::coefficient(0.1, 44100.0), 0.7971141629458125, 1e-16);
}

TEST(ReferenceModelAnchors, SilenceLeavesTheEnvelopeAtRest)
{
    ReferenceModel model;
    model.setParameter(kref::kRatio, 1.0f);
    model.setParameter(kref::kThreshold, 0.001f);  // -180 dB, still above silence's -500 dB
    for (int i = 0; i < 1000; i++)
        EXPECT_EQ(model.gainForKey(0.0), 1.0);
    EXPECT_EQ(model.dynamics.envelope, dynref::kOffset);
}

TEST(ReferenceModelAnchors, FourToOneStepResponse)
{
    ReferenceModel model;
    model.ratio = 4.0f;                                   // slope 0.25
    model.configureDynamics();
    const double key = std::pow(10.0, 6.0 / 20.0);        // 6 dB over a 0 dB threshold
    const double first = model.gainForKey(key);
    EXPECT_NEAR(model.dynamics.envelope - dynref::kOffset, 6.0 * (1.0 - 0.9977349953069204), 1e-12);
    EXPECT_NEAR(20.0 * std::log10(first), -0.75 * 6.0 * (1.0 - 0.9977349953069204), 1e-12);
    double gain = first;
    for (int i = 0; i < 44100; i++)  // one second: 100 attack time constants
        gain = model.gainForKey(key);
    EXPECT_NEAR(gain, 0.5956621435290105, 1e-12);  // -4.5 dB

    // Back below the threshold the gain recovers with the 100 ms release: after 100 ms the
    // remaining reduction is 1/e of 4.5 dB.
    for (int i = 0; i < 4410; i++)
        gain = model.gainForKey(0.1);
    EXPECT_NEAR(20.0 * std::log10(gain), -4.5 / std::exp(1.0), 1e-9);
}

TEST(ReferenceModelAnchors, StaticCurveAtTenToOne)
{
    ReferenceModel model;
    model.setParameter(kref::kRatio, 1.0f);                                  // 10:1
    model.setParameter(kref::kThreshold, static_cast<float>(std::pow(10.0, -20.0 / 60.0)));  // ~-20 dB
    const double level = 20.0 * std::log10(0.5);
    const double threshold = static_cast<double>(model.thresholdDB);
    float in[4][1] = {{0.5f}, {-0.25f}, {0.0f}, {0.0f}};
    float out[2][1];
    const float* inputs[4] = {in[0], in[1], in[2], in[3]};
    float* outputs[2] = {out[0], out[1]};
    for (int i = 0; i < 44100; i++)
        model.process(inputs, outputs, 1);
    const double expectedDB = threshold + 0.1 * (level - threshold);
    EXPECT_NEAR(20.0 * std::log10(static_cast<double>(out[0][0])), expectedDB, 1e-5);
    EXPECT_NEAR(static_cast<double>(out[1][0]) / static_cast<double>(out[0][0]), -0.5, 1e-6);  // linked
}

TEST(ReferenceModelAnchors, NonFiniteKeysKeepTheEnvelope)
{
    ReferenceModel model;
    model.setParameter(kref::kRatio, 1.0f);
    model.setParameter(kref::kThreshold, 0.1f);  // -60 dB
    model.gainForKey(0.5);
    const double held = model.dynamics.envelope;
    const double heldGain = dynref::toLin((model.dynamics.slope - 1.0) * (held - dynref::kOffset));
    EXPECT_EQ(model.gainForKey(kNaN), heldGain);
    EXPECT_EQ(model.gainForKey(kInf), heldGain);
    EXPECT_EQ(model.gainForKey(-kInf), heldGain);
    EXPECT_EQ(model.dynamics.envelope, held);
    // The link ignores a NaN in the second channel only.
    EXPECT_EQ(dynref::Compressor::link(0.5, -0.7), 0.7);
    EXPECT_EQ(dynref::Compressor::link(-0.5, kNaN), 0.5);
    EXPECT_TRUE(std::isnan(dynref::Compressor::link(kNaN, 0.5)));
}

// --- the module against the model ---------------------------------------------------------------

const float kRates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
const int kBlockSizes[] = {1, 2, 3, 64, 511, 512, 4096, 0};  // 0: random, varying sizes

class ModuleMatchesModel : public ::testing::TestWithParam<std::tuple<float, int>>
{
};

// Long signals with parameter changes between blocks: random values for all six parameters
// (outside 0..1 and NaN included), so both key sources take turns.
TEST_P(ModuleMatchesModel, OverALongSignalWithParameterChanges)
{
    const float rate = std::get<0>(GetParam());
    const int blockSize = std::get<1>(GetParam());
    const std::uint64_t seed = runSeed(static_cast<std::uint64_t>(rate) * 10000u + static_cast<std::uint64_t>(blockSize));
    ANNOUNCE_SEED(seed);
    Random random(seed);
    const Signal signal = makeSignal(random, rate, 2.5);

    Session session(signal, rate, blockSize > 0 ? blockSize : 4096);
    Schedule schedule;
    schedule.blockSize = blockSize;
    drive(session, random, rate, schedule);

    EXPECT_TRUE(session.matchesModel());
    EXPECT_LT(session.model().lowestGain, kWorkingGain);
}

std::string matrixName(const ::testing::TestParamInfo<std::tuple<float, int>>& info)
{
    const int block = std::get<1>(info.param);
    return "rate" + std::to_string(static_cast<int>(std::get<0>(info.param))) + "_block" +
           (block > 0 ? std::to_string(block) : std::string("Random"));
}

INSTANTIATE_TEST_SUITE_P(RatesAndBlockSizes, ModuleMatchesModel,
                         ::testing::Combine(::testing::ValuesIn(kRates), ::testing::ValuesIn(kBlockSizes)),
                         matrixName);

// Each key source held for a whole signal. With the sidechain off the sidechain inputs must not
// matter at all: different sidechain material gives the same output bits.
TEST(ModuleAgainstModel, BothKeySourcesWithAnIndependentSidechain)
{
    const float rate = 48000.0f;
    for (int sidechain = 0; sidechain <= 1; sidechain++)
    {
        SCOPED_TRACE(sidechain ? "keyed by the sidechain" : "keyed by the main pair");
        const std::uint64_t seed = runSeed(100 + static_cast<std::uint64_t>(sidechain));
        ANNOUNCE_SEED(seed);
        Random random(seed);
        const Signal signal = makeSignal(random, rate, 3.0);
        Schedule schedule;
        schedule.sidechain = sidechain;
        schedule.changeSpacingMs = 300.0;

        Session session(signal, rate, 4096);
        Random scheduleRandom(seed + 1);
        drive(session, scheduleRandom, rate, schedule);
        EXPECT_TRUE(session.matchesModel());
        EXPECT_LT(session.model().lowestGain, kWorkingGain);

        Signal otherSidechain = signal;
        Random sidechainRandom(seed + 2);
        fillPair(sidechainRandom, rate, otherSidechain.channels[2], otherSidechain.channels[3]);
        Session again(otherSidechain, rate, 4096);
        Random sameSchedule(seed + 1);
        drive(again, sameSchedule, rate, schedule);
        EXPECT_TRUE(again.matchesModel());
        const bool same = sameBits(again.moduleOutput(), session.moduleOutput());
        if (sidechain == 0)
            EXPECT_TRUE(same) << "with the sidechain off the sidechain inputs changed the output";
        else
            EXPECT_FALSE(same) << "with the sidechain on other sidechain inputs changed nothing";
    }
}

// resume() returns the envelope to rest: the module follows the model through it, and what comes
// after equals a fresh instance fed only the rest of the signal.
TEST(ModuleAgainstModel, ResumeMidStreamResetsTheEnvelope)
{
    const float rate = 44100.0f;
    const std::uint64_t seed = runSeed(200);
    ANNOUNCE_SEED(seed);
    Random random(seed);
    Signal signal = makeSignal(random, rate, 2.0);
    const std::size_t half = signal.frames / 2;
    // Loud just before the resume, so the envelope is far from rest when it comes.
    for (std::size_t i = half - 4410; i < half; i++)
        signal.channels[0][i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)));

    const float settings[kref::kParameterCount] = {0.3f, 0.9f, 1.0f, 0.0f, 0.1f, 0.6f};  // 10:1 at -60 dB
    Session session(signal, rate, 512);
    for (int index = 0; index < kref::kParameterCount; index++)
        session.setParameter(index, settings[index]);
    Random blocks(seed + 1);
    while (session.position() < half)
        session.process(static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(nextBlockSize(blocks, 0)),
                                                               half - session.position())));
    ASSERT_GT(session.model().dynamics.envelope, 20.0) << "the envelope should be deep in compression here";
    session.resume();
    while (!session.finished())
        session.process(nextBlockSize(blocks, 0));
    EXPECT_TRUE(session.matchesModel());

    Signal rest(signal.frames - half);
    for (int c = 0; c < 4; c++)
        std::copy(signal.channels[c].begin() + static_cast<std::ptrdiff_t>(half), signal.channels[c].end(),
                  rest.channels[c].begin());
    Session fresh(rest, rate, 512);
    for (int index = 0; index < kref::kParameterCount; index++)
        fresh.setParameter(index, settings[index]);
    while (!fresh.finished())
        fresh.process(512);
    EXPECT_TRUE(fresh.matchesModel());
    for (int c = 0; c < 2; c++)
    {
        const std::vector<float> after(session.moduleOutput().channels[c].begin() + static_cast<std::ptrdiff_t>(half),
                                       session.moduleOutput().channels[c].end());
        const std::size_t frame = firstDifference(fresh.moduleOutput().channels[c], after);
        EXPECT_EQ(frame, after.size()) << "channel " << c << " after resume differs from a fresh instance at frame "
                                       << half + frame;
    }
}

// Sample-rate changes between blocks: valid rates recompute the coefficients and keep the
// envelope; 0, negative, NaN and infinite rates are ignored.
TEST(ModuleAgainstModel, SampleRateChangesMidStream)
{
    const std::uint64_t seed = runSeed(300);
    ANNOUNCE_SEED(seed);
    Random random(seed);
    const Signal signal = makeSignal(random, 48000.0, 3.0);
    const float rates[] = {96000.0f, 0.0f, -48000.0f, kNaN, 22050.0f, kInf, -kInf, -0.0f,
                           192000.0f, 1.0f, std::numeric_limits<float>::denorm_min(), 44100.0f, kNaN};
    Session session(signal, 44100.0f, 256);
    const std::size_t stride = signal.frames / (sizeof rates / sizeof rates[0] + 1);
    std::size_t nextRate = stride;
    std::size_t rateIndex = 0;
    std::size_t nextChange = 0;
    while (!session.finished())
    {
        if (session.position() >= nextRate && rateIndex < sizeof rates / sizeof rates[0])
        {
            session.setSampleRate(rates[rateIndex++]);
            nextRate += stride;
        }
        if (session.position() >= nextChange)
        {
            for (int index = 0; index < kref::kParameterCount; index++)
                session.setParameter(index, randomNormalised(random, index));
            nextChange = session.position() + static_cast<std::size_t>(random.uniform(0.02, 0.2) * 48000.0);
        }
        session.process(nextBlockSize(random, 0));
    }
    EXPECT_TRUE(session.matchesModel());
    EXPECT_LT(session.model().lowestGain, kWorkingGain);
}

// Outputs that alias the inputs: the same channels, the main pair swapped, and the sidechain pair
// while it keys the compressor. The module must still equal the model run apart.
TEST(ModuleAgainstModel, InPlaceBuffers)
{
    const float rate = 44100.0f;
    const Layout layouts[] = {Layout::InPlace, Layout::InPlaceSwapped, Layout::OverSidechain};
    const char* names[] = {"in place", "in place, swapped", "over the sidechain inputs"};
    for (int i = 0; i < 3; i++)
    {
        SCOPED_TRACE(names[i]);
        const std::uint64_t seed = runSeed(400 + static_cast<std::uint64_t>(i));
        ANNOUNCE_SEED(seed);
        Random random(seed);
        const Signal signal = makeSignal(random, rate, 2.0);
        Session session(signal, rate, 1024, layouts[i]);
        Schedule schedule;
        schedule.blockSize = 0;
        if (layouts[i] == Layout::OverSidechain)
            schedule.sidechain = 1;
        drive(session, random, rate, schedule);
        EXPECT_TRUE(session.matchesModel());
        EXPECT_LT(session.model().lowestGain, kWorkingGain);
    }
}

// NaN and infinities in the channels that key the compressor, single and in runs, in both key
// modes: the module agrees with the model bit for bit (NaN outputs included) and every frame with
// finite main samples comes out finite, during and after the bad frames.
TEST(ModuleAgainstModel, NonFiniteKeySamples)
{
    const float rate = 48000.0f;
    const float bad[] = {kNaN, kInf, -kInf};
    for (int sidechain = 0; sidechain <= 1; sidechain++)
    {
        SCOPED_TRACE(sidechain ? "keyed by the sidechain" : "keyed by the main pair");
        const std::uint64_t seed = runSeed(500 + static_cast<std::uint64_t>(sidechain));
        ANNOUNCE_SEED(seed);
        Random random(seed);
        Signal signal = makeSignal(random, rate, 2.0);
        const int firstKey = sidechain ? 2 : 0;
        int injected = 0;
        for (std::size_t frame = 1000; frame < signal.frames; frame += 1000 + static_cast<std::size_t>(random.below(4000)))
        {
            const std::size_t run = random.chance(0.3) ? 1 + static_cast<std::size_t>(random.below(300)) : 1;
            const int which = random.below(3);  // first key channel, second, or both
            for (std::size_t k = frame; k < std::min(frame + run, signal.frames); k++)
            {
                const float value = bad[random.below(3)];
                if (which != 1)
                    signal.channels[firstKey][k] = value;
                if (which != 0)
                    signal.channels[firstKey + 1][k] = value;
                injected++;
            }
            // Channels that do not key the compressor get junk too; it must not matter.
            if (!sidechain)
                signal.channels[2][frame] = kNaN;
        }

        Session session(signal, rate, 512);
        Schedule schedule;
        schedule.blockSize = 0;
        schedule.sidechain = sidechain;
        schedule.changeSpacingMs = 200.0;
        drive(session, random, rate, schedule);
        EXPECT_GT(injected, 100);
        EXPECT_TRUE(session.matchesModel());
        EXPECT_TRUE(std::isfinite(session.model().dynamics.envelope));

        std::size_t finiteFrames = 0;
        for (std::size_t frame = 0; frame < signal.frames; frame++)
        {
            if (!std::isfinite(signal.channels[0][frame]) || !std::isfinite(signal.channels[1][frame]))
                continue;
            finiteFrames++;
            const float left = session.moduleOutput().channels[0][frame];
            const float right = session.moduleOutput().channels[1][frame];
            if (!std::isfinite(left) || !std::isfinite(right))
            {
                ADD_FAILURE() << "frame " << frame << " has finite inputs but outputs " << describe(left) << ", "
                              << describe(right);
                break;
            }
        }
        EXPECT_GT(finiteFrames, signal.frames / 2);
    }
}

// The same signal with fixed parameters gives the same bits for every block size: the block
// boundaries carry no state of their own.
TEST(ModuleProperties, BlockSizeInvariance)
{
    const float rate = 44100.0f;
    const std::uint64_t seed = runSeed(600);
    ANNOUNCE_SEED(seed);
    Random random(seed);
    const Signal signal = makeSignal(random, rate, 1.5);
    float settings[kref::kParameterCount];
    for (int index = 0; index < kref::kParameterCount; index++)
        settings[index] = static_cast<float>(random.uniform());
    // A quick attack and a slower release, so the peak follower really holds the gain down.
    settings[kref::kAttack] = static_cast<float>(random.uniform(0.0, 0.3));
    settings[kref::kRelease] = static_cast<float>(random.uniform(0.2, 1.0));
    settings[kref::kRatio] = static_cast<float>(random.uniform(0.5, 1.0));
    // 15..30 dB under the peak of the quieter pair, whatever level the seed gave the signal, so
    // either pair keys real gain reduction.
    float peaks[2] = {0.0f, 0.0f};
    for (int c = 0; c < 4; c++)
        for (float sample : signal.channels[c])
            peaks[c / 2] = std::max(peaks[c / 2], std::fabs(sample));
    const double quieterDB = 20.0 * std::log10(static_cast<double>(std::min(peaks[0], peaks[1])));
    const double thresholdDB = quieterDB - random.uniform(15.0, 30.0);
    settings[kref::kThreshold] = static_cast<float>(std::pow(10.0, std::min(thresholdDB, 0.0) / 60.0));
    for (int sidechain = 0; sidechain <= 1; sidechain++)
    {
        settings[kref::kUseSidechain] = sidechain ? 1.0f : 0.0f;
        std::printf("fixed parameters:");
        for (float value : settings)
            std::printf(" %s", describe(value).c_str());
        std::printf("\n");

        std::unique_ptr<Output> reference;
        for (int blockSize : kBlockSizes)
        {
            SCOPED_TRACE("block size " + (blockSize > 0 ? std::to_string(blockSize) : std::string("random")));
            Session session(signal, rate, blockSize > 0 ? blockSize : 4096);
            for (int index = 0; index < kref::kParameterCount; index++)
                session.setParameter(index, settings[index]);
            Random blocks(seed + 7);
            while (!session.finished())
                session.process(nextBlockSize(blocks, blockSize));
            EXPECT_LT(session.model().lowestGain, kWorkingGain);
            if (!reference)
            {
                reference.reset(new Output(session.moduleOutput()));
                continue;
            }
            for (int c = 0; c < 2; c++)
            {
                const auto& got = session.moduleOutput().channels[c];
                const auto& want = reference->channels[c];
                const std::size_t frame = firstDifference(got, want);
                if (frame < got.size())
                    ADD_FAILURE() << "channel " << c << " differs from the block-size-1 run at frame " << frame
                                  << ": " << describe(got[frame]) << " vs " << describe(want[frame]);
            }
        }
    }
}

}  // namespace
