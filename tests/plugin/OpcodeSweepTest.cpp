// Every dispatcher opcode from -1 to 80, and a set of huge and negative ones, sent to the built
// Kestrune module through the host library: the answer, what lands in a sentinel-filled buffer
// passed as ptr, and that nothing else about the instance changed (record, parameters, program
// name, calls to the host). The opcodes whose effect is only audible are checked by processing.

#include "AEffectX.h"
#include "ParameterFacts.h"
#include "SentinelBuffer.h"
#include "VstHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{

using khost::PluginInstance;
using khost::PluginModule;

constexpr VstInt32 kNumParams = kref::kParameterCount;

class OpcodeSweep : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_module = PluginModule::load(KESTRUNE_MODULE_PATH); }
    static void TearDownTestSuite() { s_module.reset(); }

    static std::unique_ptr<PluginInstance> fresh() { return std::make_unique<PluginInstance>(s_module); }

    static std::shared_ptr<PluginModule> s_module;
};

std::shared_ptr<PluginModule> OpcodeSweep::s_module;

// Everything a host can see of an instance without processing audio.
struct Snapshot
{
    std::vector<unsigned char> record;
    std::vector<std::uint32_t> parameterBits;
    std::string programName;
    std::string indexedProgramName;
    std::size_t hostCalls = 0;

    bool operator==(const Snapshot& other) const
    {
        return record == other.record && parameterBits == other.parameterBits && programName == other.programName &&
               indexedProgramName == other.indexedProgramName && hostCalls == other.hostCalls;
    }
};

std::ostream& operator<<(std::ostream& out, const Snapshot& s)
{
    out << "{program \"" << s.programName << "\" / \"" << s.indexedProgramName << "\", " << s.hostCalls
        << " host calls, parameters";
    for (std::uint32_t bits : s.parameterBits)
        out << " 0x" << std::hex << bits << std::dec;
    return out << ", record of " << s.record.size() << " bytes}";
}

Snapshot snapshotOf(PluginInstance& instance)
{
    Snapshot s;
    const AEffect* effect = instance.effect();
    const auto* bytes = reinterpret_cast<const unsigned char*>(effect);
    s.record.assign(bytes, bytes + sizeof(AEffect));
    for (VstInt32 index = 0; index < kNumParams; ++index)
    {
        const float value = instance.getParameter(index);
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        s.parameterBits.push_back(bits);
    }
    // The queries below call nothing in the host either, so the count is taken first.
    s.hostCalls = instance.calls().size();
    char name[64] = {};
    instance.dispatch(effGetProgramName, 0, 0, name);
    s.programName = name;
    char indexed[64] = {};
    instance.dispatch(effGetProgramNameIndexed, 0, 0, indexed);
    s.indexedProgramName = indexed;
    return s;
}

// What Kestrune answers with index 0, value 0 and opt 0; every opcode not listed answers 0.
const std::map<VstInt32, VstIntPtr> kAnswers = {
    {__effIdentifyDeprecated, 1316373862},
    {effCanBeAutomated, 1},
    {effGetProgramNameIndexed, 1},
    {effGetPlugCategory, 1},
    {effGetEffectName, 1},
    {effGetVendorString, 1},
    {effGetProductString, 1},
    {effGetVendorVersion, 64},
    {effGetVstVersion, 2400},
    {effGetCurrentMidiProgram, -1},
};

VstIntPtr expectedAnswer(VstInt32 opcode)
{
    auto found = kAnswers.find(opcode);
    return found == kAnswers.end() ? 0 : found->second;
}

// What the buffer passed as ptr holds afterwards; opcodes not listed leave it untouched.
::testing::AssertionResult bufferAsExpected(VstInt32 opcode, const SentinelBuffer& buffer)
{
    switch (opcode)
    {
    case effSetProgramName: return buffer.holdsTerminated("Sweep");  // read, not written
    case effGetProgramName: return buffer.holdsTerminated("init 1");
    case effGetParamLabel: return buffer.holds("ms", 8);
    case effGetParamDisplay: return buffer.holds("10.00000", 8);
    case effGetParamName: return buffer.holds("Attack", 8);
    case effGetProgramNameIndexed: return buffer.holdsTerminated("init");
    case effGetEffectName: return buffer.holds("Kestrune", 32);
    case effGetVendorString: return buffer.holds("Brisk Lantern", 64);
    case effGetProductString: return buffer.holds("Brisk Lantern sidechain compressor", 64);
    case effGetSpeakerArrangement: return buffer.holds("", sizeof(void*) - 1);  // a null output pointer
    default: return buffer.untouched();
    }
}

