// The shared block code of the plug-in editions (KestruneBlock.h) against the straightforward
// frame loop written from the formulas: the reference gain computer frame by frame, the makeup
// after it, each product rounded in order and the result rounded to float. Every output sample
// must have the model's bits, whatever the block size, buffer layout or sample values.

#include "BLSimpleComp.h"
#include "Bits.h"
#include "DynamicsReference.h"
#include "KestruneBlock.h"
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
using VAZiro::KestruneBlockState;
using VAZiro::KestruneSettings;

namespace
{

constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr double kRate = 48000.0;

using kestrune_test::bitsOf;
using kestrune_test::floatFromBits;

// Four input channels (main L, R, side L, R) and the model's two outputs.
struct Signal
{
    std::vector<float> channel[4];
    std::size_t frames() const { return channel[0].size(); }
};

// The frame loop as first written: per frame the linked key, the model's factor, then
// (sample * factor) * makeup rounded to float.
class FrameLoopModel
{
public:
    explicit FrameLoopModel(const KestruneSettings& s)
    {
        m_gain.setRate(static_cast<double>(s.attack), static_cast<double>(s.release), kRate);
        m_gain.thresholdDB = static_cast<double>(s.threshold);
        m_gain.slope = 1.0 / static_cast<double>(s.ratio);
        m_makeup = dynref::toLin(static_cast<double>(s.makeup));
        m_sidechain = s.useSidechain;
    }

    void run(const Signal& in, std::vector<float>& out1, std::vector<float>& out2)
    {
        out1.resize(in.frames());
        out2.resize(in.frames());
        for (std::size_t f = 0; f < in.frames(); f++)
        {
            const double left = in.channel[0][f];
            const double right = in.channel[1][f];
            const double key = m_sidechain ? dynref::Compressor::link(in.channel[2][f], in.channel[3][f])
                                           : dynref::Compressor::link(left, right);
            const double factor = m_gain.gain(key);
            const double compressed1 = left * factor;
            const double compressed2 = right * factor;
            out1[f] = static_cast<float>(compressed1 * m_makeup);
            out2[f] = static_cast<float>(compressed2 * m_makeup);
        }
    }

private:
    dynref::Compressor m_gain;
    double m_makeup = 1.0;
    bool m_sidechain = false;
};

// Where the block writes: apart, or over inputs (outputs may be the same buffers as any input).
enum class Layout
{
    Separate,
    InPlace,        // out1 = in1, out2 = in2
    Crossed,        // out1 = in2, out2 = in1
    OverSidechain,  // out1 = sc1, out2 = sc2
    CrossedOverSidechain
};

// Runs the signal through processKestruneBlock in blocks of the given sizes (cycled) and returns
// the first frame whose output bits differ from the model's, or the length when none does.
std::size_t firstDifference(const KestruneSettings& s, const Signal& signal, const std::vector<int>& sizes,
                            Layout layout = Layout::Separate)
{
    std::vector<float> expected1;
    std::vector<float> expected2;
    FrameLoopModel(s).run(signal, expected1, expected2);

    BLSimpleComp compressor;
    KestruneBlockState state(compressor, s, kRate);
    Signal work = signal;  // what the block reads, and overwrites when it works in place
    std::vector<float> apart1(signal.frames());
    std::vector<float> apart2(signal.frames());
    float* out1 = apart1.data();
    float* out2 = apart2.data();
    switch (layout)
    {
    case Layout::Separate: break;
    case Layout::InPlace: out1 = work.channel[0].data(); out2 = work.channel[1].data(); break;
    case Layout::Crossed: out1 = work.channel[1].data(); out2 = work.channel[0].data(); break;
    case Layout::OverSidechain: out1 = work.channel[2].data(); out2 = work.channel[3].data(); break;
    case Layout::CrossedOverSidechain: out1 = work.channel[3].data(); out2 = work.channel[2].data(); break;
    }
    std::size_t at = 0;
    for (std::size_t block = 0; at < signal.frames(); block++)
    {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(sizes[block % sizes.size()]),
                                                     signal.frames() - at);
        VAZiro::processKestruneBlock(state, work.channel[0].data() + at, work.channel[1].data() + at,
                                     work.channel[2].data() + at, work.channel[3].data() + at, out1 + at, out2 + at,
                                     static_cast<std::int32_t>(n));
        at += n;
    }
    for (std::size_t f = 0; f < signal.frames(); f++)
        if (bitsOf(out1[f]) != bitsOf(expected1[f]) || bitsOf(out2[f]) != bitsOf(expected2[f]))
            return f;
    return signal.frames();
}

