// AudioEffect: opcodes 0..24 and what each reaches, the defaults of its virtual operations, the
// flag and field setters, setEditor and the base host services.

#include "AudioEffect.h"
#include "OperationLog.h"
#include "RecordingHost.h"
#include "SentinelBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace
{

constexpr VstInt32 kPrograms = 4;
constexpr VstInt32 kParams = 3;
constexpr VstIntPtr kNvEf = 1316373862;  // 'NvEf' read big-endian

// Overrides every operation the base dispatcher can reach and records the call.
class RecordingEffect : public AudioEffect
{
public:
    explicit RecordingEffect(audioMasterCallback host = nullptr) : AudioEffect(host, kPrograms, kParams) {}

    void open() override { log.push_back({"open"}); }
    void close() override { log.push_back({"close"}); }
    void suspend() override { log.push_back({"suspend"}); }
    void resume() override { log.push_back({"resume"}); }
    void setSampleRate(float rate) override { log.push_back({"setSampleRate", 0, 0, 0, nullptr, nullptr, rate}); }
    void setBlockSize(VstInt32 size) override { log.push_back({"setBlockSize", size}); }
    void processReplacing(float**, float**, VstInt32) override { log.push_back({"processReplacing"}); }
    void setParameter(VstInt32 index, float value) override
    {
        // Remembers how many host calls came before, to show the order of setParameterAutomated.
        log.push_back({"setParameter", index, hostCallsSoFar(), 0, nullptr, nullptr, value});
    }
    VstInt32 getProgram() override
    {
        log.push_back({"getProgram"});
        return programAnswer;
    }
    void setProgram(VstInt32 program) override { log.push_back({"setProgram", program}); }
    void setProgramName(char* name) override { log.push_back({"setProgramName", 0, 0, 0, name}); }
    void getProgramName(char* name) override { log.push_back({"getProgramName", 0, 0, 0, name}); }
    void getParameterLabel(VstInt32 index, char* text) override
    {
        log.push_back({"getParameterLabel", index, 0, 0, text});
    }
    void getParameterDisplay(VstInt32 index, char* text) override
    {
        log.push_back({"getParameterDisplay", index, 0, 0, text});
    }
    void getParameterName(VstInt32 index, char* text) override
    {
        log.push_back({"getParameterName", index, 0, 0, text});
    }
    VstInt32 getChunk(void** data, bool isPreset) override
    {
        log.push_back({"getChunk", isPreset, 0, 0, data});
        return chunkAnswer;
    }
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override
    {
        log.push_back({"setChunk", byteSize, isPreset, 0, data});
        return chunkAnswer;
    }
    float __getVuDeprecated() override
    {
        log.push_back({"__getVuDeprecated"});
        return 0.5f;
    }

    std::int64_t hostCallsSoFar() const { return host != nullptr ? static_cast<std::int64_t>(host->calls.size()) : -1; }

    OperationLog log;
    VstInt32 programAnswer = 77;
    VstInt32 chunkAnswer = 4321;
    RecordingHost* host = nullptr;
};

// Overrides nothing but the audio path: every other operation is the base default.
class PlainEffect : public AudioEffect
{
public:
    explicit PlainEffect(audioMasterCallback host = nullptr) : AudioEffect(host, kPrograms, kParams) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

struct DispatchRow
{
    VstInt32 opcode;
    OperationLog expected;  // ptr arguments are filled in by the test
    VstIntPtr answer;
};

// --- the opcode table ---------------------------------------------------------------------------------

// Each opcode once, with index 3, value 2, opt 0.75 and a buffer as ptr: distinct arguments, so a
// row that read the wrong one would record a different call.
TEST(BaseDispatcher, EveryOpcodeReachesItsOperationWithItsArguments)
{
    char buffer[64] = {};
    const void* ptr = buffer;
    const VstInt32 index = 3;
    const VstIntPtr value = 2;
    const float opt = 0.75f;

    const std::vector<DispatchRow> rows = {
        {effOpen, {{"open"}}, 0},
        {effClose, {{"close"}}, 0},
        {effSetProgram, {{"setProgram", value}}, 0},
        {effGetProgram, {{"getProgram"}}, 77},
        {effSetProgramName, {{"setProgramName", 0, 0, 0, ptr}}, 0},
        {effGetProgramName, {{"getProgramName", 0, 0, 0, ptr}}, 0},
        {effGetParamLabel, {{"getParameterLabel", index, 0, 0, ptr}}, 0},
        {effGetParamDisplay, {{"getParameterDisplay", index, 0, 0, ptr}}, 0},
        {effGetParamName, {{"getParameterName", index, 0, 0, ptr}}, 0},
        {__effGetVuDeprecated, {}, 0},
        {effSetSampleRate, {{"setSampleRate", 0, 0, 0, nullptr, nullptr, opt}}, 0},
        {effSetBlockSize, {{"setBlockSize", value}}, 0},
        {effMainsChanged, {{"resume"}}, 0},
        {effEditGetRect, {}, 0},
        {effEditOpen, {}, 0},
        {effEditClose, {}, 0},
        {__effEditDrawDeprecated, {}, 0},
        {__effEditMouseDeprecated, {}, 0},
        {__effEditKeyDeprecated, {}, 0},
        {effEditIdle, {}, 0},
        {__effEditTopDeprecated, {}, 0},
        {__effEditSleepDeprecated, {}, 0},
        {__effIdentifyDeprecated, {}, kNvEf},
        {effGetChunk, {{"getChunk", 1, 0, 0, ptr}}, 4321},
        {effSetChunk, {{"setChunk", value, 1, 0, ptr}}, 4321},
    };
    for (const DispatchRow& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "opcode " << row.opcode);
        RecordingEffect effect;
        EXPECT_EQ(effect.dispatcher(row.opcode, index, value, buffer, opt), row.answer);
        EXPECT_EQ(effect.log, row.expected);
    }
}

TEST(BaseDispatcher, SetProgramTestsOnlyTheUpperBound)
{
    const std::vector<std::pair<VstIntPtr, OperationLog>> cases = {
        {kPrograms - 1, {{"setProgram", kPrograms - 1}}},
        {kPrograms, {}},
        {kPrograms + 1, {}},
        {0, {{"setProgram", 0}}},
        {-1, {{"setProgram", -1}}},
        {std::numeric_limits<VstInt32>::max(), {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "value " << c.first);
        RecordingEffect effect;
        EXPECT_EQ(effect.dispatcher(effSetProgram, 1, c.first, nullptr, 0.0f), 0);
        EXPECT_EQ(effect.log, c.second);
    }
}

TEST(BaseDispatcher, SetProgramOutOfRangeKeepsTheCurrentProgramOfTheDefault)
{
    PlainEffect effect;
    effect.dispatcher(effSetProgram, 0, 2, nullptr, 0.0f);
    EXPECT_EQ(effect.getProgram(), 2);
    effect.dispatcher(effSetProgram, 0, kPrograms, nullptr, 0.0f);
    EXPECT_EQ(effect.getProgram(), 2);
    EXPECT_EQ(effect.dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), 2);
}

TEST(BaseDispatcher, MainsChangedSuspendsOnlyForZero)
{
    std::vector<VstIntPtr> resumeValues = {1, 2, -1, std::numeric_limits<VstIntPtr>::min()};
    if (sizeof(VstIntPtr) > 4)
        resumeValues.push_back(static_cast<VstIntPtr>(1) << (sizeof(VstIntPtr) * 4));  // zero in the low 32 bits
    for (VstIntPtr value : resumeValues)
    {
        RecordingEffect effect;
        EXPECT_EQ(effect.dispatcher(effMainsChanged, 0, value, nullptr, 0.0f), 0);
        EXPECT_EQ(effect.log, OperationLog({{"resume"}})) << "value " << value;
    }
    RecordingEffect effect;
    EXPECT_EQ(effect.dispatcher(effMainsChanged, 5, 0, nullptr, 1.0f), 0);
    EXPECT_EQ(effect.log, OperationLog({{"suspend"}}));
}

TEST(BaseDispatcher, SampleRateComesFromOptAndBlockSizeFromValue)
{
    RecordingEffect effect;
    effect.dispatcher(effSetSampleRate, 48000, 96000, nullptr, 44100.5f);
    effect.dispatcher(effSetBlockSize, 256, 512, nullptr, 128.0f);
    EXPECT_EQ(effect.log, OperationLog({{"setSampleRate", 0, 0, 0, nullptr, nullptr, 44100.5f}, {"setBlockSize", 512}}));
}

TEST(BaseDispatcher, ChunkOpcodesPassIsPresetAsIndexNotZero)
{
    void* data = nullptr;
    for (VstInt32 index : {0, 1, -1, 7})
    {
        RecordingEffect effect;
        effect.chunkAnswer = -9;
        EXPECT_EQ(effect.dispatcher(effGetChunk, index, 0, &data, 0.0f), -9);
        EXPECT_EQ(effect.dispatcher(effSetChunk, index, 1234, &data, 0.0f), -9);
        EXPECT_EQ(effect.log, OperationLog({{"getChunk", index != 0, 0, 0, &data}, {"setChunk", 1234, index != 0, 0, &data}}))
            << "index " << index;
    }
}

TEST(BaseDispatcher, NullTextPointerReachesNoOperation)
{
    for (VstInt32 opcode : {effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName})
    {
        RecordingEffect effect;
        EXPECT_EQ(effect.dispatcher(opcode, 0, 0, nullptr, 0.0f), 0) << "opcode " << opcode;
        EXPECT_TRUE(effect.log.empty()) << "opcode " << opcode << " called " << effect.log.front();
    }
}

TEST(BaseDispatcher, UnhandledOpcodesAnswerZeroAndCallNothing)
{
    std::vector<VstInt32> opcodes = {__effGetVuDeprecated,     __effEditDrawDeprecated, __effEditMouseDeprecated,
                                     __effEditKeyDeprecated,   __effEditTopDeprecated,  __effEditSleepDeprecated,
                                     -1,                       -2,                      -24,
                                     std::numeric_limits<VstInt32>::min(), std::numeric_limits<VstInt32>::max(),
                                     256 + __effIdentifyDeprecated, 65536 + effGetProgram, -234};
    for (VstInt32 opcode = 25; opcode <= 200; ++opcode)
        opcodes.push_back(opcode);
    char buffer[64] = {};
    for (VstInt32 opcode : opcodes)
    {
        RecordingEffect effect;
        auto* editor = new RecordingEditor;
        effect.setEditor(editor);
        EXPECT_EQ(effect.dispatcher(opcode, 1, 1, buffer, 1.0f), 0) << "opcode " << opcode;
        EXPECT_TRUE(effect.log.empty()) << "opcode " << opcode << " called " << effect.log.front();
        EXPECT_TRUE(editor->log.empty()) << "opcode " << opcode << " called " << editor->log.front();
    }
}

TEST(BaseDispatcher, IdentifyAnswersNvEf)
{
    PlainEffect effect;
    EXPECT_EQ(effect.dispatcher(__effIdentifyDeprecated, 0, 0, nullptr, 0.0f), fourCharId('N', 'v', 'E', 'f'));
    EXPECT_EQ(effect.dispatcher(__effIdentifyDeprecated, 0, 0, nullptr, 0.0f), kNvEf);
}

// --- editor opcodes -----------------------------------------------------------------------------------

TEST(BaseDispatcher, EditorOpcodesWithoutAnEditorCallNothingAndLeaveThePointer)
{
    RecordingEffect effect;
    ERect dummy{};
    ERect* rect = &dummy;
    EXPECT_EQ(effect.dispatcher(effEditGetRect, 0, 0, &rect, 0.0f), 0);
    EXPECT_EQ(rect, &dummy);
    EXPECT_EQ(effect.dispatcher(effEditOpen, 0, 0, &rect, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effEditClose, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effEditIdle, 0, 0, nullptr, 0.0f), 0);
    EXPECT_TRUE(effect.log.empty());
}

TEST(BaseDispatcher, EditorOpcodesReachTheEditor)
{
    char window[8];
    ERect* rect = nullptr;
    for (bool answer : {true, false})
    {
        SCOPED_TRACE(testing::Message() << "editor answers " << answer);
        RecordingEffect effect;
        auto* editor = new RecordingEditor;
        editor->answer = answer;
        effect.setEditor(editor);

        EXPECT_EQ(effect.dispatcher(effEditGetRect, 4, 5, &rect, 6.0f), answer ? 1 : 0);
        EXPECT_EQ(effect.dispatcher(effEditOpen, 4, 5, window, 6.0f), answer ? 1 : 0);
        EXPECT_EQ(effect.dispatcher(effEditClose, 4, 5, window, 6.0f), 0);
        EXPECT_EQ(effect.dispatcher(effEditIdle, 4, 5, window, 6.0f), 0);
        EXPECT_EQ(editor->log, OperationLog({{"editor.getRect", 0, 0, 0, &rect},
                                             {"editor.open", 0, 0, 0, window},
                                             {"editor.close"},
                                             {"editor.idle"}}));
        EXPECT_TRUE(effect.log.empty());
    }
}

// --- defaults -------------------------------------------------------------------------------------------

TEST(BaseDefaults, LifeCycleOperationsChangeNothing)
{
    PlainEffect effect;
    AEffect before;
    std::memcpy(&before, effect.getAeffect(), sizeof before);
    effect.open();
    effect.resume();
    effect.suspend();
    effect.close();
    effect.setParameter(0, 0.5f);
    effect.setProgramName(const_cast<char*>("name"));
    EXPECT_EQ(std::memcmp(&before, effect.getAeffect(), sizeof before), 0);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(effect.getProgram(), 0);
}

TEST(BaseDefaults, ParametersReadZero)
{
    PlainEffect effect;
    for (VstInt32 index : {0, 1, 2, 3, -1, 1000})
    {
        effect.setParameter(index, 0.75f);
        EXPECT_EQ(effect.getParameter(index), 0.0f) << "index " << index;
    }
    EXPECT_EQ(effect.__getVuDeprecated(), 0.0f);
}

TEST(BaseDefaults, ProgramIsStoredWithoutRangeTest)
{
    PlainEffect effect;
    for (VstInt32 program : {3, -5, 100, 0})
    {
        effect.setProgram(program);
        EXPECT_EQ(effect.getProgram(), program);
    }
}

TEST(BaseDefaults, TextOperationsWriteTheEmptyString)
{
    PlainEffect effect;
    SentinelBuffer name, label, display, paramName;
    effect.getProgramName(name.data());
    effect.getParameterLabel(1, label.data());
    effect.getParameterDisplay(1, display.data());
    effect.getParameterName(1, paramName.data());
    EXPECT_TRUE(name.holdsTerminated(""));
    EXPECT_TRUE(label.holdsTerminated(""));
    EXPECT_TRUE(display.holdsTerminated(""));
    EXPECT_TRUE(paramName.holdsTerminated(""));

    // Through the dispatcher as well, and with a null buffer nothing happens.
    SentinelBuffer viaDispatcher;
    EXPECT_EQ(effect.dispatcher(effGetParamDisplay, 0, 0, viaDispatcher.data(), 0.0f), 0);
    EXPECT_TRUE(viaDispatcher.holdsTerminated(""));
    effect.getProgramName(nullptr);
    effect.getParameterName(0, nullptr);
}

TEST(BaseDefaults, ChunksAreRefusedAndLeaveTheDataPointer)
{
    PlainEffect effect;
    int marker = 0;
    void* data = &marker;
    EXPECT_EQ(effect.getChunk(&data, false), 0);
    EXPECT_EQ(effect.getChunk(&data, true), 0);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(effect.dispatcher(effGetChunk, 1, 0, &data, 0.0f), 0);
    EXPECT_EQ(data, &marker);
    EXPECT_EQ(effect.setChunk(&marker, 4, false), 0);
    EXPECT_EQ(effect.dispatcher(effSetChunk, 0, 4, &marker, 0.0f), 0);
}

TEST(BaseDefaults, AudioOperationsLeaveTheOutputsUntouched)
{
    PlainEffect effect;
    double inD[4] = {1, 2, 3, 4}, outD[4] = {9, 9, 9, 9};
    double* insD[2] = {inD, inD};
    double* outsD[2] = {outD, outD};
    effect.processDoubleReplacing(insD, outsD, 4);
    effect.getAeffect()->processDoubleReplacing(effect.getAeffect(), insD, outsD, 4);
    float inF[4] = {1, 2, 3, 4}, outF[4] = {9, 9, 9, 9};
    float* insF[2] = {inF, inF};
    float* outsF[2] = {outF, outF};
    effect.__processDeprecated(insF, outsF, 4);
    effect.getAeffect()->__processDeprecated(effect.getAeffect(), insF, outsF, 4);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(outD[i], 9.0);
        EXPECT_EQ(outF[i], 9.0f);
    }
}

