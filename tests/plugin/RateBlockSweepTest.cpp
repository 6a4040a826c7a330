// Every sample rate a host may run at, from 8 kHz to 384 kHz, and block sizes from 1 to 65,536
// frames (powers of two and odd sizes on either side of them): the built module equals the
// reference model bit for bit with separate buffers, in place and with crossed buffers (left out
// over right in, right out over left in), keyed by the main pair and by the sidechain.
// Blocks below 4096 frames run every layout and keying at every rate; the larger ones, which cost
// the most, take one of the six combinations in turn, so each still meets every combination
// across the rates.
#include "ModuleSession.h"
#include "TestSeed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace
{

using ksession::Layout;
using ksession::Random;
using ksession::Session;
using ksession::Signal;

const float kRates[] = {8000.0f, 11025.0f, 22050.0f, 44100.0f, 48000.0f,
                        88200.0f, 96000.0f, 176400.0f, 192000.0f, 384000.0f};
const int kBlockSizes[] = {1,    2,    3,    4,    7,    8,     16,    32,    64,    128,   129,  256,
                           512,  1023, 1024, 2048, 4096, 4097,  8192,  16384, 32768, 65535, 65536};
constexpr int kEveryCombinationBelow = 4096;

const Layout kLayouts[] = {Layout::Separate, Layout::InPlace, Layout::InPlaceSwapped};
const char* const kLayoutNames[] = {"separate", "in place", "crossed"};

// A run whose gain never went 6 dB down proves little about the compressor.
constexpr double kWorkingGain = 0.5;

// Two full blocks and a part of one, and never less than 4096 frames, so small blocks still see
// the compressor engage and let go.
std::size_t framesFor(int blockSize)
{
    return std::max<std::size_t>(4096, static_cast<std::size_t>(blockSize) * 2 + static_cast<std::size_t>(blockSize) / 2 + 1);
}

// Loud noise and tone bursts with quiet gaps on both pairs, peak 1 on the main pair and 0.8 on the
// sidechain, at any rate: the compressor engages within each signal however short it is.
Signal makeBurstSignal(Random& random, std::size_t frames)
{
    Signal signal(frames);
    const std::size_t period = std::max<std::size_t>(frames / 3, 1);
    for (int c = 0; c < 4; c++)
    {
        const double peak = c < 2 ? 1.0 : 0.8;
        const double phase = random.uniform(0.0, 2.0 * ksession::kPi);
        for (std::size_t i = 0; i < frames; i++)
        {
            const bool loud = (i / period) % 2 == (c < 2 ? 0u : 1u);
            const double tone = std::sin(phase + 0.05 * static_cast<double>(i));
            const double noise = random.uniform(-1.0, 1.0);
            signal.channels[c][i] = static_cast<float>((loud ? peak : 0.003) * (0.6 * tone + 0.4 * noise));
        }
    }
    return signal;
}

// A normalised threshold 18..30 dB under the key's peak.
float thresholdUnderTheKey(Random& random, bool sidechain)
{
    const double keyPeakDB = sidechain ? 20.0 * std::log10(0.8) : 0.0;
    const double thresholdDB = keyPeakDB - random.uniform(18.0, 30.0);
    return static_cast<float>(std::pow(10.0, thresholdDB / 60.0));
}

// Settings that compress hard: fast attack, 4:1 to 10:1, the threshold well under the key, makeup
// anywhere; the sidechain switch as asked.
void setCompressing(Session& session, Random& random, bool sidechain)
{
    session.setParameter(kref::kAttack, static_cast<float>(random.uniform(0.0, 0.02)));
    session.setParameter(kref::kRelease, static_cast<float>(random.uniform(0.0, 1.0)));
    session.setParameter(kref::kRatio, static_cast<float>(random.uniform(0.34, 1.0)));
    session.setParameter(kref::kThreshold, thresholdUnderTheKey(random, sidechain));
    session.setParameter(kref::kMakeup, static_cast<float>(random.uniform(0.0, 1.0)));
    session.setParameter(kref::kUseSidechain, sidechain ? 1.0f : 0.0f);
}

class RateBlockSweep : public ::testing::TestWithParam<int>
{
};

TEST_P(RateBlockSweep, EveryBlockSizeLayoutAndKeyingMatchesTheModel)
{
    const int rateIndex = GetParam();
    const float rate = kRates[rateIndex];
    std::mt19937 seeds = kestrune_test::seededGenerator();
    for (int skip = 0; skip < rateIndex; skip++)
        seeds.discard(1000);  // each rate its own stretch of the sequence

    int runs = 0;
    for (int blockIndex = 0; blockIndex < static_cast<int>(sizeof kBlockSizes / sizeof kBlockSizes[0]); blockIndex++)
    {
        const int blockSize = kBlockSizes[blockIndex];
        for (int combination = 0; combination < 6; combination++)
        {
            if (blockSize >= kEveryCombinationBelow && combination != (rateIndex + blockIndex) % 6)
                continue;
            const int layout = combination % 3;
            const bool sidechain = combination >= 3;
            SCOPED_TRACE(std::to_string(static_cast<int>(rate)) + " Hz, blocks of " + std::to_string(blockSize) +
                         ", " + kLayoutNames[layout] + (sidechain ? ", keyed by the sidechain" : ", self-keyed"));
            Random random(seeds());
            const Signal signal = makeBurstSignal(random, framesFor(blockSize));
            Session session(signal, rate, blockSize, kLayouts[layout]);
            setCompressing(session, random, sidechain);
            session.process(blockSize);
            // A change between blocks as well: new threshold and makeup for the rest.
            session.setParameter(kref::kThreshold, thresholdUnderTheKey(random, sidechain));
            session.setParameter(kref::kMakeup, static_cast<float>(random.uniform(0.0, 1.0)));
            while (!session.finished())
                session.process(blockSize);
            ASSERT_TRUE(session.matchesModel());
            EXPECT_LT(session.model().lowestGain, kWorkingGain);
            runs++;
        }
    }
    std::printf("%d runs at %.0f Hz\n", runs, static_cast<double>(rate));
}

std::string rateName(const ::testing::TestParamInfo<int>& info)
{
    return std::to_string(static_cast<int>(kRates[info.param])) + "Hz";
}

INSTANTIATE_TEST_SUITE_P(Rates, RateBlockSweep, ::testing::Range(0, static_cast<int>(sizeof kRates / sizeof kRates[0])),
                         rateName);

}  // namespace