TEST_F(OpcodeSweep, EveryOpcodeFromMinusOneTo80)
{
    for (VstInt32 opcode = -1; opcode <= 80; ++opcode)
    {
        if (opcode == effClose)
            continue;  // it destroys the instance: see CloseAnswersOneAndTheInstanceIsGone
        SCOPED_TRACE(testing::Message() << "opcode " << opcode);
        auto instance = fresh();
        Snapshot expected = snapshotOf(*instance);
        SentinelBuffer buffer;
        if (opcode == effSetProgramName)
        {
            buffer.put("Sweep");
            expected.programName = "Sweep";
            expected.indexedProgramName = "Sweep";
        }

        EXPECT_EQ(instance->dispatch(opcode, 0, 0, buffer.data(), 0.0f), expectedAnswer(opcode));
        EXPECT_TRUE(bufferAsExpected(opcode, buffer));
        EXPECT_EQ(snapshotOf(*instance), expected);
    }
}

// The same sweep with a null ptr: the texts the effect would write are refused and answer 0, every
// other answer stays the same, and nothing changes.
TEST_F(OpcodeSweep, EveryOpcodeWithANullPointer)
{
    const std::vector<VstInt32> refusedTexts = {effGetProgramNameIndexed, effGetEffectName, effGetVendorString,
                                                effGetProductString};
    for (VstInt32 opcode = -1; opcode <= 80; ++opcode)
    {
        if (opcode == effClose)
            continue;
        SCOPED_TRACE(testing::Message() << "opcode " << opcode);
        auto instance = fresh();
        const Snapshot expected = snapshotOf(*instance);
        const bool refused = std::find(refusedTexts.begin(), refusedTexts.end(), opcode) != refusedTexts.end();
        EXPECT_EQ(instance->dispatch(opcode, 0, 0, nullptr, 0.0f), refused ? 0 : expectedAnswer(opcode));
        EXPECT_EQ(snapshotOf(*instance), expected);
    }
}

TEST_F(OpcodeSweep, NullTextPointersOfTheTextOpcodesAnswerZero)
{
    auto instance = fresh();
    const Snapshot expected = snapshotOf(*instance);
    const std::vector<VstInt32> textOpcodes = {effSetProgramName,        effGetProgramName, effGetParamLabel,
                                               effGetParamDisplay,       effGetParamName,   effGetProgramNameIndexed,
                                               effGetEffectName,         effGetVendorString, effGetProductString};
    for (VstInt32 opcode : textOpcodes)
    {
        for (VstInt32 index : {0, 1, kNumParams - 1})
            EXPECT_EQ(instance->dispatch(opcode, index, 0, nullptr, 0.0f), 0) << "opcode " << opcode;
    }
    EXPECT_EQ(snapshotOf(*instance), expected);
}

TEST_F(OpcodeSweep, HugeAndNegativeOpcodesAnswerZeroAndChangeNothing)
{
    // Several are an answering opcode plus a multiple of 256 or 65536, or its negative twin, so an
    // implementation that looked at fewer than 32 bits would answer them.
    const std::vector<VstInt32> opcodes = {-2,
                                           -25,
                                           -80,
                                           -256,
                                           -234,  // low byte 22
                                           81,
                                           100,
                                           1000,
                                           256 + __effIdentifyDeprecated,
                                           256 + effGetVstVersion,
                                           1024 + effGetVendorVersion,
                                           65536 + effGetPlugCategory,
                                           65536 + effGetEffectName,
                                           std::numeric_limits<VstInt32>::max(),
                                           std::numeric_limits<VstInt32>::min(),
                                           std::numeric_limits<VstInt32>::min() + __effIdentifyDeprecated,
                                           std::numeric_limits<VstInt32>::min() + effGetVstVersion};
    for (VstInt32 opcode : opcodes)
    {
        for (VstInt32 index : {0, 3, -1})
        {
            SCOPED_TRACE(testing::Message() << "opcode " << opcode << ", index " << index);
            auto instance = fresh();
            const Snapshot expected = snapshotOf(*instance);
            SentinelBuffer buffer;
            EXPECT_EQ(instance->dispatch(opcode, index, 1, buffer.data(), 1.0f), 0);
            EXPECT_TRUE(buffer.untouched());
            EXPECT_EQ(snapshotOf(*instance), expected);
        }
    }
}

