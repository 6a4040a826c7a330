// The block forms of the peak compressor (gains(), quietGain()) and the bounds their shortcuts
// rest on (quietLevelLimit(), the unity exponent range), against the maths library itself and the
// per-frame reference model: every factor must have the bits the model gives frame by frame.

#include "BLSimpleComp.h"
#include "Bits.h"
#include "DynamicsReference.h"
#include "TestSeed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using VAZiro::BLSimpleComp;

namespace
{

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using kestrune_test::bitsOf;
using kestrune_test::doubleFromBits;

bool sameBits(double a, double b)
{
    return bitsOf(a) == bitsOf(b);
}

// pow(10, x) as the gain computer would take it, straight from the maths library.
double libraryPower(double x)
{
    return std::pow(10.0, x);
}

// --- the unity exponent range ------------------------------------------------------------------

// Every double between the bound and 0 must give exactly 1.0. All of them is too many to try, so:
// every one of the 2^20 doubles nearest each bound (where 10^x lies farthest from 1), every
// binade below that at its ends and at seeded points in between, and the zeros.
TEST(UnityExponentRange, TheMathsLibraryGivesExactlyOneThroughout)
{
    const double bounds[] = {BLSimpleComp::kUnityExponentMin, BLSimpleComp::kUnityExponentMax};
    ASSERT_LT(BLSimpleComp::kUnityExponentMin, 0.0);
    ASSERT_GT(BLSimpleComp::kUnityExponentMax, 0.0);
    std::mt19937 random = kestrune_test::seededGenerator();
    for (const double bound : bounds)
    {
        SCOPED_TRACE(bound);
        std::uint64_t bits = bitsOf(bound);
        int failures = 0;
        for (int step = 0; step < (1 << 20) && failures < 5; step++, bits--)
        {
            const double x = doubleFromBits(bits);
            if (libraryPower(x) != 1.0)
            {
                ADD_FAILURE() << "pow(10, " << x << ") = " << libraryPower(x);
                failures++;
            }
        }
        // Binade by binade from the bound's down to the subnormals.
        const std::uint64_t sign = bitsOf(bound) & (1ull << 63);
        const int topExponent = static_cast<int>((bitsOf(bound) >> 52) & 0x7FF);
        for (int exponent = topExponent; exponent >= 0 && failures < 5; exponent--)
        {
            const std::uint64_t base = sign | (static_cast<std::uint64_t>(exponent) << 52);
            const std::uint64_t lastMantissa = exponent == topExponent ? (bitsOf(bound) & 0xFFFFFFFFFFFFFull)
                                                                       : 0xFFFFFFFFFFFFFull;
            std::uniform_int_distribution<std::uint64_t> mantissa(0, lastMantissa);
            for (int sample = 0; sample < 66; sample++)
            {
                const std::uint64_t m = sample == 0 ? 0 : sample == 1 ? lastMantissa : mantissa(random);
                const double x = doubleFromBits(base | m);
                if (libraryPower(x) != 1.0)
                {
                    ADD_FAILURE() << "pow(10, " << x << ") = " << libraryPower(x);
                    failures++;
                }
            }
        }
    }
    EXPECT_EQ(libraryPower(0.0), 1.0);
    EXPECT_EQ(libraryPower(-0.0), 1.0);
}

// The range is not so wide that the property above would hold of any range: twice as far out, the
// library already rounds away from 1.0 (10^x lies more than half an ulp from it there).
TEST(UnityExponentRange, TwiceAsFarOutThePowerIsNoLongerOne)
{
    EXPECT_NE(libraryPower(4.0 * BLSimpleComp::kUnityExponentMin), 1.0);
    EXPECT_NE(libraryPower(4.0 * BLSimpleComp::kUnityExponentMax), 1.0);
    EXPECT_LT(libraryPower(4.0 * BLSimpleComp::kUnityExponentMin), 1.0);
    EXPECT_GT(libraryPower(4.0 * BLSimpleComp::kUnityExponentMax), 1.0);
}

// The release check works on the reduction in dB: anything within 20 * 2^-56 dB of 0 must divide
// by 20 into the range, including the bound itself and its rounding neighbours inside.
TEST(UnityExponentRange, ReductionsWithinTheBoundDivideIntoTheRange)
{
    const double bound = 20.0 * -BLSimpleComp::kUnityExponentMin;
    for (double reduction : {bound, -bound, std::nextafter(bound, 0.0), std::nextafter(-bound, 0.0), 0.0, -0.0,
                             std::numeric_limits<double>::denorm_min()})
    {
        const double exponent = reduction / 20.0;
        EXPECT_GE(exponent, BLSimpleComp::kUnityExponentMin) << reduction;
        EXPECT_LE(exponent, BLSimpleComp::kUnityExponentMax) << reduction;
        EXPECT_EQ(libraryPower(exponent), 1.0) << reduction;
    }
}

// --- the quiet level limit ---------------------------------------------------------------------

// 20 * log10(level) - threshold, as the gain computer measures a level, straight from the library.
double overOf(double level, double thresholdDB)
{
    return 20.0 * std::log10(level) - thresholdDB;
}

std::vector<double> testThresholds()
{
    std::vector<double> thresholds = {0.0,    -0.0,   -6.0,    -30.0,  -60.0,  -119.99, -120.0, -180.0,
                                      -300.0, -470.0, -479.5,  -480.0, -490.0, -499.9,  -500.0, -500.1,
                                      -2691.0, 6.0,   40.0,    1000.0, 6153.0, 6160.0,  7000.0};
    std::mt19937 random = kestrune_test::seededGenerator();
    std::uniform_real_distribution<double> spread(-520.0, 60.0);
    for (int i = 0; i < 400; i++)
        thresholds.push_back(spread(random));
    return thresholds;
}

// Every level below the limit lies at or under the threshold by the exact computation: the largest
// double below it, the 4096 below that, and seeded ones from DC_OFFSET up to it.
TEST(QuietLevelLimit, EveryLevelBelowItIsUnderTheThreshold)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    for (const double thresholdDB : testThresholds())
    {
        BLSimpleComp comp;
        comp.setThreshold(thresholdDB);
        const double limit = comp.quietLevelLimit();
        SCOPED_TRACE(thresholdDB);
        ASSERT_FALSE(std::isnan(limit));
        ASSERT_GE(limit, 0.0);
        if (!(limit > dynref::kOffset))
            continue;  // no level (they start at DC_OFFSET) is quiet
        double level = std::isfinite(limit) ? limit : std::numeric_limits<double>::max();
        for (int step = 0; step < 4096; step++)
        {
            level = std::nextafter(level, 0.0);
            ASSERT_LE(overOf(level, thresholdDB), 0.0) << "level " << level << " below the limit " << limit;
        }
        const double top = std::isfinite(limit) ? limit : std::numeric_limits<double>::max();
        std::uniform_real_distribution<double> logSpread(std::log(dynref::kOffset), std::log(top));
        for (int sample = 0; sample < 200; sample++)
        {
            const double candidate = std::exp(logSpread(random));
            if (candidate < limit)
            {
                ASSERT_LE(overOf(candidate, thresholdDB), 0.0) << "level " << candidate;
            }
        }
    }
}