TEST(BaseDefaults, FieldSettersStoreIntoTheRecordAndTheObject)
{
    PlainEffect effect;
    AEffect* record = effect.getAeffect();
    effect.setUniqueID(fourCharId('T', 'e', 's', 't'));
    effect.setNumInputs(6);
    effect.setNumOutputs(-3);
    effect.setInitialDelay(480);
    effect.__setRealtimeQualitiesDeprecated(11);
    effect.__setOfflineQualitiesDeprecated(-12);
    effect.setSampleRate(-1.0f);
    effect.setBlockSize(0);
    EXPECT_EQ(record->uniqueID, 0x54657374);
    EXPECT_EQ(record->numInputs, 6);
    EXPECT_EQ(record->numOutputs, -3);
    EXPECT_EQ(record->initialDelay, 480);
    EXPECT_EQ(record->__realQualitiesDeprecated, 11);
    EXPECT_EQ(record->__offQualitiesDeprecated, -12);
    EXPECT_EQ(effect.getSampleRate(), -1.0f);
    EXPECT_EQ(effect.getBlockSize(), 0);
    EXPECT_EQ(record->flags, effFlagsCanReplacing) << "no setter touches the flags";
}

TEST(BaseDefaults, AccessorsReturnTheRecordAndTheEditor)
{
    PlainEffect effect;
    EXPECT_EQ(effect.getAeffect()->object, static_cast<void*>(&effect));
    EXPECT_EQ(effect.getEditor(), nullptr);
    auto* editor = new RecordingEditor;
    effect.setEditor(editor);
    EXPECT_EQ(effect.getEditor(), editor);
}

