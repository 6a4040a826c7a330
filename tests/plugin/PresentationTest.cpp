// What a host shows of the built Kestrune module: parameter names, unit labels and display texts,
// the program name (read, renamed, read by index) and the identity, all read through the record
// into sentinel-filled buffers. The display texts are checked for thousands of seeded normalised
// values against float2string of the engineering value computed here from the mapping formulas.

#include "ParameterFacts.h"
#include "TestSeed.h"
#include "AEffectX.h"
#include "AudioEffect.h"
#include "SentinelBuffer.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace
{

using khost::PluginInstance;
using khost::PluginModule;

using namespace kref;

class Presentation : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_module = PluginModule::load(KESTRUNE_MODULE_PATH); }
    static void TearDownTestSuite() { s_module.reset(); }

    void SetUp() override { instance = std::make_unique<PluginInstance>(s_module); }

    // Sends one text opcode with a fresh sentinel buffer and keeps the answer.
    SentinelBuffer query(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0)
    {
        SentinelBuffer buffer;
        lastAnswer = instance->dispatch(opcode, index, value, buffer.data(), 0.0f);
        return buffer;
    }

    void rename(const std::string& name)
    {
        EXPECT_EQ(instance->dispatch(effSetProgramName, 0, 0, const_cast<char*>(name.c_str())), 0);
    }

    static std::shared_ptr<PluginModule> s_module;
    std::unique_ptr<PluginInstance> instance;
    VstIntPtr lastAnswer = -12345;
};

std::shared_ptr<PluginModule> Presentation::s_module;

// --- names, labels, displays ---------------------------------------------------------------------------

TEST_F(Presentation, ParameterNamesFillTheirEightCharacterField)
{
    for (VstInt32 index = 0; index < kref::kParameterCount; ++index)
    {
        EXPECT_TRUE(query(effGetParamName, index).holds(kNames[index], 8)) << "index " << index;
        EXPECT_EQ(lastAnswer, 0);
    }
}

TEST_F(Presentation, LabelsOfRatioAndSwitchLeaveTheBufferAlone)
{
    const char* const* labels = kLabels;
    for (VstInt32 index = 0; index < kref::kParameterCount; ++index)
    {
        const SentinelBuffer label = query(effGetParamLabel, index);
        if (labels[index] != nullptr)
            EXPECT_TRUE(label.holds(labels[index], 8)) << "index " << index;
        else
            EXPECT_TRUE(label.untouched()) << "index " << index << ": no empty string either";
        EXPECT_EQ(lastAnswer, 0);
    }
}

TEST_F(Presentation, FreshDisplaysShowTheDefaults)
{
    const char* const texts[] = {"10.00000", "100.0000", "1.000000", "false", "0.000000", "0.000000"};
    for (VstInt32 index = 0; index < kref::kParameterCount; ++index)
    {
        EXPECT_TRUE(query(effGetParamDisplay, index).holds(texts[index], 8)) << "index " << index;
        EXPECT_EQ(lastAnswer, 0);
    }
}

TEST_F(Presentation, SidechainDisplayFollowsTheSwitch)
{
    const std::vector<std::pair<float, const char*>> cases = {
        {0.5f, "true"}, {0.49f, "false"}, {std::nextafter(0.5f, 0.0f), "false"}, {1.0f, "true"},
        {0.0f, "false"}, {std::nextafter(0.5f, 1.0f), "true"}};
    for (const auto& c : cases)
    {
        instance->setParameter(kUseSidechain, c.first);
        EXPECT_TRUE(query(effGetParamDisplay, kUseSidechain).holds(c.second, 8)) << "value " << c.first;
    }
}

TEST_F(Presentation, IndicesOutsideTheSixLeaveTheBufferAlone)
{
    for (VstInt32 opcode : {VstInt32{effGetParamName}, VstInt32{effGetParamLabel}, VstInt32{effGetParamDisplay}})
    {
        const VstInt32 outside[] = {kref::kParameterCount, kref::kParameterCount + 1, -1, 1000,
                                    std::numeric_limits<VstInt32>::max(), std::numeric_limits<VstInt32>::min()};
        for (VstInt32 index : outside)
        {
            EXPECT_TRUE(query(opcode, index).untouched()) << "opcode " << opcode << ", index " << index;
            EXPECT_EQ(lastAnswer, 0);
        }
    }
}