// The limit is worth having: within 2^-19 of the threshold level wherever that level lies between
// silence and the largest double, so every frame below the threshold by more than 1e-5 dB skips
// its logarithm.
TEST(QuietLevelLimit, LiesJustBelowTheThresholdLevel)
{
    for (const double thresholdDB : testThresholds())
    {
        BLSimpleComp comp;
        comp.setThreshold(thresholdDB);
        const double level = std::pow(10.0, thresholdDB / 20.0);
        SCOPED_TRACE(thresholdDB);
        if (thresholdDB > -499.0 && thresholdDB < 6150.0)
        {
            EXPECT_GE(comp.quietLevelLimit(), level * (1.0 - 0x1p-19));
            EXPECT_LT(comp.quietLevelLimit(), level);
        }
        if (thresholdDB <= -500.0)
        {
            EXPECT_LE(comp.quietLevelLimit(), dynref::kOffset) << "silence itself lies above this threshold";
        }
        if (thresholdDB > 6166.0)  // the threshold level itself is beyond the largest double
        {
            EXPECT_EQ(comp.quietLevelLimit(), kInf);
        }
    }
}

TEST(QuietLevelLimit, ThresholdsThatAreNotFiniteLeaveNothingOrEverythingQuiet)
{
    BLSimpleComp comp;
    comp.setThreshold(kNaN);
    EXPECT_FALSE(1.0 < comp.quietLevelLimit());
    EXPECT_FALSE(dynref::kOffset < comp.quietLevelLimit());
    comp.setThreshold(-kInf);
    EXPECT_FALSE(dynref::kOffset < comp.quietLevelLimit());
    comp.setThreshold(kInf);
    EXPECT_TRUE(std::numeric_limits<double>::max() < comp.quietLevelLimit());
    // The limit follows every change.
    comp.setThreshold(-20.0);
    EXPECT_NEAR(comp.quietLevelLimit(), 0.1, 1e-6);
}