// --- flags ----------------------------------------------------------------------------------------------

struct FlagSetter
{
    const char* name;
    void (*set)(AudioEffect&, bool);
    VstInt32 bit;
};

TEST(BaseFlags, EachSetterChangesOnlyItsOwnBit)
{
    const std::vector<FlagSetter> setters = {
        {"__hasClipDeprecated", [](AudioEffect& e, bool s) { e.__hasClipDeprecated(s); }, 2},
        {"__hasVuDeprecated", [](AudioEffect& e, bool s) { e.__hasVuDeprecated(s); }, 4},
        {"__canMonoDeprecated", [](AudioEffect& e, bool s) { e.__canMonoDeprecated(s); }, 8},
        {"canProcessReplacing", [](AudioEffect& e, bool s) { e.canProcessReplacing(s); }, 16},
        {"programsAreChunks", [](AudioEffect& e, bool s) { e.programsAreChunks(s); }, 32},
        {"canDoubleReplacing", [](AudioEffect& e, bool s) { e.canDoubleReplacing(s); }, 4096},
    };
    for (const FlagSetter& setter : setters)
    {
        SCOPED_TRACE(setter.name);
        PlainEffect effect;
        VstInt32& flags = effect.getAeffect()->flags;
        for (VstInt32 start : {0, static_cast<VstInt32>(0xFFFFFFFFu), VstInt32{effFlagsCanReplacing}, 0x5A5A5A5A})
        {
            flags = start;
            setter.set(effect, true);
            EXPECT_EQ(flags, start | setter.bit);
            setter.set(effect, false);
            EXPECT_EQ(flags, start & ~setter.bit);
        }
    }
}

