// AudioEffectX: opcodes 25..79 and what each reaches, the fall-through to the base dispatcher, the
// editor key opcodes, the default body of every extended operation and resume.

#include "AudioEffectX.h"
#include "OperationLog.h"
#include "RecordingHost.h"
#include "SentinelBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace
{

// Overrides every operation that an opcode reaches, base ones included, and records each call.
// Bool operations answer boolAnswer, integer ones intAnswer.
class RecordingEffectX : public AudioEffectX
{
public:
    explicit RecordingEffectX(audioMasterCallback host = nullptr) : AudioEffectX(host, 2, 3) {}

    // Base operations: an unhandled opcode must reach none of them.
    void open() override { note({"open"}); }
    void close() override { note({"close"}); }
    void suspend() override { note({"suspend"}); }
    void setSampleRate(float rate) override { note({"setSampleRate", 0, 0, 0, nullptr, nullptr, rate}); }
    void setBlockSize(VstInt32 size) override { note({"setBlockSize", size}); }
    void processReplacing(float**, float**, VstInt32) override { note({"processReplacing"}); }
    void setParameter(VstInt32 index, float value) override { note({"setParameter", index, 0, 0, nullptr, nullptr, value}); }
    float getParameter(VstInt32 index) override
    {
        note({"getParameter", index});
        return 0.0f;
    }
    VstInt32 getProgram() override
    {
        note({"getProgram"});
        return asInt();
    }
    void setProgram(VstInt32 program) override { note({"setProgram", program}); }
    void setProgramName(char* name) override { note({"setProgramName", 0, 0, 0, name}); }
    void getProgramName(char* name) override { note({"getProgramName", 0, 0, 0, name}); }
    void getParameterLabel(VstInt32 index, char* text) override { note({"getParameterLabel", index, 0, 0, text}); }
    void getParameterDisplay(VstInt32 index, char* text) override { note({"getParameterDisplay", index, 0, 0, text}); }
    void getParameterName(VstInt32 index, char* text) override { note({"getParameterName", index, 0, 0, text}); }
    VstInt32 getChunk(void** data, bool isPreset) override
    {
        note({"getChunk", isPreset, 0, 0, data});
        return asInt();
    }
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override
    {
        note({"setChunk", byteSize, isPreset, 0, data});
        return asInt();
    }

    // Extended operations, in the order of the opcode table.
    VstInt32 processEvents(VstEvents* events) override { return noteInt({"processEvents", 0, 0, 0, events}); }
    bool canParameterBeAutomated(VstInt32 index) override { return noteBool({"canParameterBeAutomated", index}); }
    bool string2parameter(VstInt32 index, char* text) override { return noteBool({"string2parameter", index, 0, 0, text}); }
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override
    {
        return noteBool({"getProgramNameIndexed", category, index, 0, text});
    }
    bool getInputProperties(VstInt32 index, VstPinProperties* p) override
    {
        return noteBool({"getInputProperties", index, 0, 0, p});
    }
    bool getOutputProperties(VstInt32 index, VstPinProperties* p) override
    {
        return noteBool({"getOutputProperties", index, 0, 0, p});
    }
    VstPlugCategory getPlugCategory() override
    {
        return static_cast<VstPlugCategory>(noteInt({"getPlugCategory"}));
    }
    bool offlineNotify(VstAudioFile* ptr, VstInt32 numAudioFiles, bool start) override
    {
        return noteBool({"offlineNotify", numAudioFiles, start, 0, ptr});
    }
    bool offlinePrepare(VstOfflineTask* offline, VstInt32 count) override
    {
        return noteBool({"offlinePrepare", count, 0, 0, offline});
    }
    bool offlineRun(VstOfflineTask* offline, VstInt32 count) override
    {
        return noteBool({"offlineRun", count, 0, 0, offline});
    }
    bool processVariableIo(VstVariableIo* varIo) override { return noteBool({"processVariableIo", 0, 0, 0, varIo}); }
    bool setSpeakerArrangement(VstSpeakerArrangement* in, VstSpeakerArrangement* out) override
    {
        return noteBool({"setSpeakerArrangement", 0, 0, 0, in, out});
    }
    bool setBypass(bool onOff) override { return noteBool({"setBypass", onOff}); }
    bool getEffectName(char* name) override { return noteBool({"getEffectName", 0, 0, 0, name}); }
    bool getVendorString(char* text) override { return noteBool({"getVendorString", 0, 0, 0, text}); }
    bool getProductString(char* text) override { return noteBool({"getProductString", 0, 0, 0, text}); }
    VstInt32 getVendorVersion() override { return noteInt({"getVendorVersion"}); }
    VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg, float floatArg) override
    {
        note({"vendorSpecific", lArg, lArg2, 0, ptrArg, nullptr, floatArg});
        return intAnswer;
    }
    VstInt32 canDo(char* text) override { return noteInt({"canDo", 0, 0, 0, text}); }
    VstInt32 getGetTailSize() override { return noteInt({"getGetTailSize"}); }
    bool getParameterProperties(VstInt32 index, VstParameterProperties* p) override
    {
        return noteBool({"getParameterProperties", index, 0, 0, p});
    }
    VstInt32 getVstVersion() override { return noteInt({"getVstVersion"}); }
    VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* name) override
    {
        return noteInt({"getMidiProgramName", channel, 0, 0, name});
    }
    VstInt32 getCurrentMidiProgram(VstInt32 channel, MidiProgramName* current) override
    {
        return noteInt({"getCurrentMidiProgram", channel, 0, 0, current});
    }
    VstInt32 getMidiProgramCategory(VstInt32 channel, MidiProgramCategory* category) override
    {
        return noteInt({"getMidiProgramCategory", channel, 0, 0, category});
    }
    bool hasMidiProgramsChanged(VstInt32 channel) override { return noteBool({"hasMidiProgramsChanged", channel}); }
    bool getMidiKeyName(VstInt32 channel, MidiKeyName* keyName) override
    {
        return noteBool({"getMidiKeyName", channel, 0, 0, keyName});
    }
    bool beginSetProgram() override { return noteBool({"beginSetProgram"}); }
    bool endSetProgram() override { return noteBool({"endSetProgram"}); }
    bool getSpeakerArrangement(VstSpeakerArrangement** in, VstSpeakerArrangement** out) override
    {
        return noteBool({"getSpeakerArrangement", 0, 0, 0, in, out});
    }
    VstInt32 getNextShellPlugin(char* name) override { return noteInt({"getNextShellPlugin", 0, 0, 0, name}); }
    VstInt32 startProcess() override { return noteInt({"startProcess"}); }
    VstInt32 stopProcess() override { return noteInt({"stopProcess"}); }
    VstInt32 setTotalSampleToProcess(VstInt32 value) override { return noteInt({"setTotalSampleToProcess", value}); }
    bool setPanLaw(VstInt32 type, float val) override { return noteBool({"setPanLaw", type, 0, 0, nullptr, nullptr, val}); }
    VstInt32 beginLoadBank(VstPatchChunkInfo* ptr) override { return noteInt({"beginLoadBank", 0, 0, 0, ptr}); }
    VstInt32 beginLoadProgram(VstPatchChunkInfo* ptr) override { return noteInt({"beginLoadProgram", 0, 0, 0, ptr}); }
    bool setProcessPrecision(VstInt32 precision) override { return noteBool({"setProcessPrecision", precision}); }
    VstInt32 getNumMidiInputChannels() override { return noteInt({"getNumMidiInputChannels"}); }
    VstInt32 getNumMidiOutputChannels() override { return noteInt({"getNumMidiOutputChannels"}); }

    OperationLog log;
    bool boolAnswer = true;
    VstIntPtr intAnswer = 0x12345;