TEST_F(Presentation, DisplaysUseIndexNotValue)
{
    EXPECT_TRUE(query(effGetParamName, kRelease, kAttack).holds("Release", 8));
    EXPECT_TRUE(query(effGetParamLabel, kThreshold, kAttack).holds("dB", 8));
    EXPECT_TRUE(query(effGetParamDisplay, kRelease, kAttack).holds("100.0000", 8));
}

// --- the program name ----------------------------------------------------------------------------------

TEST_F(Presentation, FreshProgramReadsInitWithItsNumber)
{
    EXPECT_TRUE(query(effGetProgramName).holdsTerminated("init 1"));
    EXPECT_EQ(lastAnswer, 0);
    EXPECT_TRUE(query(effGetProgramNameIndexed, 0, 0).holdsTerminated("init"));
    EXPECT_EQ(lastAnswer, 1);
}

TEST_F(Presentation, IndexedNameIgnoresTheCategoryAndRefusesOtherIndices)
{
    for (VstIntPtr category : {static_cast<VstIntPtr>(0), static_cast<VstIntPtr>(7), static_cast<VstIntPtr>(-1)})
    {
        EXPECT_TRUE(query(effGetProgramNameIndexed, 0, category).holdsTerminated("init")) << "category " << category;
        EXPECT_EQ(lastAnswer, 1);
    }
    for (VstInt32 index : {1, 2, -1, std::numeric_limits<VstInt32>::min(), std::numeric_limits<VstInt32>::max()})
    {
        EXPECT_TRUE(query(effGetProgramNameIndexed, index, 0).untouched()) << "index " << index;
        EXPECT_EQ(lastAnswer, 0);
    }
}

TEST_F(Presentation, RenamedProgramReadsTheSameBothWays)
{
    // Only the exact five bytes "init\0" get the number.
    const std::vector<std::string> names = {"Drums",  "initial", "Init", "init ", " init", "INIT",
                                            "init 1", "",        "x",    "exactly twenty-three ch"};
    for (const std::string& name : names)
    {
        SCOPED_TRACE("name \"" + name + "\"");
        rename(name);
        EXPECT_TRUE(query(effGetProgramName).holdsTerminated(name));
        EXPECT_TRUE(query(effGetProgramNameIndexed, 0, 0).holdsTerminated(name));
        EXPECT_EQ(lastAnswer, 1);
    }
}

TEST_F(Presentation, RenamingBackToInitBringsTheNumberBack)
{
    rename("Lead vocal");
    rename("init");
    EXPECT_TRUE(query(effGetProgramName).holdsTerminated("init 1"));
    EXPECT_TRUE(query(effGetProgramNameIndexed).holdsTerminated("init"));
}

TEST_F(Presentation, LongNamesAreCutAt23AndLeaveTheParametersAlone)
{
    const float values[] = {0.125f, 0.75f, 0.5f, 1.0f, 0.25f, 0.875f};
    for (VstInt32 index = 0; index < kref::kParameterCount; ++index)
        instance->setParameter(index, values[index]);

    for (const std::string& name : {std::string("a thirty character long name!!"), std::string("twenty-four characters!!"),
                                    std::string(200, 'z')})
    {
        SCOPED_TRACE("name of " + std::to_string(name.size()) + " characters");
        rename(name);
        EXPECT_TRUE(query(effGetProgramName).holdsTerminated(name.substr(0, 23)));
        EXPECT_TRUE(query(effGetProgramNameIndexed).holdsTerminated(name.substr(0, 23)));
        for (VstInt32 index = 0; index < kref::kParameterCount; ++index)
            EXPECT_EQ(instance->getParameter(index), values[index]) << "parameter " << index;
    }
}

TEST_F(Presentation, ProgramLoadKeepsTheName)
{
    rename("Bus glue");
    instance->setParameter(kRatio, 0.5f);
    EXPECT_EQ(instance->dispatch(effSetProgram, 0, 0), 0);
    EXPECT_TRUE(query(effGetProgramName).holdsTerminated("Bus glue"));
    EXPECT_TRUE(query(effGetParamDisplay, kRatio).holds("5.500000", 8));
}

// --- identity -----------------------------------------------------------------------------------------