// Segments that take every path: loud passages, exact silence long enough for the release to end,
// quiet noise below the threshold, single loud samples in silence, and samples at the threshold
// level; the sidechain pair gets its own mix of the same kinds.
void fillPair(std::mt19937& random, std::vector<float>& a, std::vector<float>& b, std::size_t frames,
              float thresholdLevel)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    a.clear();
    b.clear();
    while (a.size() < frames)
    {
        const int kind = static_cast<int>(unit(random) * 6.0);
        const std::size_t length = 1 + static_cast<std::size_t>(unit(random) * (kind == 1 ? 6000.0 : 1200.0));
        const double phase = unit(random) * 6.0;
        for (std::size_t i = 0; i < length; i++)
        {
            float x = 0.0f;
            float y = 0.0f;
            switch (kind)
            {
            case 0:  // loud
                x = static_cast<float>(0.7 * std::sin(0.031 * i + phase));
                y = static_cast<float>(0.6 * std::cos(0.017 * i));
                break;
            case 1:  // silence, both signs of zero
                x = (i % 3 == 0) ? -0.0f : 0.0f;
                y = 0.0f;
                break;
            case 2:  // quiet noise
                x = static_cast<float>(thresholdLevel * 0.3 * (unit(random) - 0.5));
                y = static_cast<float>(thresholdLevel * 0.1 * (unit(random) - 0.5));
                break;
            case 3:  // lone loud samples in silence
                x = (i % 97 == 13) ? 0.9f : 0.0f;
                break;
            case 4:  // at the threshold level, float by float
            {
                const int steps = static_cast<int>(unit(random) * 9.0) - 4;
                x = thresholdLevel;
                for (int k = 0; k < std::abs(steps); k++)
                    x = std::nextafter(x, steps < 0 ? 0.0f : kInfF);
                y = -x;
                break;
            }
            default:  // a fading note
                x = static_cast<float>(std::exp(-0.002 * i) * std::sin(0.05 * i));
                y = x * 0.5f;
                break;
            }
            a.push_back(x);
            b.push_back(y);
        }
    }
    a.resize(frames);
    b.resize(frames);
}

Signal makeSignal(std::mt19937& random, std::size_t frames, float thresholdDB)
{
    const float level = static_cast<float>(std::pow(10.0, static_cast<double>(thresholdDB) / 20.0));
    Signal signal;
    fillPair(random, signal.channel[0], signal.channel[1], frames, level);
    fillPair(random, signal.channel[2], signal.channel[3], frames, level);
    return signal;
}

// Attack and release short enough that a release tail runs through all its phases in the signal.
KestruneSettings settings(float thresholdDB, float ratio, float makeupDB, bool sidechain)
{
    return VAZiro::settingsOf(0.5f, 3.0f, ratio, sidechain, thresholdDB, makeupDB);
}

const std::vector<std::vector<int>> kSizeSets = {
    {1},   {2},   {3},   {5},   {7},   {16},  {63},  {64},  {65},  {127}, {128},  {129},  {255},  {256},
    {257}, {300}, {511}, {512}, {513}, {767}, {768}, {769}, {1024}, {1025}, {4097}, {1, 600, 256, 3, 511, 90}};

TEST(KestruneBlock, EveryBlockSizeMatchesTheFrameLoop)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    for (const bool sidechain : {false, true})
    {
        const KestruneSettings s = settings(-30.0f, 4.0f, 0.0f, sidechain);
        const Signal signal = makeSignal(random, 24000, s.threshold);
        for (const std::vector<int>& sizes : kSizeSets)
        {
            const std::size_t frame = firstDifference(s, signal, sizes);
            EXPECT_EQ(frame, signal.frames()) << (sidechain ? "sidechain-keyed" : "self-keyed") << ", blocks of "
                                              << sizes[0] << (sizes.size() > 1 ? " and others" : "");
        }
    }
}