// --- the block gain computer against the model -----------------------------------------------

struct Settings
{
    double thresholdDB;
    double slope;
    double attackMs;
    double releaseMs;
    double sampleRate;
};

void configure(BLSimpleComp& comp, dynref::Compressor& model, const Settings& s)
{
    comp.setSampleRate(s.sampleRate);
    comp.setAttackTime(s.attackMs);
    comp.setReleaseTime(s.releaseMs);
    comp.setThreshold(s.thresholdDB);
    comp.setRatio(s.slope);
    model.setRate(s.attackMs, s.releaseMs, s.sampleRate);
    model.thresholdDB = s.thresholdDB;
    model.slope = s.slope;
}

double levelOf(double key)
{
    return std::fabs(key) + dynref::kOffset;
}

// How blocks are handed to the compressor, as a host's audio path might.
enum class Driving
{
    GainsOnly,        // gains() without the promise
    Honest,           // quietGain() for all-quiet blocks, the promise where no level is quiet
    AlwaysPromising,  // quietGain() as above, the promise given for every block, true or not
    Resting,          // quietGain(), else restGains() for all-quiet blocks; the promise where at most
                      // a quarter of the levels is quiet, as the plug-in's block code drives it
};

// Runs keys through the block forms in blocks of the given sizes (cycled) and compares every factor
// with the model, frame by frame. Returns how many blocks quietGain() took.
int runAgainstModel(BLSimpleComp& comp, dynref::Compressor& model, const std::vector<double>& keys,
                    const std::vector<int>& sizes, Driving driving)
{
    int quietBlocks = 0;
    std::vector<double> levels;
    std::vector<double> gains;
    std::size_t at = 0;
    for (std::size_t block = 0; at < keys.size(); block++)
    {
        const int n = static_cast<int>(std::min<std::size_t>(sizes[block % sizes.size()], keys.size() - at));
        levels.assign(n, 0.0);
        gains.assign(n, -1.0);
        bool allQuiet = true;
        bool noneQuiet = true;
        for (int i = 0; i < n; i++)
        {
            levels[i] = levelOf(keys[at + i]);
            const bool quiet = levels[i] < comp.quietLevelLimit();
            allQuiet = allQuiet && quiet;
            noneQuiet = noneQuiet && !quiet;
        }
        int quietCount = 0;
        for (int i = 0; i < n; i++)
            quietCount += levels[i] < comp.quietLevelLimit() ? 1 : 0;
        double gain = 0.0;
        if (driving != Driving::GainsOnly && allQuiet && comp.quietGain(n, gain))
        {
            quietBlocks++;
            std::fill(gains.begin(), gains.end(), gain);
        }
        else if (driving == Driving::Resting && allQuiet)
        {
            comp.restGains(gains.data(), n);
        }
        else
        {
            const bool promise = driving == Driving::AlwaysPromising || (driving == Driving::Honest && noneQuiet) ||
                                 (driving == Driving::Resting && quietCount <= n / 4);
            comp.gains(levels.data(), gains.data(), n, promise);
        }
        for (int i = 0; i < n; i++)
        {
            const double expected = model.gain(keys[at + i]);
            if (!sameBits(gains[i], expected))
            {
                ADD_FAILURE() << "frame " << at + i << " (block of " << n << "), key " << keys[at + i] << ": factor "
                              << gains[i] << ", the model's " << expected;
                return quietBlocks;
            }
        }
        at += static_cast<std::size_t>(n);
    }
    return quietBlocks;
}