TEST_F(Presentation, IdentityStringsFillTheirFields)
{
    EXPECT_TRUE(query(effGetEffectName).holds("Kestrune", 32));
    EXPECT_EQ(lastAnswer, 1);
    EXPECT_TRUE(query(effGetVendorString).holds("Brisk Lantern", 64));
    EXPECT_EQ(lastAnswer, 1);
    EXPECT_TRUE(query(effGetProductString).holds("Brisk Lantern sidechain compressor", 64));
    EXPECT_EQ(lastAnswer, 1);
    EXPECT_EQ(instance->dispatch(effGetVendorVersion), 64);
    EXPECT_EQ(instance->dispatch(effGetPlugCategory), 1);
    EXPECT_EQ(instance->uniqueId(), 0x42524C41);
}

TEST_F(Presentation, IdentityDoesNotDependOnTheState)
{
    instance->start(96000.0f, 32);
    rename("Something else");
    for (VstInt32 index = 0; index < kref::kParameterCount; ++index)
        instance->setParameter(index, 0.3f);
    EXPECT_TRUE(query(effGetEffectName, 5, 9).holds("Kestrune", 32));
    EXPECT_TRUE(query(effGetVendorString, 5, 9).holds("Brisk Lantern", 64));
    EXPECT_TRUE(query(effGetProductString, 5, 9).holds("Brisk Lantern sidechain compressor", 64));
    EXPECT_EQ(instance->dispatch(effGetVendorVersion, 5, 9), 64);
    EXPECT_EQ(instance->dispatch(effGetPlugCategory, 5, 9), 1);
}

// --- display texts for many values -------------------------------------------------------------------

using kestrune_test::seededGenerator;

// The engineering value of a normalised v by the published mappings.
float engineeringValue(VstInt32 index, float v)
{
    switch (index)
    {
    case kAttack: return attackMsFrom(v);
    case kRelease: return releaseMsFrom(v);
    case kRatio: return ratioFrom(v);
    case kThreshold: return thresholdDBFrom(v);
    case kMakeup: return makeupDBFrom(v);
    default: ADD_FAILURE() << "no numeric display for index " << index; return 0.0f;
    }
}

// The base class's float2string, reached through a minimal effect, is the reference text maker.
class ReferenceText : public AudioEffect
{
public:
    ReferenceText() : AudioEffect(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

std::vector<float> normalisedValues(std::mt19937& random, int count)
{
    std::vector<float> values = {0.0f,
                                 1.0f,
                                 0.5f,
                                 0.01f,
                                 std::nextafter(0.01f, 0.0f),
                                 std::nextafter(1.0f, 0.0f),
                                 std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::min(),
                                 1e-30f,
                                 0.0990991f,
                                 0.19984f};
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-40, 0);
    for (int i = 0; i < count; ++i)
    {
        // Half spread evenly, half spread over the decades, where the threshold changes fastest.
        const float v = (i % 2 == 0) ? uniform(random) : uniform(random) * std::pow(10.0f, exponent(random));
        values.push_back(std::min(v, 1.0f));
    }
    return values;
}

TEST_F(Presentation, NumericDisplaysAreFloat2stringOfTheMappedValue)
{
    std::mt19937 random = seededGenerator();
    ReferenceText reference;
    for (VstInt32 index : {kAttack, kRelease, kRatio, kThreshold, kMakeup})
    {
        for (float v : normalisedValues(random, 5000))
        {
            instance->setParameter(index, v);
            ASSERT_EQ(instance->getParameter(index), v) << "parameter " << index << " keeps its value";
            const SentinelBuffer display = query(effGetParamDisplay, index);
            SentinelBuffer expected;
            reference.float2string(engineeringValue(index, v), expected.data(), 8);
            std::uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            ASSERT_TRUE(display.holds(expected.text(), 8))
                << "parameter " << kNames[index] << " at normalised " << v << " (0x" << std::hex << bits << std::dec
                << "), engineering " << engineeringValue(index, v) << ", expected text \"" << expected.text() << "\"";
        }
    }
}

TEST_F(Presentation, SwitchDisplayIsTrueFromOneHalf)
{
    std::mt19937 random = seededGenerator();
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    for (int i = 0; i < 5000; ++i)
    {
        const float v = uniform(random);
        instance->setParameter(kUseSidechain, v);
        ASSERT_TRUE(query(effGetParamDisplay, kUseSidechain).holds(v < 0.5f ? "false" : "true", 8)) << "value " << v;
    }
}

}  // namespace