// Thresholds across and beyond the parameter range (v near 0 reaches about -2691 dB, where even
// silence compresses), ratio 1:1 (every factor exactly 1.0), and makeups: 0 dB is a factor of
// exactly 1.0.
TEST(KestruneBlock, SettingsAcrossTheirRanges)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    const float thresholds[] = {0.0f, -30.0f, -60.0f, -120.0f, -180.0f, -2691.0f};
    const float ratios[] = {1.0f, 4.0f, 10.0f};
    const float makeups[] = {0.0f, -18.0f, 7.5f, 18.0f};
    for (const float thresholdDB : thresholds)
    {
        const Signal signal = makeSignal(random, 9000, thresholdDB);
        for (const float ratio : ratios)
            for (const float makeupDB : makeups)
                for (const bool sidechain : {false, true})
                {
                    const KestruneSettings s = settings(thresholdDB, ratio, makeupDB, sidechain);
                    EXPECT_EQ(firstDifference(s, signal, {256, 100, 1}), signal.frames())
                        << "threshold " << thresholdDB << " dB, " << ratio << ":1, makeup " << makeupDB << " dB, "
                        << (sidechain ? "sidechain" : "self") << "-keyed";
                }
    }
}

// Outputs over the inputs: every input of a frame must be read before the outputs of that frame
// are written, also when the outputs are the other channel's inputs or the sidechain pair.
TEST(KestruneBlock, OutputsOverInputs)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    const Layout layouts[] = {Layout::InPlace, Layout::Crossed, Layout::OverSidechain,
                              Layout::CrossedOverSidechain};
    for (const Layout layout : layouts)
        for (const bool sidechain : {false, true})
        {
            const KestruneSettings s = settings(-24.0f, 6.0f, 3.0f, sidechain);
            const Signal signal = makeSignal(random, 20000, s.threshold);
            for (const std::vector<int>& sizes : {std::vector<int>{1}, std::vector<int>{256},
                                                  std::vector<int>{700, 13, 512}})
                EXPECT_EQ(firstDifference(s, signal, sizes, layout), signal.frames())
                    << "layout " << static_cast<int>(layout) << (sidechain ? ", sidechain-keyed" : ", self-keyed")
                    << ", blocks of " << sizes[0];
        }
}

// A single loud sample at every position of two chunks of silence: the block leaves rest, passes
// through its release and returns, wherever the sample falls.
TEST(KestruneBlock, LeavingRestAtEveryPosition)
{
    const KestruneSettings s = settings(-30.0f, 4.0f, 0.0f, false);
    for (int position = 0; position < 520; position += (position < 20 || position > 500) ? 1 : 7)
    {
        Signal signal;
        for (auto& channel : signal.channel)
            channel.assign(1536, 0.0f);
        signal.channel[0][position] = 0.8f;
        signal.channel[1][position + 1] = -0.5f;
        ASSERT_EQ(firstDifference(s, signal, {512}), signal.frames()) << "loud sample at " << position;
        ASSERT_EQ(firstDifference(s, signal, {333}), signal.frames()) << "loud sample at " << position;
    }
}

// Music whose bass crosses zero: a few keys below the threshold in almost every chunk, then the
// release tail while the gain still moves (whole chunks of quiet keys), self- and sidechain-keyed.
TEST(KestruneBlock, BassCrossingZeroAndItsReleaseTail)
{
    for (const bool sidechain : {false, true})
    {
        const KestruneSettings s = VAZiro::settingsOf(10.0f, 100.0f, 4.0f, sidechain, -30.0f, 3.0f);
        Signal signal;
        for (int c = 0; c < 4; c++)
        {
            signal.channel[c].assign(60000, 0.0f);
            for (int i = 0; i < 24000; i++)
                signal.channel[c][i] = static_cast<float>((c % 2 == 0 ? 0.3 : 0.25) * std::sin(0.0144 * i + 0.1 * c));
        }
        for (const std::vector<int>& sizes : {std::vector<int>{512}, std::vector<int>{256}, std::vector<int>{300, 77}})
            EXPECT_EQ(firstDifference(s, signal, sizes), signal.frames())
                << (sidechain ? "sidechain-keyed" : "self-keyed") << ", blocks of " << sizes[0];
    }
}