// Keys from loud passages, stretches just around the threshold level and the quiet limit (every
// double within a few ulps of either), silence long enough for a release to end, and non-finite
// and huge samples.
std::vector<double> testKeys(std::mt19937& random, const BLSimpleComp& comp, double thresholdDB, int frames)
{
    std::vector<double> keys;
    const double thresholdLevel = std::pow(10.0, thresholdDB / 20.0);
    const double limit = comp.quietLevelLimit();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    while (static_cast<int>(keys.size()) < frames)
    {
        const int kind = static_cast<int>(unit(random) * 8.0);
        const int length = 1 + static_cast<int>(unit(random) * 1500.0);
        for (int i = 0; i < length; i++)
        {
            double key = 0.0;
            switch (kind)
            {
            case 0:  // loud, both signs
                key = (unit(random) - 0.5) * 4.0 * thresholdLevel + thresholdLevel * 2.0;
                break;
            case 1:  // around the threshold level, ulp by ulp
                key = thresholdLevel * (1.0 + (unit(random) - 0.5) * 64.0 * 0x1p-52);
                break;
            case 2:  // around the quiet limit, ulp by ulp, less the offset
                key = (std::isfinite(limit) ? limit : 1.0) * (1.0 + (unit(random) - 0.5) * 64.0 * 0x1p-52) -
                      dynref::kOffset;
                break;
            case 3:  // silence
            case 4:
                key = (unit(random) < 0.5) ? 0.0 : -0.0;
                break;
            case 5:  // quiet
                key = thresholdLevel * unit(random) * 0.5;
                break;
            case 6:  // rare oddities among loud samples
            {
                const double odd[] = {kNaN, kInf, -kInf, 1e300, std::numeric_limits<double>::max(),
                                      std::numeric_limits<double>::denorm_min()};
                key = unit(random) < 0.02 ? odd[static_cast<int>(unit(random) * 6.0)] : 3.0 * thresholdLevel;
                break;
            }
            default:  // a swept step
                key = thresholdLevel * std::pow(10.0, (unit(random) - 0.7) * 2.0);
                break;
            }
            keys.push_back(key);
        }
    }
    keys.resize(static_cast<std::size_t>(frames));
    return keys;
}

TEST(BlockGains, MatchTheModelFrameByFrame)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    const Settings settings[] = {
        {-30.0, 0.25, 10.0, 100.0, 48000.0}, {-12.0, 0.1, 0.1, 1.0, 44100.0},    {0.0, 0.5, 3.0, 20.0, 96000.0},
        {-60.0, 1.0, 10.0, 100.0, 48000.0},  {-180.0, 0.5, 1.0, 5.0, 22050.0},   {-2691.0, 0.25, 1.0, 5.0, 48000.0},
        {6.0, 2.0, 1.0, 50.0, 48000.0},      {-490.0, 0.3, 0.5, 2.0, 192000.0}, {-20.0, -3.0, 2.0, kInf, 48000.0},
    };
    const std::vector<int> sizeSets[] = {{1}, {2, 3, 5}, {64}, {255, 256, 257}, {511}, {4096}, {17, 600, 1, 333}};
    for (const Settings& s : settings)
    {
        for (const Driving driving :
             {Driving::GainsOnly, Driving::Honest, Driving::AlwaysPromising, Driving::Resting})
        {
            SCOPED_TRACE(::testing::Message() << "threshold " << s.thresholdDB << " dB, slope " << s.slope
                                              << ", driving " << static_cast<int>(driving));
            BLSimpleComp comp;
            dynref::Compressor model;
            configure(comp, model, s);
            const std::vector<double> keys = testKeys(random, comp, s.thresholdDB, 12000);
            for (const std::vector<int>& sizes : sizeSets)
                runAgainstModel(comp, model, keys, sizes, driving);
        }
    }
}