TEST(BaseFlags, DoubleReplacingOnTheConstructedFlags)
{
    PlainEffect effect;
    EXPECT_EQ(effect.getAeffect()->flags, 16);
    effect.canDoubleReplacing(true);
    EXPECT_EQ(effect.getAeffect()->flags, 4112);
    effect.canDoubleReplacing(false);
    EXPECT_EQ(effect.getAeffect()->flags, 16);
}

TEST(SetEditor, SetsAndClearsOnlyTheEditorFlag)
{
    PlainEffect effect;
    VstInt32& flags = effect.getAeffect()->flags;
    RecordingEditor editor;
    effect.setEditor(&editor);
    EXPECT_EQ(flags, effFlagsHasEditor | effFlagsCanReplacing);
    effect.setEditor(nullptr);
    EXPECT_EQ(flags, effFlagsCanReplacing);
    flags = 0x7FFFFFFF;
    effect.setEditor(nullptr);
    EXPECT_EQ(flags, 0x7FFFFFFE);
    effect.setEditor(&editor);
    EXPECT_EQ(flags, 0x7FFFFFFF);
    effect.setEditor(nullptr);  // the stack editor must not be deleted by the effect
}

TEST(SetEditor, TheEffectDeletesItsEditor)
{
    bool destroyed = false;
    {
        PlainEffect effect;
        effect.setEditor(new RecordingEditor(&destroyed));
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);
}