private:
    void note(Operation op) { log.push_back(std::move(op)); }
    VstInt32 asInt() const { return static_cast<VstInt32>(intAnswer); }
    bool noteBool(Operation op)
    {
        note(std::move(op));
        return boolAnswer;
    }
    VstInt32 noteInt(Operation op)
    {
        note(std::move(op));
        return asInt();
    }
};

// Overrides nothing but the audio path.
class PlainEffectX : public AudioEffectX
{
public:
    explicit PlainEffectX(audioMasterCallback host = nullptr) : AudioEffectX(host, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

enum class Answer
{
    Bool,  // the operation's bool as 1 or 0
    AsIs   // the operation's integer unchanged
};

struct ExtendedRow
{
    VstInt32 opcode;
    Operation expected;
    Answer answer;
};

// Arguments of every row: all distinct, so a row that read the wrong one records another call.
constexpr VstInt32 kIndex = 3;
constexpr VstIntPtr kValue = 5;
constexpr float kOpt = 0.25f;

std::vector<ExtendedRow> extendedRows(const void* ptr)
{
    const void* valueAsPointer = reinterpret_cast<const void*>(kValue);
    return {
        {effProcessEvents, {"processEvents", 0, 0, 0, ptr}, Answer::AsIs},
        {effCanBeAutomated, {"canParameterBeAutomated", kIndex}, Answer::Bool},
        {effString2Parameter, {"string2parameter", kIndex, 0, 0, ptr}, Answer::Bool},
        {effGetProgramNameIndexed, {"getProgramNameIndexed", kValue, kIndex, 0, ptr}, Answer::Bool},
        {effGetInputProperties, {"getInputProperties", kIndex, 0, 0, ptr}, Answer::Bool},
        {effGetOutputProperties, {"getOutputProperties", kIndex, 0, 0, ptr}, Answer::Bool},
        {effGetPlugCategory, {"getPlugCategory"}, Answer::AsIs},
        {effOfflineNotify, {"offlineNotify", kValue, 1, 0, ptr}, Answer::Bool},
        {effOfflinePrepare, {"offlinePrepare", kValue, 0, 0, ptr}, Answer::Bool},
        {effOfflineRun, {"offlineRun", kValue, 0, 0, ptr}, Answer::Bool},
        {effProcessVarIo, {"processVariableIo", 0, 0, 0, ptr}, Answer::Bool},
        {effSetSpeakerArrangement, {"setSpeakerArrangement", 0, 0, 0, valueAsPointer, ptr}, Answer::Bool},
        {effSetBypass, {"setBypass", 1}, Answer::Bool},
        {effGetEffectName, {"getEffectName", 0, 0, 0, ptr}, Answer::Bool},
        {effGetVendorString, {"getVendorString", 0, 0, 0, ptr}, Answer::Bool},
        {effGetProductString, {"getProductString", 0, 0, 0, ptr}, Answer::Bool},
        {effGetVendorVersion, {"getVendorVersion"}, Answer::AsIs},
        {effVendorSpecific, {"vendorSpecific", kIndex, kValue, 0, ptr, nullptr, kOpt}, Answer::AsIs},
        {effCanDo, {"canDo", 0, 0, 0, ptr}, Answer::AsIs},
        {effGetTailSize, {"getGetTailSize"}, Answer::AsIs},
        {effGetParameterProperties, {"getParameterProperties", kIndex, 0, 0, ptr}, Answer::Bool},
        {effGetVstVersion, {"getVstVersion"}, Answer::AsIs},
        {effGetMidiProgramName, {"getMidiProgramName", kIndex, 0, 0, ptr}, Answer::AsIs},
        {effGetCurrentMidiProgram, {"getCurrentMidiProgram", kIndex, 0, 0, ptr}, Answer::AsIs},
        {effGetMidiProgramCategory, {"getMidiProgramCategory", kIndex, 0, 0, ptr}, Answer::AsIs},
        {effHasMidiProgramsChanged, {"hasMidiProgramsChanged", kIndex}, Answer::Bool},
        {effGetMidiKeyName, {"getMidiKeyName", kIndex, 0, 0, ptr}, Answer::Bool},
        {effBeginSetProgram, {"beginSetProgram"}, Answer::Bool},
        {effEndSetProgram, {"endSetProgram"}, Answer::Bool},
        {effGetSpeakerArrangement, {"getSpeakerArrangement", 0, 0, 0, valueAsPointer, ptr}, Answer::Bool},
        {effShellGetNextPlugin, {"getNextShellPlugin", 0, 0, 0, ptr}, Answer::AsIs},
        {effStartProcess, {"startProcess"}, Answer::AsIs},
        {effStopProcess, {"stopProcess"}, Answer::AsIs},
        {effSetTotalSampleToProcess, {"setTotalSampleToProcess", kValue}, Answer::AsIs},
        {effSetPanLaw, {"setPanLaw", kValue, 0, 0, nullptr, nullptr, kOpt}, Answer::Bool},
        {effBeginLoadBank, {"beginLoadBank", 0, 0, 0, ptr}, Answer::AsIs},
        {effBeginLoadProgram, {"beginLoadProgram", 0, 0, 0, ptr}, Answer::AsIs},
        {effSetProcessPrecision, {"setProcessPrecision", kValue}, Answer::Bool},
        {effGetNumMidiInputChannels, {"getNumMidiInputChannels"}, Answer::AsIs},
        {effGetNumMidiOutputChannels, {"getNumMidiOutputChannels"}, Answer::AsIs},
    };
}

const std::vector<VstInt32> kUnhandledInRange = {28, 30, 31, 32, 36, 37, 43, 46, 53, 54, 55, 57};
const std::vector<VstInt32> kEditorOpcodes = {effEditKeyDown, effEditKeyUp, effSetEditKnobMode};

// --- the opcode table ---------------------------------------------------------------------------------

TEST(ExtendedDispatcher, EveryRowReachesItsOperationWithItsArguments)
{
    char buffer[64] = {};
    for (const ExtendedRow& row : extendedRows(buffer))
    {
        SCOPED_TRACE(testing::Message() << "opcode " << row.opcode << " (" << row.expected.name << ")");
        RecordingEffectX effect;
        effect.dispatcher(row.opcode, kIndex, kValue, buffer, kOpt);
        EXPECT_EQ(effect.log, OperationLog({row.expected}));
    }
}

TEST(ExtendedDispatcher, EveryRowConvertsTheOperationsResult)
{
    char buffer[64] = {};
    for (const ExtendedRow& row : extendedRows(buffer))
    {
        SCOPED_TRACE(testing::Message() << "opcode " << row.opcode << " (" << row.expected.name << ")");
        RecordingEffectX effect;
        if (row.answer == Answer::Bool)
        {
            effect.boolAnswer = true;
            EXPECT_EQ(effect.dispatcher(row.opcode, kIndex, kValue, buffer, kOpt), 1);
            effect.boolAnswer = false;
            EXPECT_EQ(effect.dispatcher(row.opcode, kIndex, kValue, buffer, kOpt), 0);
        }
        else
        {
            for (VstIntPtr answer : {static_cast<VstIntPtr>(0x12345), static_cast<VstIntPtr>(-7),
                                     static_cast<VstIntPtr>(std::numeric_limits<VstInt32>::min()),
                                     static_cast<VstIntPtr>(0)})
            {
                effect.intAnswer = answer;
                EXPECT_EQ(effect.dispatcher(row.opcode, kIndex, kValue, buffer, kOpt), answer);
            }
        }
    }
}

TEST(ExtendedDispatcher, VendorSpecificPassesTheFullPointerSizedAnswerAndValue)
{
    RecordingEffectX effect;
    const VstIntPtr wide = std::numeric_limits<VstIntPtr>::max() - 5;
    effect.intAnswer = wide;
    EXPECT_EQ(effect.dispatcher(effVendorSpecific, -1, wide, nullptr, -2.5f), wide);
    EXPECT_EQ(effect.log, OperationLog({{"vendorSpecific", -1, wide, 0, nullptr, nullptr, -2.5f}}));
}

TEST(ExtendedDispatcher, BoolArgumentsAreValueOrIndexNotZero)
{
    for (VstIntPtr value : {static_cast<VstIntPtr>(0), static_cast<VstIntPtr>(1), static_cast<VstIntPtr>(-1),
                            std::numeric_limits<VstIntPtr>::min()})
    {
        RecordingEffectX effect;
        effect.dispatcher(effSetBypass, 0, value, nullptr, 0.0f);
        EXPECT_EQ(effect.log, OperationLog({{"setBypass", value != 0}})) << "value " << value;
    }
    for (VstInt32 index : {0, 1, -1, 1000})
    {
        RecordingEffectX effect;
        effect.dispatcher(effOfflineNotify, index, 2, nullptr, 0.0f);
        EXPECT_EQ(effect.log, OperationLog({{"offlineNotify", 2, index != 0}})) << "index " << index;
    }
}

TEST(ExtendedDispatcher, SpeakerArrangementPointersTravelInValueAndPtr)
{
    VstSpeakerArrangement input{}, output{};
    VstSpeakerArrangement* inputVariable = nullptr;
    VstSpeakerArrangement* outputVariable = nullptr;
    RecordingEffectX effect;
    effect.dispatcher(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output, 0.0f);
    effect.dispatcher(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&inputVariable), &outputVariable, 0.0f);
    EXPECT_EQ(effect.log, OperationLog({{"setSpeakerArrangement", 0, 0, 0, &input, &output},
                                        {"getSpeakerArrangement", 0, 0, 0, &inputVariable, &outputVariable}}));
}

// Texts the effect writes are refused at the door when the host gives no buffer; a null text for
// effString2Parameter is the host asking whether conversion is supported, so it is passed on.
TEST(ExtendedDispatcher, NullTextPointerForWrittenTextsReachesNoOperation)
{
    for (VstInt32 opcode : {effGetProgramNameIndexed, effGetEffectName, effGetVendorString, effGetProductString})
    {
        RecordingEffectX effect;
        effect.boolAnswer = true;
        EXPECT_EQ(effect.dispatcher(opcode, 0, 0, nullptr, 0.0f), 0) << "opcode " << opcode;
        EXPECT_TRUE(effect.log.empty()) << "opcode " << opcode << " called " << effect.log.front();
    }
    RecordingEffectX effect;
    EXPECT_EQ(effect.dispatcher(effString2Parameter, 2, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(effect.log, OperationLog({{"string2parameter", 2, 0, 0, nullptr}}));
}

TEST(ExtendedDispatcher, OpcodesBelow25ReachTheBaseDispatcher)
{
    char buffer[16] = {};
    RecordingEffectX effect;
    effect.intAnswer = 1;
    EXPECT_EQ(effect.dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(effect.dispatcher(effGetParamName, 2, 9, buffer, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effSetProgram, 0, 1, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effSetProgram, 0, 2, nullptr, 0.0f), 0) << "2 programs: value 2 is out of range";
    EXPECT_EQ(effect.dispatcher(effSetSampleRate, 0, 0, nullptr, 96000.0f), 0);
    EXPECT_EQ(effect.dispatcher(__effIdentifyDeprecated, 0, 0, nullptr, 0.0f), 1316373862);
    EXPECT_EQ(effect.log, OperationLog({{"getProgram"},
                                        {"getParameterName", 2, 0, 0, buffer},
                                        {"setProgram", 1},
                                        {"setSampleRate", 0, 0, 0, nullptr, nullptr, 96000.0f}}));
}

TEST(ExtendedDispatcher, UnhandledOpcodesAnswerZeroAndCallNothing)
{
    std::vector<VstInt32> opcodes = kUnhandledInRange;
    for (VstInt32 opcode : {80, 81, 100, 1000, -1, -2, -25, -79, 256 + effGetVstVersion, 65536 + effGetVendorVersion,
                            std::numeric_limits<VstInt32>::max(), std::numeric_limits<VstInt32>::min(),
                            std::numeric_limits<VstInt32>::min() + effGetVstVersion})
        opcodes.push_back(opcode);
    char buffer[64] = {};
    for (VstInt32 opcode : opcodes)
    {
        RecordingEffectX effect;
        auto* editor = new RecordingEditor;
        effect.setEditor(editor);
        EXPECT_EQ(effect.dispatcher(opcode, kIndex, kValue, buffer, kOpt), 0) << "opcode " << opcode;
        EXPECT_TRUE(effect.log.empty()) << "opcode " << opcode << " called " << effect.log.front();
        EXPECT_TRUE(editor->log.empty()) << "opcode " << opcode << " called " << editor->log.front();
    }
}

// --- editor opcodes -----------------------------------------------------------------------------------

TEST(ExtendedEditor, KeyAndKnobOpcodesWithoutAnEditorAnswerZero)
{
    for (VstInt32 opcode : kEditorOpcodes)
    {
        RecordingEffectX effect;
        EXPECT_EQ(effect.dispatcher(opcode, 'a', 1, nullptr, 2.0f), 0) << "opcode " << opcode;
        EXPECT_TRUE(effect.log.empty());
    }
}

struct KeyCase
{
    VstInt32 index;
    VstIntPtr value;
    float opt;
    std::int64_t virt;
    std::int64_t modifier;
};

TEST(ExtendedEditor, KeyOpcodesBuildTheKeyCodeFromIndexValueAndOpt)
{
    const std::vector<KeyCase> cases = {
        {'a', 0x12, 3.0f, 0x12, 3},
        {-5, 0x1234, 3.9f, 0x34, 3},      // low 8 bits of value; opt truncated toward zero
        {0x10000, 255, 260.7f, 255, 4},   // 260 has the low 8 bits 4
        {0, -1, -1.5f, 255, 255},         // -1 truncates to -1, whose low 8 bits are 255
        {7, 256, 0.99f, 0, 0},
    };
    for (bool answer : {true, false})
    {
        for (const KeyCase& key : cases)
        {
            SCOPED_TRACE(testing::Message() << "index " << key.index << ", value " << key.value << ", opt " << key.opt
                                            << ", editor answers " << answer);
            RecordingEffectX effect;
            auto* editor = new RecordingEditor;
            editor->answer = answer;
            effect.setEditor(editor);
            EXPECT_EQ(effect.dispatcher(effEditKeyDown, key.index, key.value, nullptr, key.opt), answer ? 1 : 0);
            EXPECT_EQ(effect.dispatcher(effEditKeyUp, key.index, key.value, nullptr, key.opt), answer ? 1 : 0);
            EXPECT_EQ(editor->log, OperationLog({{"editor.onKeyDown", key.index, key.virt, key.modifier},
                                                 {"editor.onKeyUp", key.index, key.virt, key.modifier}}));
            EXPECT_TRUE(effect.log.empty());
        }
    }
}

TEST(ExtendedEditor, KnobModeGoesToTheEditorWithValue)
{
    for (bool answer : {true, false})
    {
        RecordingEffectX effect;
        auto* editor = new RecordingEditor;
        editor->answer = answer;
        effect.setEditor(editor);
        EXPECT_EQ(effect.dispatcher(effSetEditKnobMode, 9, 2, nullptr, 7.0f), answer ? 1 : 0);
        EXPECT_EQ(editor->log, OperationLog({{"editor.setKnobMode", 2}}));
    }
}

// --- defaults -------------------------------------------------------------------------------------------

TEST(ExtendedDefaults, OperationsThatAnswerFalse)
{
    PlainEffectX effect;
    char text[8] = "keep";
    VstPinProperties pin{};
    VstParameterProperties properties{};
    VstSpeakerArrangement arrangement{};
    VstVariableIo io{};
    VstOfflineTask task{};
    VstAudioFile file{};
    MidiKeyName key{};
    EXPECT_FALSE(effect.string2parameter(0, text));
    EXPECT_FALSE(effect.getParameterProperties(0, &properties));
    EXPECT_FALSE(effect.getProgramNameIndexed(0, 0, text));
    EXPECT_FALSE(effect.beginSetProgram());
    EXPECT_FALSE(effect.endSetProgram());
    EXPECT_FALSE(effect.getInputProperties(0, &pin));
    EXPECT_FALSE(effect.getOutputProperties(0, &pin));
    EXPECT_FALSE(effect.setSpeakerArrangement(&arrangement, &arrangement));
    EXPECT_FALSE(effect.setBypass(true));
    EXPECT_FALSE(effect.setBypass(false));
    EXPECT_FALSE(effect.setPanLaw(1, 0.5f));
    EXPECT_FALSE(effect.setProcessPrecision(1));
    EXPECT_FALSE(effect.processVariableIo(&io));
    EXPECT_FALSE(effect.hasMidiProgramsChanged(0));
    EXPECT_FALSE(effect.getMidiKeyName(0, &key));
    EXPECT_FALSE(effect.offlineNotify(&file, 1, true));
    EXPECT_FALSE(effect.offlinePrepare(&task, 1));
    EXPECT_FALSE(effect.offlineRun(&task, 1));
    EXPECT_FALSE(effect.__copyProgramDeprecated(0));
    EXPECT_FALSE(effect.__getErrorTextDeprecated(text));
    EXPECT_FALSE(effect.__setViewPositionDeprecated(1, 2));
    EXPECT_FALSE(effect.__keysRequiredDeprecated());
    EXPECT_STREQ(text, "keep");
}

TEST(ExtendedDefaults, OperationsThatAnswerAnInteger)
{
    PlainEffectX effect;
    char text[8] = "keep";
    MidiProgramName program{};
    MidiProgramCategory category{};
    VstPatchChunkInfo chunk{};
    VstEvents events{};
    EXPECT_TRUE(effect.canParameterBeAutomated(0));
    EXPECT_TRUE(effect.canParameterBeAutomated(-1));
    EXPECT_EQ(effect.beginLoadBank(&chunk), 0);
    EXPECT_EQ(effect.beginLoadProgram(&chunk), 0);
    EXPECT_EQ(effect.getNumMidiInputChannels(), 0);
    EXPECT_EQ(effect.getNumMidiOutputChannels(), 0);
    EXPECT_EQ(effect.processEvents(&events), 0);
    EXPECT_EQ(effect.startProcess(), 0);
    EXPECT_EQ(effect.stopProcess(), 0);
    EXPECT_EQ(effect.setTotalSampleToProcess(1234), 1234);
    EXPECT_EQ(effect.setTotalSampleToProcess(-9), -9);
    EXPECT_EQ(effect.getGetTailSize(), 0);
    EXPECT_EQ(effect.getVendorVersion(), 0);
    EXPECT_EQ(effect.vendorSpecific(1, 2, text, 3.0f), 0);
    EXPECT_EQ(effect.canDo(const_cast<char*>("bypass")), 0);
    EXPECT_EQ(effect.canDo(const_cast<char*>("receiveVstMidiEvent")), 0);
    EXPECT_EQ(effect.getVstVersion(), 2400);
    EXPECT_EQ(effect.getMidiProgramName(0, &program), 0);
    EXPECT_EQ(effect.getCurrentMidiProgram(0, &program), -1);
    EXPECT_EQ(effect.getMidiProgramCategory(0, &category), 0);
    EXPECT_EQ(effect.getNextShellPlugin(text), 0);
    EXPECT_EQ(effect.offlineGetNumPasses(), 0);
    EXPECT_EQ(effect.offlineGetNumMetaPasses(), 0);
    EXPECT_EQ(effect.__getNumCategoriesDeprecated(), 1);
    EXPECT_EQ(effect.__reportCurrentPositionDeprecated(), 0);
    EXPECT_EQ(effect.__reportDestinationBufferDeprecated(), nullptr);
    EXPECT_EQ(effect.__getIconDeprecated(), nullptr);
    EXPECT_EQ(effect.__fxIdleDeprecated(), 0);
    EXPECT_STREQ(text, "keep");
}

TEST(ExtendedDefaults, IdentityTextsAreRefusedAndLeaveTheBuffer)
{
    PlainEffectX effect;
    SentinelBuffer name, vendor, product;
    EXPECT_FALSE(effect.getEffectName(name.data()));
    EXPECT_FALSE(effect.getVendorString(vendor.data()));
    EXPECT_FALSE(effect.getProductString(product.data()));
    EXPECT_TRUE(name.untouched());
    EXPECT_TRUE(vendor.untouched());
    EXPECT_TRUE(product.untouched());
}

TEST(ExtendedDefaults, ThroughTheDispatcher)
{
    PlainEffectX effect;
    SentinelBuffer text;
    EXPECT_EQ(effect.dispatcher(effCanBeAutomated, 123, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(effect.dispatcher(effGetVstVersion, 0, 0, nullptr, 0.0f), 2400);
    EXPECT_EQ(effect.dispatcher(effGetCurrentMidiProgram, 0, 0, nullptr, 0.0f), -1);
    EXPECT_EQ(effect.dispatcher(effSetTotalSampleToProcess, 0, 1234, nullptr, 0.0f), 1234);
    EXPECT_EQ(effect.dispatcher(effSetBypass, 0, 1, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effSetBypass, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effCanDo, 0, 0, const_cast<char*>("bypass"), 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), kPlugCategUnknown);
    EXPECT_EQ(effect.dispatcher(effGetEffectName, 0, 0, text.data(), 0.0f), 0);
    EXPECT_EQ(effect.dispatcher(effGetProgramNameIndexed, 0, 0, text.data(), 0.0f), 0);
    EXPECT_TRUE(text.untouched());
}

TEST(ExtendedDefaults, PlugCategoryFollowsTheSynthFlag)
{
    PlainEffectX effect;
    EXPECT_EQ(effect.getPlugCategory(), kPlugCategUnknown);
    effect.isSynth(true);
    EXPECT_EQ(effect.getAeffect()->flags, effFlagsCanReplacing | effFlagsIsSynth);
    EXPECT_EQ(effect.getPlugCategory(), kPlugCategSynth);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), 2);
    effect.isSynth(false);
    EXPECT_EQ(effect.getPlugCategory(), kPlugCategUnknown);
    effect.getAeffect()->flags = ~effFlagsIsSynth;
    EXPECT_EQ(effect.getPlugCategory(), kPlugCategUnknown) << "only bit 8 counts";
}

TEST(ExtendedDefaults, GetSpeakerArrangementClearsBothVariables)
{
    PlainEffectX effect;
    VstSpeakerArrangement arrangement{};
    VstSpeakerArrangement* input = &arrangement;
    VstSpeakerArrangement* output = &arrangement;
    EXPECT_FALSE(effect.getSpeakerArrangement(&input, &output));
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);

    input = output = &arrangement;
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&input), &output, 0.0f), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
}

TEST(ExtendedDefaults, GetSpeakerArrangementWritesOnlyThroughAddressesGiven)
{
    PlainEffectX effect;
    VstSpeakerArrangement arrangement{};
    VstSpeakerArrangement* variable = &arrangement;
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&variable), nullptr, 0.0f), 0);
    EXPECT_EQ(variable, nullptr);
    variable = &arrangement;
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, 0, &variable, 0.0f), 0);
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, 0, nullptr, 0.0f), 0);
}