// A NaN or infinite level inside a block given the promise: the block is done again with the
// checks, and the envelope is that of a compressor that skipped the bad frame.
TEST(BlockGains, ABrokenPromiseCostsNoBits)
{
    const double bad[] = {kNaN, kInf, -kInf};
    for (const double badKey : bad)
    {
        for (int position : {0, 1, 100, 255})
        {
            SCOPED_TRACE(::testing::Message() << "key " << badKey << " at " << position);
            BLSimpleComp comp;
            dynref::Compressor model;
            configure(comp, model, {-30.0, 0.25, 1.0, 10.0, 48000.0});
            std::vector<double> keys(2048, 0.5);
            for (std::size_t i = 0; i < keys.size(); i++)
                keys[i] = 0.3 + 0.2 * std::sin(0.01 * static_cast<double>(i));
            keys[position] = badKey;
            keys[position + 512] = badKey;
            runAgainstModel(comp, model, keys, {256}, Driving::AlwaysPromising);
        }
    }
}

// --- quiet blocks ------------------------------------------------------------------------------

// A fresh compressor is at rest: any number of quiet frames gets exactly 1.0, and stays at rest.
TEST(QuietGain, AtRestEveryQuietBlockIsUnity)
{
    BLSimpleComp comp;
    comp.setThreshold(-30.0);
    comp.setRatio(0.25);
    for (int n : {1, 2, 64, 256, 4096})
    {
        double gain = 0.0;
        ASSERT_TRUE(comp.quietGain(n, gain));
        EXPECT_EQ(gain, 1.0);
    }
    // Still at rest: a loud frame now gets the model's first attack step from rest.
    dynref::Compressor model;
    model.thresholdDB = -30.0;
    model.slope = 0.25;
    const double level = levelOf(1.0);
    double factor = 0.0;
    comp.gains(&level, &factor, 1);
    EXPECT_TRUE(sameBits(factor, model.gain(1.0)));
}

// After compression, silence: first the release moves the gain (quietGain declines and changes
// nothing), then the gain is exactly 1.0 while the envelope still moves (quietGain takes whole
// blocks), then the envelope stops where a release step no longer moves it. Every frame matches
// the model, through all three phases and back into compression.
TEST(QuietGain, ThroughAReleaseTail)
{
    for (const int blockSize : {1, 7, 64, 256, 1000})
    {
        SCOPED_TRACE(blockSize);
        std::vector<double> keys;
        for (int i = 0; i < 2000; i++)
            keys.push_back(0.5 * std::sin(0.05 * i) + 0.6);
        keys.resize(keys.size() + 20000, 0.0);
        for (int i = 0; i < 2000; i++)
            keys.push_back(0.9);
        for (const Driving driving : {Driving::Honest, Driving::Resting})
        {
            SCOPED_TRACE(static_cast<int>(driving));
            BLSimpleComp comp;
            dynref::Compressor model;
            configure(comp, model, {-30.0, 0.25, 1.0, 1.0, 48000.0});
            const int quietBlocks = runAgainstModel(comp, model, keys, {blockSize}, driving);
            EXPECT_GT(quietBlocks, 0);
        }
    }
}

// A bass that crosses zero under the threshold a few frames at a time, in almost every block, and
// its release tail: blocks with a few quiet levels take the loud pass, all-quiet blocks of the
// moving release the rest pass, and every factor is the model's.
TEST(BlockGains, BassCrossingZeroAndItsTail)
{
    std::vector<double> keys;
    for (int i = 0; i < 24000; i++)
        keys.push_back(0.3 * std::sin(2.0 * 3.14159265358979 * 110.0 * i / 48000.0));
    keys.resize(keys.size() + 48000, 0.0);
    BLSimpleComp probe;
    probe.setThreshold(-30.0);
    int fewQuiet = 0;
    for (std::size_t at = 0; at + 256 <= 24000; at += 256)
    {
        int quiet = 0;
        for (std::size_t i = at; i < at + 256; i++)
            quiet += levelOf(keys[i]) < probe.quietLevelLimit() ? 1 : 0;
        fewQuiet += (quiet > 0 && quiet <= 64) ? 1 : 0;
    }
    EXPECT_GT(fewQuiet, 80) << "the bass leaves most blocks with a few quiet levels";
    for (const int blockSize : {256, 100, 512})
    {
        SCOPED_TRACE(blockSize);
        BLSimpleComp comp;
        dynref::Compressor model;
        configure(comp, model, {-30.0, 0.25, 10.0, 100.0, 48000.0});
        runAgainstModel(comp, model, keys, {blockSize}, Driving::Resting);
    }
}