// --- the record's dispatcher entry and effClose ---------------------------------------------------

class ClosingEffect : public RecordingEffect
{
public:
    explicit ClosingEffect(OperationLog& outside) : m_outside(outside) {}
    ~ClosingEffect() override { m_outside.push_back({"destructor"}); }
    void close() override { m_outside.push_back({"close"}); }

private:
    OperationLog& m_outside;
};

TEST(RecordEntry, CloseRunsCloseThenDestroysAndAnswersOne)
{
    OperationLog outside;
    auto* effect = new ClosingEffect(outside);
    AEffect* record = effect->getAeffect();
    EXPECT_EQ(record->dispatcher(record, effGetProgram, 0, 0, nullptr, 0.0f), 77) << "other opcodes pass through";
    EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(outside, OperationLog({{"close"}, {"destructor"}}));
}

// --- base host services -------------------------------------------------------------------------------

::testing::AssertionResult isCall(const HostCall& call, AEffect* effect, VstInt32 opcode, VstInt32 index,
                                  VstIntPtr value, float opt)
{
    if (call.effect == effect && call.opcode == opcode && call.index == index && call.value == value &&
        call.ptr == nullptr && std::memcmp(&call.opt, &opt, sizeof opt) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "host got (" << call.effect << ", " << call.opcode << ", " << call.index
                                         << ", " << call.value << ", " << call.ptr << ", " << call.opt << "), expected ("
                                         << effect << ", " << opcode << ", " << index << ", " << value
                                         << ", null, " << opt << ")";
}

TEST(BaseHostServices, SetParameterAutomatedUpdatesTheEffectFirstThenTellsTheHost)
{
    RecordingHost host;
    host.answer = 99;
    RecordingEffect effect(&RecordingHost::callback);
    effect.host = &host;
    effect.setParameterAutomated(2, 0.3f);
    EXPECT_EQ(effect.log, OperationLog({{"setParameter", 2, 0, 0, nullptr, nullptr, 0.3f}}))
        << "setParameter runs before the host is called";
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_TRUE(isCall(host.calls[0], effect.getAeffect(), audioMasterAutomate, 2, 0, 0.3f));
}

TEST(BaseHostServices, SetParameterAutomatedWithoutHostStillSetsTheParameter)
{
    RecordingEffect effect(nullptr);
    effect.setParameterAutomated(1, 0.9f);
    EXPECT_EQ(effect.log, OperationLog({{"setParameter", 1, -1, 0, nullptr, nullptr, 0.9f}}));
}

TEST(BaseHostServices, MasterVersionIsNeverZero)
{
    const std::vector<std::pair<VstIntPtr, VstInt32>> answers = {{2400, 2400}, {0, 1}, {2, 2}, {-7, -7}};
    for (const auto& a : answers)
    {
        RecordingHost host;
        host.answer = a.first;
        PlainEffect effect(&RecordingHost::callback);
        EXPECT_EQ(effect.getMasterVersion(), a.second) << "host answers " << a.first;
        ASSERT_EQ(host.calls.size(), 1u);
        EXPECT_TRUE(isCall(host.calls[0], effect.getAeffect(), audioMasterVersion, 0, 0, 0.0f));
    }
    PlainEffect alone(nullptr);
    EXPECT_EQ(alone.getMasterVersion(), 1);
}

TEST(BaseHostServices, CurrentUniqueIdIsTheHostAnswer)
{
    for (VstIntPtr answer : {static_cast<VstIntPtr>(0x42524C41), static_cast<VstIntPtr>(0), static_cast<VstIntPtr>(-1)})
    {
        RecordingHost host;
        host.answer = answer;
        PlainEffect effect(&RecordingHost::callback);
        EXPECT_EQ(effect.getCurrentUniqueId(), answer);
        ASSERT_EQ(host.calls.size(), 1u);
        EXPECT_TRUE(isCall(host.calls[0], effect.getAeffect(), audioMasterCurrentId, 0, 0, 0.0f));
    }
    PlainEffect alone(nullptr);
    EXPECT_EQ(alone.getCurrentUniqueId(), 0);
}

TEST(BaseHostServices, MasterIdleSendsOpcode3)
{
    RecordingHost host;
    host.answer = 5;
    PlainEffect effect(&RecordingHost::callback);
    effect.masterIdle();
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_TRUE(isCall(host.calls[0], effect.getAeffect(), audioMasterIdle, 0, 0, 0.0f));

    PlainEffect alone(nullptr);
    alone.masterIdle();
    EXPECT_EQ(host.calls.size(), 1u) << "no host callback: nothing is sent anywhere";
}

TEST(BaseHostServices, PinConnectionQueriesAreTrueWhenTheHostAnswersZero)
{
    for (VstIntPtr answer : {0, 1, -1, 2})
    {
        RecordingHost host;
        host.answer = answer;
        PlainEffect effect(&RecordingHost::callback);
        EXPECT_EQ(effect.__isInputConnectedDeprecated(5), answer == 0) << "host answers " << answer;
        EXPECT_EQ(effect.__isOutputConnectedDeprecated(6), answer == 0) << "host answers " << answer;
        ASSERT_EQ(host.calls.size(), 2u);
        EXPECT_TRUE(isCall(host.calls[0], effect.getAeffect(), __audioMasterPinConnectedDeprecated, 5, 0, 0.0f));
        EXPECT_TRUE(isCall(host.calls[1], effect.getAeffect(), __audioMasterPinConnectedDeprecated, 6, 1, 0.0f));
    }
    PlainEffect alone(nullptr);
    EXPECT_TRUE(alone.__isInputConnectedDeprecated(0));
    EXPECT_TRUE(alone.__isOutputConnectedDeprecated(0));
}

}  // namespace