TEST(ExtendedDefaults, DeprecatedConnectionNoticesDoNothing)
{
    PlainEffectX effect;
    AEffect before;
    std::memcpy(&before, effect.getAeffect(), sizeof before);
    effect.__inputConnectedDeprecated(0, true);
    effect.__outputConnectedDeprecated(1, false);
    EXPECT_EQ(std::memcmp(&before, effect.getAeffect(), sizeof before), 0);
}

TEST(ExtendedDefaults, BlockSizeAndSampleRateAreStoredWithoutTheirSetters)
{
    RecordingEffectX effect;
    effect.__setBlockSizeAndSampleRateDeprecated(64, 22050.0f);
    EXPECT_TRUE(effect.log.empty()) << "called " << effect.log.front();
    EXPECT_EQ(effect.getBlockSize(), 64);
    EXPECT_EQ(effect.getSampleRate(), 22050.0f);
}

// --- resume ---------------------------------------------------------------------------------------------

class CanDoEffect : public PlainEffectX
{
public:
    explicit CanDoEffect(audioMasterCallback host) : PlainEffectX(host) {}
    VstInt32 canDo(char* text) override
    {
        asked.push_back(text != nullptr ? text : "(null)");
        return canDoAnswer;
    }
    std::vector<std::string> asked;
    VstInt32 canDoAnswer = 0;
};