// The phases of that tail as the model sees them, so the test above covers what it claims: frames
// with a moving envelope and a factor of exactly 1.0, and an envelope that stops above rest.
TEST(QuietGain, TheReleaseTailHasAUnityPhaseAndStopsAboveRest)
{
    dynref::Compressor model;
    model.setRate(1.0, 1.0, 48000.0);
    model.thresholdDB = -30.0;
    model.slope = 0.25;
    for (int i = 0; i < 2000; i++)
        model.gain(1.0);
    int movingUnity = 0;
    double previous = model.envelope;
    for (int i = 0; i < 20000; i++)
    {
        const double gain = model.gain(0.0);
        if (gain == 1.0 && model.envelope != previous)
            movingUnity++;
        previous = model.envelope;
    }
    EXPECT_GT(movingUnity, 100);
    EXPECT_GT(model.envelope, dynref::kOffset) << "the release stops short of rest by rounding";
    const double settled = model.envelope;
    model.gain(0.0);
    EXPECT_EQ(model.envelope, settled);
}

// A settled envelope whose factor is not 1.0 (a slope so steep that the few ulps the release
// leaves above rest still count): every quiet frame gets that one factor, computed once.
TEST(QuietGain, SettledAboveRestGivesTheSettledFactor)
{
    for (const double slope : {1e30, -1e30})
    {
        SCOPED_TRACE(slope);
        BLSimpleComp comp;
        dynref::Compressor model;
        configure(comp, model, {-30.0, 0.25, 1.0, 1.0, 48000.0});
        std::vector<double> keys(3000, 0.8);
        keys.resize(30000, 0.0);
        runAgainstModel(comp, model, keys, {256}, Driving::Honest);
        comp.setRatio(slope);
        model.slope = slope;
        double gain = 0.0;
        ASSERT_TRUE(comp.quietGain(256, gain));
        EXPECT_NE(gain, 1.0);
        for (int i = 0; i < 256; i++)
            ASSERT_TRUE(sameBits(gain, model.gain(0.0))) << "frame " << i;
    }
}

// Declining leaves no trace: a compressor asked and refused gives the same factors afterwards as
// one never asked.
TEST(QuietGain, DecliningChangesNothing)
{
    BLSimpleComp asked;
    BLSimpleComp untouched;
    for (BLSimpleComp* comp : {&asked, &untouched})
    {
        comp->setThreshold(-30.0);
        comp->setRatio(0.25);
        const std::vector<double> loud(500, levelOf(0.9));
        std::vector<double> out(loud.size());
        comp->gains(loud.data(), out.data(), static_cast<int>(loud.size()));
    }
    double gain = 0.0;
    EXPECT_FALSE(asked.quietGain(256, gain));
    const std::vector<double> quiet(256, levelOf(0.0));
    std::vector<double> a(quiet.size());
    std::vector<double> b(quiet.size());
    asked.gains(quiet.data(), a.data(), 256);
    untouched.gains(quiet.data(), b.data(), 256);
    for (int i = 0; i < 256; i++)
        ASSERT_TRUE(sameBits(a[i], b[i])) << "frame " << i;
    EXPECT_LT(a[0], 1.0);
}

// The per-frame gain computer takes the same shortcuts: keys ulp by ulp around the threshold level
// and the quiet limit, release tails and thresholds far outside the usual range, against the model.
TEST(PerFrameShortcuts, MatchTheModel)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    for (const double thresholdDB : {-30.0, 0.0, -119.99, -180.0, -2691.0, -495.0, 12.0})
    {
        SCOPED_TRACE(thresholdDB);
        BLSimpleComp comp;
        dynref::Compressor model;
        configure(comp, model, {thresholdDB, 0.25, 0.5, 2.0, 48000.0});
        const std::vector<double> keys = testKeys(random, comp, thresholdDB, 30000);
        for (std::size_t i = 0; i < keys.size(); i++)
        {
            double in1 = 0.75;
            double in2 = -0.5;
            comp.process(in1, in2, keys[i]);
            const double g = model.gain(keys[i]);
            ASSERT_TRUE(sameBits(in1, 0.75 * g)) << "frame " << i << ", key " << keys[i];
            ASSERT_TRUE(sameBits(in2, -0.5 * g)) << "frame " << i;
        }
    }
}

}  // namespace