// Samples no audio should carry still come out with the model's bits: signalling and quiet NaNs
// with payloads, infinities, subnormals and negative zero, in the main pair and in the key, at rest
// (where the block is a multiply by the makeup) and while compressing.
TEST(KestruneBlock, OddSampleValuesKeepTheirBits)
{
    const float odd[] = {floatFromBits(0x7F800001u), floatFromBits(0xFFA00000u), floatFromBits(0x7FC12345u),
                         kInfF,
                         -kInfF,
                         std::numeric_limits<float>::denorm_min(),
                         -std::numeric_limits<float>::denorm_min(),
                         floatFromBits(0x007FFFFFu),
                         -0.0f};
    for (const float makeupDB : {0.0f, 12.0f})
        for (const bool sidechain : {false, true})
        {
            const KestruneSettings s = settings(-30.0f, 4.0f, makeupDB, sidechain);
            Signal signal;
            for (auto& channel : signal.channel)
                channel.assign(6000, 0.0f);
            for (std::size_t i = 0; i < 6000; i++)
            {
                const float loud = (i >= 2000 && i < 3000) ? static_cast<float>(0.6 * std::sin(0.02 * i)) : 0.0f;
                signal.channel[0][i] = loud;
                signal.channel[2][i] = loud;
                const float value = odd[i % (sizeof odd / sizeof odd[0])];
                if (i % 50 == 7)
                    signal.channel[1][i] = value;  // main right: the link ignores a NaN here
                if (i % 300 == 11)
                    signal.channel[0][i] = value;  // main left: a NaN here is the self-keyed key
                if (i % 170 == 5)
                    signal.channel[3][i] = value;  // sidechain right
            }
            for (const std::vector<int>& sizes : {std::vector<int>{256}, std::vector<int>{1}, std::vector<int>{97}})
                EXPECT_EQ(firstDifference(s, signal, sizes), signal.frames())
                    << "makeup " << makeupDB << " dB, " << (sidechain ? "sidechain" : "self") << "-keyed";
        }
}

// The float limit of quiet keys: every float key below it has a level below the compressor's
// limit, and it lies within a few floats of that limit.
TEST(KestruneBlock, QuietKeyLimitIsExactAndClose)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    std::uniform_real_distribution<float> spread(-140.0f, 10.0f);
    std::vector<float> thresholds = {0.0f, -30.0f, -120.0f, -180.0f, -400.0f, -480.0f, -499.0f, -500.0f, -2691.0f};
    for (int i = 0; i < 200; i++)
        thresholds.push_back(spread(random));
    for (const float thresholdDB : thresholds)
    {
        BLSimpleComp compressor;
        KestruneBlockState state(compressor, settings(thresholdDB, 4.0f, 0.0f, false), kRate);
        const double levelLimit = compressor.quietLevelLimit();
        const float keyLimit = state.quietKeyLimit();
        SCOPED_TRACE(thresholdDB);
        ASSERT_GE(keyLimit, 0.0f);
        float key = keyLimit;
        for (int step = 0; step < 2048 && key > 0.0f; step++)
        {
            key = std::nextafter(key, 0.0f);
            ASSERT_LT(static_cast<double>(key) + dynref::kOffset, levelLimit) << "key " << key;
        }
        if (levelLimit > 2.0 * dynref::kOffset)
            EXPECT_GE(static_cast<double>(keyLimit), (levelLimit - dynref::kOffset) * (1.0 - 0x1p-21));
        else
            EXPECT_LE(static_cast<double>(keyLimit), levelLimit);
    }
}