TEST(ExtendedResume, SynthFlagAsksForEventsWithoutCallingCanDo)
{
    RecordingHost host;
    CanDoEffect effect(&RecordingHost::callback);
    effect.canDoAnswer = 1;
    effect.getAeffect()->flags |= effFlagsIsSynth;
    effect.resume();
    EXPECT_TRUE(effect.asked.empty());
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].effect, effect.getAeffect());
    EXPECT_EQ(host.calls[0].opcode, __audioMasterWantMidiDeprecated);
    EXPECT_EQ(host.calls[0].index, 0);
    EXPECT_EQ(host.calls[0].value, 1);
    EXPECT_EQ(host.calls[0].ptr, nullptr);
    EXPECT_EQ(host.calls[0].opt, 0.0f);
}

TEST(ExtendedResume, WithoutTheSynthFlagOnlyCanDoOfExactlyOneAsksForEvents)
{
    for (VstInt32 answer : {0, 1, 2, -1})
    {
        RecordingHost host;
        CanDoEffect effect(&RecordingHost::callback);
        effect.canDoAnswer = answer;
        effect.resume();
        EXPECT_EQ(effect.asked, std::vector<std::string>({"receiveVstMidiEvent"}));
        EXPECT_EQ(host.calls.size(), answer == 1 ? 1u : 0u) << "canDo answers " << answer;
        if (!host.calls.empty())
        {
            EXPECT_EQ(host.calls[0].opcode, __audioMasterWantMidiDeprecated);
            EXPECT_EQ(host.calls[0].value, 1);
        }
    }
}

TEST(ExtendedResume, DefaultCanDoSendsNothingAndMainsChangedReachesResume)
{
    RecordingHost host;
    PlainEffectX plain(&RecordingHost::callback);
    plain.resume();
    EXPECT_TRUE(host.calls.empty());

    plain.getAeffect()->flags |= effFlagsIsSynth;
    EXPECT_EQ(plain.dispatcher(effMainsChanged, 0, 1, nullptr, 0.0f), 0);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].opcode, __audioMasterWantMidiDeprecated);
    EXPECT_EQ(plain.dispatcher(effMainsChanged, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(host.calls.size(), 1u) << "suspend sends nothing";
}

}  // namespace
