// The inverse parameter mappings that the command-line tool uses to turn engineering values into
// normalised ones: every inverse must land on the float whose forward mapping comes closest to
// the request. The reference is an exhaustive search over a window of floats around a preimage
// computed independently in double precision from the closed-form mappings.
#include "KestruneParameters.h"
#include "TestSeed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace
{

using namespace VAZiro;

struct Mapping
{
    const char* name;
    int index;
    std::function<float(float)> forward;
    std::function<float(float)> inverse;
    // Preimage from the closed form, in double: a starting point within a few floats of the answer.
    std::function<double(double)> closedFormInverse;
};

std::vector<Mapping> continuousMappings()
{
    return {
        {"attack", kAttack, attackFromNormalised, attackToNormalised,
         [](double ms) { return (ms - 0.1) / 99.9; }},
        {"release", kRelease, releaseFromNormalised, releaseToNormalised,
         [](double ms) { return (ms - 0.1) / 499.9; }},
        {"ratio", kRatio, ratioFromNormalised, ratioToNormalised, [](double r) { return (r - 1.0) / 9.0; }},
        {"threshold", kThreshold, thresholdFromNormalised, thresholdToNormalised,
         [](double dB) { return std::pow(10.0, dB / 60.0); }},
        {"makeup", kMakeup, makeupFromNormalised, makeupToNormalised,
         [](double dB) { return (dB + 18.0) / 36.0; }},
    };
}

double distance(const Mapping& mapping, float v, float target)
{
    return std::fabs(static_cast<double>(mapping.forward(v)) - static_cast<double>(target));
}

// Smallest distance any float within `window` floats of the closed-form preimage achieves
// (restricted to v in (0, 1]; v = 0 is a special case of the threshold, tested on its own).
double bestAchievable(const Mapping& mapping, float target, int window)
{
    float centre = static_cast<float>(mapping.closedFormInverse(target));
    double best = distance(mapping, centre, target);
    float v = centre;
    for (int i = 0; i < window && v > 0.0f; ++i)
    {
        v = std::nextafter(v, -1.0f);
        if (v > 0.0f)
            best = std::min(best, distance(mapping, v, target));
    }
    v = centre;
    for (int i = 0; i < window && v < 1.0f; ++i)
    {
        v = std::nextafter(v, 2.0f);
        best = std::min(best, distance(mapping, v, target));
    }
    return best;
}

TEST(ParameterInverse, EveryValueInRangeMapsBackAsCloselyAsFloatsAllow)
{
    std::mt19937 generator = kestrune_test::seededGenerator();

    for (const Mapping& mapping : continuousMappings())
    {
        const float minimum = kParameterInfo[mapping.index].minimum;
        const float maximum = kParameterInfo[mapping.index].maximum;
        std::uniform_real_distribution<float> anywhere(minimum, maximum);

        std::vector<float> targets;
        for (int i = 0; i <= 200; ++i)
            targets.push_back(minimum + (maximum - minimum) * static_cast<float>(i) / 200.0f);
        for (int i = 0; i < 200; ++i)
            targets.push_back(anywhere(generator));

        for (const float target : targets)
        {
            if (mapping.index == kThreshold && target == minimum)
                continue;  // -120 dB has the exact preimage 0, checked below
            const float v = mapping.inverse(target);
            ASSERT_GE(v, 0.0f) << mapping.name << " " << target;
            ASSERT_LE(v, 1.0f) << mapping.name << " " << target;
            EXPECT_EQ(distance(mapping, v, target), bestAchievable(mapping, target, 256))
                << mapping.name << " " << target << " -> v " << v << " -> " << mapping.forward(v);
        }
    }
}

TEST(ParameterInverse, DefaultsAndEndsComeBackExactly)
{
    // Each of these has an exact preimage: the ends (v = 0 and 1) and the defaults of the table.
    struct Case
    {
        int index;
        float value;
    };
    const Case cases[] = {
        {kAttack, 0.1f},   {kAttack, 10.0f},   {kAttack, 100.0f},    {kRelease, 0.1f},
        {kRelease, 100.0f}, {kRelease, 500.0f}, {kRatio, 1.0f},       {kRatio, 10.0f},
        {kThreshold, 0.0f}, {kThreshold, -120.0f}, {kMakeup, -18.0f}, {kMakeup, 0.0f},
        {kMakeup, 18.0f},
    };
    for (const Case& c : cases)
    {
        const float v = normalisedFromEngineering(c.index, c.value);
        EXPECT_EQ(engineeringFromNormalised(c.index, v), c.value)
            << kParameterInfo[c.index].name << " " << c.value << " -> v " << v;
    }
    EXPECT_EQ(thresholdToNormalised(-120.0f), 0.0f);
    EXPECT_EQ(makeupToNormalised(0.0f), 0.5f);  // the only v whose makeup factor is exactly 1
    EXPECT_EQ(thresholdToNormalised(0.0f), 1.0f);
}

TEST(ParameterInverse, ThresholdJustAboveTheFloorUsesTheLogarithmicPreimage)
{
    // v = 0 also maps to -120 dB; a level a little above it must not fall back to 0.
    const float target = -119.9f;
    const float v = thresholdToNormalised(target);
    EXPECT_GT(v, 0.0f);
    EXPECT_NEAR(thresholdFromNormalised(v), target, 1e-4f);
}

TEST(ParameterInverse, SwitchAndOutOfRangeValues)
{
    EXPECT_FALSE(useSidechainFromNormalised(normalisedFromEngineering(kUseSidechain, 0.0f)));
    EXPECT_TRUE(useSidechainFromNormalised(normalisedFromEngineering(kUseSidechain, 1.0f)));

    EXPECT_TRUE(parameterInRange(kAttack, 0.1f));
    EXPECT_TRUE(parameterInRange(kAttack, 100.0f));
    EXPECT_FALSE(parameterInRange(kAttack, std::nextafter(100.0f, 200.0f)));
    EXPECT_FALSE(parameterInRange(kThreshold, -120.5f));
    EXPECT_FALSE(parameterInRange(kThreshold, 0.5f));
    EXPECT_FALSE(parameterInRange(kMakeup, std::nanf("")));

    // Out of range is clamped to the nearest end.
    EXPECT_EQ(attackToNormalised(1000.0f), 1.0f);
    EXPECT_EQ(ratioToNormalised(0.5f), 0.0f);
    EXPECT_EQ(thresholdToNormalised(-200.0f), 0.0f);
}

}  // namespace