// The metered form, as the LV2 edition runs it: the same audio, and for every block the lowest
// factor the model applied in it (makeup left out; 1 for a block without compression) and the
// peaks of the key, the main pair and the outputs, taken from the signal and the model's output.
TEST(KestruneBlock, MeteredBlocksReportTheLowestFactorAndThePeaks)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    for (const bool sidechain : {false, true})
    {
        const KestruneSettings s = settings(-30.0f, 4.0f, 6.0f, sidechain);
        const Signal signal = makeSignal(random, 30000, s.threshold);
        dynref::Compressor model;
        model.setRate(s.attack, s.release, kRate);
        model.thresholdDB = s.threshold;
        model.slope = 1.0 / s.ratio;
        const double makeup = dynref::toLin(s.makeup);

        BLSimpleComp compressor;
        KestruneBlockState state(compressor, s, kRate);
        std::vector<float> out1(signal.frames());
        std::vector<float> out2(signal.frames());
        const int sizes[] = {512, 1, 300, 256, 4096, 77};
        int compressingBlocks = 0;
        std::size_t at = 0;
        for (int block = 0; at < signal.frames(); block++)
        {
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(sizes[block % 6]), signal.frames() - at);
            VAZiro::KestruneBlockMeters meters;
            VAZiro::processKestruneBlockMetered(state, &signal.channel[0][at], &signal.channel[1][at],
                                                &signal.channel[2][at], &signal.channel[3][at], &out1[at], &out2[at],
                                                static_cast<std::int32_t>(n), meters);
            double expectedLowest = 1.0;
            double keyPeak = 0.0;
            double inPeak = 0.0;
            double outPeak = 0.0;
            for (std::size_t f = at; f < at + n; f++)
            {
                const double left = signal.channel[0][f];
                const double right = signal.channel[1][f];
                const double key = sidechain ? dynref::Compressor::link(signal.channel[2][f], signal.channel[3][f])
                                             : dynref::Compressor::link(left, right);
                const double factor = model.gain(key);
                if (factor < expectedLowest)
                    expectedLowest = factor;
                const float expected1 = static_cast<float>(left * factor * makeup);
                const float expected2 = static_cast<float>(right * factor * makeup);
                ASSERT_EQ(bitsOf(out1[f]), bitsOf(expected1)) << "frame " << f;
                ASSERT_EQ(bitsOf(out2[f]), bitsOf(expected2)) << "frame " << f;
                keyPeak = std::max(keyPeak, std::fabs(key));
                inPeak = std::max({inPeak, std::fabs(left), std::fabs(right)});
                outPeak = std::max({outPeak, std::fabs(static_cast<double>(expected1)),
                                    std::fabs(static_cast<double>(expected2))});
            }
            ASSERT_EQ(meters.lowestGain, expectedLowest) << "block at frame " << at;
            ASSERT_EQ(static_cast<double>(meters.keyPeak), keyPeak) << "block at frame " << at;
            ASSERT_EQ(static_cast<double>(meters.inPeak), inPeak) << "block at frame " << at;
            ASSERT_EQ(static_cast<double>(meters.outPeak), outPeak) << "block at frame " << at;
            compressingBlocks += expectedLowest < 1.0 ? 1 : 0;
            at += n;
        }
        EXPECT_GT(compressingBlocks, 10);
    }
}

// Settings changed between blocks reach the block: the quiet limit follows the threshold, the
// makeup factor follows the makeup.
TEST(KestruneBlock, SettingChangesBetweenBlocks)
{
    std::mt19937 random = kestrune_test::seededGenerator();
    const Signal signal = makeSignal(random, 12000, -30.0f);
    const KestruneSettings first = settings(-30.0f, 4.0f, 0.0f, false);
    const KestruneSettings second = settings(-6.0f, 2.0f, 6.0f, true);

    // One model across the change: the envelope carries on under the new settings.
    std::vector<float> model1;
    std::vector<float> model2;
    {
        dynref::Compressor gain;
        gain.setRate(first.attack, first.release, kRate);
        gain.thresholdDB = first.threshold;
        gain.slope = 1.0 / first.ratio;
        for (std::size_t f = 0; f < signal.frames(); f++)
        {
            const bool late = f >= 6000;
            const KestruneSettings& s = late ? second : first;
            if (f == 6000)
            {
                gain.setRate(s.attack, s.release, kRate);
                gain.thresholdDB = s.threshold;
                gain.slope = 1.0 / s.ratio;
            }
            const double left = signal.channel[0][f];
            const double right = signal.channel[1][f];
            const double key = s.useSidechain ? dynref::Compressor::link(signal.channel[2][f], signal.channel[3][f])
                                              : dynref::Compressor::link(left, right);
            const double factor = gain.gain(key);
            const double makeup = dynref::toLin(s.makeup);
            model1.push_back(static_cast<float>(left * factor * makeup));
            model2.push_back(static_cast<float>(right * factor * makeup));
        }
    }

    BLSimpleComp compressor;
    KestruneBlockState state(compressor, first, kRate);
    std::vector<float> out1(signal.frames());
    std::vector<float> out2(signal.frames());
    for (std::size_t at = 0; at < signal.frames(); at += 500)
    {
        if (at == 6000)
            state.update(second, kRate);
        VAZiro::processKestruneBlock(state, &signal.channel[0][at], &signal.channel[1][at], &signal.channel[2][at],
                                     &signal.channel[3][at], &out1[at], &out2[at], 500);
    }
    for (std::size_t f = 0; f < signal.frames(); f++)
    {
        ASSERT_EQ(bitsOf(out1[f]), bitsOf(model1[f])) << "frame " << f;
        ASSERT_EQ(bitsOf(out2[f]), bitsOf(model2[f])) << "frame " << f;
    }
}

}  // namespace