TEST_F(OpcodeSweep, CloseAnswersOneAndTheInstanceIsGone)
{
    auto closedByClose = fresh();
    EXPECT_EQ(closedByClose->close(), 1);
    EXPECT_FALSE(closedByClose->isOpen());
    EXPECT_EQ(closedByClose->effect(), nullptr);

    auto closedByDispatch = fresh();
    closedByDispatch->start(48000.0f, 256);
    EXPECT_EQ(closedByDispatch->dispatch(effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_FALSE(closedByDispatch->isOpen());
    EXPECT_EQ(closedByDispatch->calls().size(), 1u) << "only the entry's version query reached the host";
}

// --- opcodes with arguments that matter ----------------------------------------------------------------

TEST_F(OpcodeSweep, SetProgramKeepsTheProgramForEveryValue)
{
    auto instance = fresh();
    instance->setParameter(2, 0.5f);
    const Snapshot expected = snapshotOf(*instance);
    for (VstIntPtr value : {static_cast<VstIntPtr>(0), static_cast<VstIntPtr>(1), static_cast<VstIntPtr>(-1),
                            static_cast<VstIntPtr>(std::numeric_limits<VstInt32>::max())})
    {
        EXPECT_EQ(instance->dispatch(effSetProgram, 0, value), 0) << "value " << value;
        EXPECT_EQ(instance->dispatch(effGetProgram), 0);
        EXPECT_EQ(snapshotOf(*instance), expected) << "value " << value;
    }
}

TEST_F(OpcodeSweep, CanBeAutomatedForEveryIndex)
{
    auto instance = fresh();
    for (VstInt32 index : {0, kNumParams - 1, kNumParams, -1, std::numeric_limits<VstInt32>::min()})
        EXPECT_EQ(instance->dispatch(effCanBeAutomated, index), 1) << "index " << index;
}

TEST_F(OpcodeSweep, CanDoAnswersZeroForEveryCapability)
{
    auto instance = fresh();
    for (const char* capability : {"bypass", "receiveVstMidiEvent", "receiveVstEvents", "sendVstEvents", "offline",
                                   "midiProgramNames", "receiveVstTimeInfo", "plugAsChannelInsert", ""})
        EXPECT_EQ(instance->dispatch(effCanDo, 0, 0, const_cast<char*>(capability)), 0) << capability;
}

TEST_F(OpcodeSweep, TotalSampleToProcessEchoesValue)
{
    auto instance = fresh();
    for (VstInt32 value : {1234, 0, -5, std::numeric_limits<VstInt32>::max()})
        EXPECT_EQ(instance->dispatch(effSetTotalSampleToProcess, 0, value), value);
}

TEST_F(OpcodeSweep, BypassAndPrecisionAreRefused)
{
    auto instance = fresh();
    for (VstIntPtr value : {0, 1, 2})
    {
        EXPECT_EQ(instance->dispatch(effSetBypass, 0, value), 0);
        EXPECT_EQ(instance->dispatch(effSetProcessPrecision, 0, value), 0);
        EXPECT_EQ(instance->dispatch(effSetPanLaw, 0, value, nullptr, 0.5f), 0);
    }
}

TEST_F(OpcodeSweep, GetSpeakerArrangementWritesNullThroughEachGivenAddress)
{
    VstSpeakerArrangement arrangement{};
    VstSpeakerArrangement* input = &arrangement;
    VstSpeakerArrangement* output = &arrangement;
    auto instance = fresh();
    EXPECT_EQ(instance->dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);

    input = &arrangement;
    EXPECT_EQ(instance->dispatch(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), nullptr), 0);
    EXPECT_EQ(input, nullptr) << "a null ptr: only value's variable is written";

    output = &arrangement;
    EXPECT_EQ(instance->dispatch(effGetSpeakerArrangement, 0, 0, &output), 0);
    EXPECT_EQ(output, nullptr) << "a null value: only ptr's variable is written";

    EXPECT_EQ(instance->dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST_F(OpcodeSweep, SetSpeakerArrangementIsRefused)
{
    VstSpeakerArrangement input{}, output{};
    input.type = output.type = 1;
    input.numChannels = 4;
    output.numChannels = 2;
    auto instance = fresh();
    const Snapshot expected = snapshotOf(*instance);
    EXPECT_EQ(instance->dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output), 0);
    EXPECT_EQ(snapshotOf(*instance), expected);
}

// --- opcodes whose effect is heard ----------------------------------------------------------------------

// Settings under which the gain reduction builds up audibly and decays slowly.
void compressHard(PluginInstance& instance)
{
    instance.setParameter(0, 0.0f);  // attack 0.1 ms
    instance.setParameter(1, 1.0f);  // release 500 ms
    instance.setParameter(2, 1.0f);  // 10:1
    instance.setParameter(4, 0.5f);  // about -18 dB
}

// One block of a steady 0.9 on the main pair (louder) or 0.1 (quieter), silent sidechain.
std::vector<float> render(PluginInstance& instance, float level, VstInt32 frames = 2048)
{
    std::vector<float> main(frames, level), side(frames, 0.0f), left(frames), right(frames);
    float* inputs[4] = {main.data(), main.data(), side.data(), side.data()};
    float* outputs[2] = {left.data(), right.data()};
    instance.process(inputs, outputs, frames);
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

TEST_F(OpcodeSweep, SampleRateComesFromOpt)
{
    auto reference = fresh();  // 44100 Hz from construction
    compressHard(*reference);
    const std::vector<float> at44100 = render(*reference, 0.9f);

    auto sameRateInOpt = fresh();
    compressHard(*sameRateInOpt);
    EXPECT_EQ(sameRateInOpt->dispatch(effSetSampleRate, 0, 22050, nullptr, 44100.0f), 0);
    EXPECT_EQ(render(*sameRateInOpt, 0.9f), at44100) << "value is not the rate";

    auto otherRateInOpt = fresh();
    compressHard(*otherRateInOpt);
    EXPECT_EQ(otherRateInOpt->dispatch(effSetSampleRate, 0, 44100, nullptr, 22050.0f), 0);
    EXPECT_NE(render(*otherRateInOpt, 0.9f), at44100) << "opt is the rate";
}

TEST_F(OpcodeSweep, MainsOnResetsTheEnvelopeAndMainsOffKeepsIt)
{
    auto untouched = fresh();
    compressHard(*untouched);
    const std::vector<float> fromRest = render(*untouched, 0.1f);

    for (VstIntPtr value : {1, 2, -1})
    {
        auto resumed = fresh();
        compressHard(*resumed);
        render(*resumed, 0.9f);
        EXPECT_EQ(resumed->dispatch(effMainsChanged, 0, value), 0);
        EXPECT_EQ(render(*resumed, 0.1f), fromRest) << "value " << value << " resumes: the envelope is at rest";
    }

    auto suspended = fresh();
    compressHard(*suspended);
    render(*suspended, 0.9f);
    EXPECT_EQ(suspended->dispatch(effMainsChanged, 0, 0), 0);
    EXPECT_NE(render(*suspended, 0.1f), fromRest) << "value 0 suspends: the gain reduction is still decaying";
}

TEST_F(OpcodeSweep, BlockSizeDoesNotLimitTheBlocks)
{
    auto announced = fresh();
    auto other = fresh();
    compressHard(*announced);
    compressHard(*other);
    EXPECT_EQ(announced->dispatch(effSetBlockSize, 0, 64), 0);
    EXPECT_EQ(render(*announced, 0.9f, 4096), render(*other, 0.9f, 4096));
}

}  // namespace
