// The extended host services: for each one the exact host call it sends and how it turns the
// host's answer into its result; the null-callback and null-pointer refusals; the update queries;
// the extended flag setters and the capability vocabulary.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "AudioEffectX.h"
#include "Bits.h"
#include "RecordingHost.h"
#include "VstCanDos.h"

namespace
{
class TestEffect : public AudioEffectX
{
public:
    explicit TestEffect(audioMasterCallback host) : AudioEffectX(host, 1, 1) {}

    void processReplacing(float**, float**, VstInt32) override {}

    // The update queries must not go through these.
    void setSampleRate(float rate) override
    {
        setterCalls++;
        AudioEffectX::setSampleRate(rate);
    }
    void setBlockSize(VstInt32 size) override
    {
        setterCalls++;
        AudioEffectX::setBlockSize(size);
    }

    VstInt32 canDo(char* text) override
    {
        canDoQueries.push_back(text);
        return canDoAnswer;
    }

    void storeRateAndSize(float rate, VstInt32 size)
    {
        sampleRate = rate;
        blockSize = size;
    }
    float storedRate() const { return sampleRate; }
    VstInt32 storedSize() const { return blockSize; }

    int setterCalls = 0;
    std::vector<std::string> canDoQueries;
    VstInt32 canDoAnswer = 0;
};

// Stand-ins for the records that only travel by pointer; their contents are never read.
alignas(16) unsigned char recordStorage[6][64];
template <class T>
T* fakeRecord(int which)
{
    return reinterpret_cast<T*>(recordStorage[which]);
}

// How a row turns the host's answer into its result.
enum class Conversion
{
    AsIs32,    // the answer as a VstInt32
    AsIsPtr,   // the answer unchanged, VstIntPtr wide
    Nonzero,   // 1 for any nonzero answer, else 0
    Pointer,   // the answer reinterpreted as a pointer
    Exactly1,  // 1 only for an answer of exactly 1
    Ignored    // returns nothing
};

VstIntPtr expectedResult(Conversion conversion, VstIntPtr answer)
{
    switch (conversion)
    {
    case Conversion::AsIs32:
        return static_cast<VstInt32>(answer);
    case Conversion::AsIsPtr:
    case Conversion::Pointer:
        return answer;
    case Conversion::Nonzero:
        return answer != 0 ? 1 : 0;
    case Conversion::Exactly1:
        return answer == 1 ? 1 : 0;
    case Conversion::Ignored:
        return 0;
    }
    return 0;
}

// A result as a pointer-wide integer: bools as 1/0, pointers by address.
template <class T>
VstIntPtr widen(T result)
{
    if constexpr (std::is_pointer<T>::value)
        return reinterpret_cast<VstIntPtr>(result);
    else
        return static_cast<VstIntPtr>(result);
}

struct ServiceRow
{
    const char* name;
    VstInt32 opcode;
    Conversion conversion;
    std::function<VstIntPtr(TestEffect&)> call;  // the result, widened
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

// The rows of the host-service table (the two update queries are tested on their own). Arguments
// are chosen distinct so a swapped or dropped argument shows.
std::vector<ServiceRow> serviceRows()
{
    void* r0 = recordStorage[0];
    void* r1 = recordStorage[1];
    void* r2 = recordStorage[2];
    void* r3 = recordStorage[3];
    void* r4 = recordStorage[4];
    void* r5 = recordStorage[5];
    return {
        {"getTimeInfo", 7, Conversion::Pointer, [](TestEffect& e) { return widen(e.getTimeInfo(0x2A03)); }, 0,
         0x2A03, nullptr, 0.0f},
        {"sendVstEventsToHost", 8, Conversion::Exactly1,
         [](TestEffect& e) { return widen(e.sendVstEventsToHost(fakeRecord<VstEvents>(0))); }, 0, 0, r0, 0.0f},
        {"ioChanged", 13, Conversion::Nonzero, [](TestEffect& e) { return widen(e.ioChanged()); }, 0, 0, nullptr,
         0.0f},
        {"sizeWindow", 15, Conversion::Nonzero, [](TestEffect& e) { return widen(e.sizeWindow(640, 480)); }, 640,
         480, nullptr, 0.0f},
        {"getInputLatency", 18, Conversion::AsIs32, [](TestEffect& e) { return widen(e.getInputLatency()); }, 0, 0,
         nullptr, 0.0f},
        {"getOutputLatency", 19, Conversion::AsIs32, [](TestEffect& e) { return widen(e.getOutputLatency()); }, 0,
         0, nullptr, 0.0f},
        {"getCurrentProcessLevel", 23, Conversion::AsIs32,
         [](TestEffect& e) { return widen(e.getCurrentProcessLevel()); }, 0, 0, nullptr, 0.0f},
        {"getAutomationState", 24, Conversion::AsIs32, [](TestEffect& e) { return widen(e.getAutomationState()); },
         0, 0, nullptr, 0.0f},
        {"offlineStart", 25, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineStart(fakeRecord<VstAudioFile>(1), 3, 7)); }, 7, 3, r1, 0.0f},
        {"offlineRead(readSource true)", 26, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineRead(fakeRecord<VstOfflineTask>(2), 5, true)); }, 1, 5, r2,
         0.0f},
        {"offlineRead(readSource false)", 26, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineRead(fakeRecord<VstOfflineTask>(2), 6, false)); }, 0, 6, r2,
         0.0f},
        {"offlineRead(default readSource)", 26, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineRead(fakeRecord<VstOfflineTask>(2), 9)); }, 1, 9, r2, 0.0f},
        {"offlineWrite", 27, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineWrite(fakeRecord<VstOfflineTask>(3), 4)); }, 0, 4, r3, 0.0f},
        {"offlineGetCurrentPass", 28, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineGetCurrentPass()); }, 0, 0, nullptr, 0.0f},
        {"offlineGetCurrentMetaPass", 29, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.offlineGetCurrentMetaPass()); }, 0, 0, nullptr, 0.0f},
        {"getHostVendorString", 32, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.getHostVendorString(reinterpret_cast<char*>(recordStorage[4]))); }, 0,
         0, r4, 0.0f},
        {"getHostProductString", 33, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.getHostProductString(reinterpret_cast<char*>(recordStorage[5]))); },
         0, 0, r5, 0.0f},
        {"getHostVendorVersion", 34, Conversion::AsIs32,
         [](TestEffect& e) { return widen(e.getHostVendorVersion()); }, 0, 0, nullptr, 0.0f},
        {"hostVendorSpecific", 35, Conversion::AsIsPtr,
         [](TestEffect& e) { return widen(e.hostVendorSpecific(-11, 0x7001, recordStorage[0], 0.75f)); }, -11,
         0x7001, r0, 0.75f},
        {"canHostDo", 37, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.canHostDo(const_cast<char*>(HostCanDos::canDoSizeWindow))); }, 0, 0,
         const_cast<char*>(HostCanDos::canDoSizeWindow), 0.0f},
        {"getHostLanguage", 38, Conversion::AsIs32, [](TestEffect& e) { return widen(e.getHostLanguage()); }, 0, 0,
         nullptr, 0.0f},
        {"getDirectory", 41, Conversion::Pointer, [](TestEffect& e) { return widen(e.getDirectory()); }, 0, 0,
         nullptr, 0.0f},
        {"updateDisplay", 42, Conversion::Nonzero, [](TestEffect& e) { return widen(e.updateDisplay()); }, 0, 0,
         nullptr, 0.0f},
        {"beginEdit", 43, Conversion::Nonzero, [](TestEffect& e) { return widen(e.beginEdit(4)); }, 4, 0, nullptr,
         0.0f},
        {"endEdit", 44, Conversion::Nonzero, [](TestEffect& e) { return widen(e.endEdit(5)); }, 5, 0, nullptr,
         0.0f},
        {"openFileSelector", 45, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.openFileSelector(fakeRecord<VstFileSelect>(1))); }, 0, 0, r1, 0.0f},
        {"closeFileSelector", 46, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.closeFileSelector(fakeRecord<VstFileSelect>(2))); }, 0, 0, r2, 0.0f},
        {"__wantEventsDeprecated", 6, Conversion::Ignored,
         [](TestEffect& e) {
             e.__wantEventsDeprecated(3);
             return VstIntPtr{0};
         },
         0, 3, nullptr, 0.0f},
        {"__wantEventsDeprecated(default filter)", 6, Conversion::Ignored,
         [](TestEffect& e) {
             e.__wantEventsDeprecated();
             return VstIntPtr{0};
         },
         0, 1, nullptr, 0.0f},
        {"__tempoAtDeprecated", 10, Conversion::AsIs32,
         [](TestEffect& e) { return widen(e.__tempoAtDeprecated(99)); }, 0, 99, nullptr, 0.0f},
        {"__getNumAutomatableParametersDeprecated", 11, Conversion::AsIs32,
         [](TestEffect& e) { return widen(e.__getNumAutomatableParametersDeprecated()); }, 0, 0, nullptr, 0.0f},
        {"__getParameterQuantizationDeprecated", 12, Conversion::AsIs32,
         [](TestEffect& e) { return widen(e.__getParameterQuantizationDeprecated()); }, 0, 0, nullptr, 0.0f},
        {"__needIdleDeprecated", 14, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.__needIdleDeprecated()); }, 0, 0, nullptr, 0.0f},
        {"__getPreviousPlugDeprecated", 20, Conversion::Pointer,
         [](TestEffect& e) { return widen(e.__getPreviousPlugDeprecated(5)); }, 0, 0, nullptr, 0.0f},
        {"__getNextPlugDeprecated", 21, Conversion::Pointer,
         [](TestEffect& e) { return widen(e.__getNextPlugDeprecated(6)); }, 0, 0, nullptr, 0.0f},
        {"__willProcessReplacingDeprecated", 22, Conversion::AsIs32,
         [](TestEffect& e) { return widen(e.__willProcessReplacingDeprecated()); }, 0, 0, nullptr, 0.0f},
        {"__setOutputSamplerateDeprecated", 30, Conversion::Ignored,
         [](TestEffect& e) {
             e.__setOutputSamplerateDeprecated(48000.5f);
             return VstIntPtr{0};
         },
         0, 0, nullptr, 48000.5f},
        {"__getOutputSpeakerArrangementDeprecated", 31, Conversion::Pointer,
         [](TestEffect& e) { return widen(e.__getOutputSpeakerArrangementDeprecated()); }, 0, 0, nullptr, 0.0f},
        {"__openWindowDeprecated", 39, Conversion::Pointer,
         [](TestEffect& e) { return widen(e.__openWindowDeprecated(fakeRecord<VstWindow>(3))); }, 0, 0, r3, 0.0f},
        {"__closeWindowDeprecated", 40, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.__closeWindowDeprecated(fakeRecord<VstWindow>(4))); }, 0, 0, r4,
         0.0f},
        {"__getChunkFileDeprecated", 48, Conversion::Nonzero,
         [](TestEffect& e) { return widen(e.__getChunkFileDeprecated(recordStorage[5])); }, 0, 0, r5, 0.0f},
        {"__getInputSpeakerArrangementDeprecated", 49, Conversion::Pointer,
         [](TestEffect& e) { return widen(e.__getInputSpeakerArrangementDeprecated()); }, 0, 0, nullptr, 0.0f},
    };
}

using kestrune_test::bitsOf;

// Host answers that tell the conversions apart, and a pointer-sized one.
std::vector<VstIntPtr> hostAnswers()
{
    static int somewhere;
    return {0, 1, 2, -1, 3, reinterpret_cast<VstIntPtr>(&somewhere)};
}
}  // namespace

// The result types of the table's rows.
static_assert(std::is_same<decltype(&AudioEffectX::getTimeInfo), VstTimeInfo* (AudioEffectX::*)(VstInt32)>::value,
              "getTimeInfo returns a VstTimeInfo pointer");
static_assert(std::is_same<decltype(&AudioEffectX::sendVstEventsToHost), bool (AudioEffectX::*)(VstEvents*)>::value,
              "sendVstEventsToHost is a plain bool member");
static_assert(std::is_same<decltype(&AudioEffectX::updateSampleRate), double (AudioEffectX::*)()>::value,
              "updateSampleRate returns double");
static_assert(std::is_same<decltype(&AudioEffectX::updateBlockSize), VstInt32 (AudioEffectX::*)()>::value,
              "updateBlockSize returns VstInt32");
static_assert(std::is_same<decltype(&AudioEffectX::offlineGetCurrentPass), VstInt32 (AudioEffectX::*)()>::value,
              "offlineGetCurrentPass returns VstInt32");
static_assert(std::is_same<decltype(&AudioEffectX::canHostDo), VstInt32 (AudioEffectX::*)(char*)>::value,
              "canHostDo returns VstInt32");
static_assert(std::is_same<decltype(&AudioEffectX::hostVendorSpecific),
                           VstIntPtr (AudioEffectX::*)(VstInt32, VstIntPtr, void*, float)>::value,
              "hostVendorSpecific is pointer-wide");
static_assert(std::is_same<decltype(&AudioEffectX::__getPreviousPlugDeprecated),
                           AEffect* (AudioEffectX::*)(VstInt32)>::value,
              "__getPreviousPlugDeprecated returns an AEffect pointer");
static_assert(std::is_same<decltype(&AudioEffectX::__getInputSpeakerArrangementDeprecated),
                           VstSpeakerArrangement* (AudioEffectX::*)()>::value,
              "__getInputSpeakerArrangementDeprecated returns an arrangement pointer");
static_assert(std::is_same<decltype(&AudioEffectX::__openWindowDeprecated), void* (AudioEffectX::*)(VstWindow*)>::value,
              "__openWindowDeprecated returns an untyped pointer");

TEST(HostServices, EveryServiceSendsItsOpcodeAndArgumentsOnce)
{
    for (const ServiceRow& row : serviceRows())
    {
        SCOPED_TRACE(row.name);
        RecordingHost host;
        TestEffect effect(RecordingHost::callback);
        host.answer = 1;
        row.call(effect);
        ASSERT_EQ(host.calls.size(), 1u);
        const HostCall& call = host.calls[0];
        EXPECT_EQ(call.effect, effect.getAeffect());
        EXPECT_EQ(call.opcode, row.opcode);
        EXPECT_EQ(call.index, row.index);
        EXPECT_EQ(call.value, row.value);
        EXPECT_EQ(call.ptr, row.ptr);
        EXPECT_EQ(bitsOf(call.opt), bitsOf(row.opt));
    }
}

TEST(HostServices, EveryServiceConvertsTheHostAnswer)
{
    for (const ServiceRow& row : serviceRows())
    {
        if (row.conversion == Conversion::Ignored)
            continue;
        for (VstIntPtr answer : hostAnswers())
        {
            SCOPED_TRACE(std::string(row.name) + " answer " + std::to_string(answer));
            RecordingHost host;
            TestEffect effect(RecordingHost::callback);
            host.answer = answer;
            EXPECT_EQ(row.call(effect), expectedResult(row.conversion, answer));
        }
    }
}

TEST(HostServices, ServicesWhoseAnswerIsIgnoredChangeNothing)
{
    for (const ServiceRow& row : serviceRows())
    {
        if (row.conversion != Conversion::Ignored)
            continue;
        SCOPED_TRACE(row.name);
        RecordingHost host;
        TestEffect effect(RecordingHost::callback);
        host.answer = 12345;
        const float rate = effect.storedRate();
        const VstInt32 size = effect.storedSize();
        const VstInt32 flags = effect.getAeffect()->flags;
        row.call(effect);
        EXPECT_EQ(host.calls.size(), 1u);
        EXPECT_EQ(effect.storedRate(), rate);
        EXPECT_EQ(effect.storedSize(), size);
        EXPECT_EQ(effect.getAeffect()->flags, flags);
        EXPECT_EQ(effect.setterCalls, 0);
    }
}

TEST(HostServices, WithoutCallbackEveryServiceAnswersZeroAndCallsNothing)
{
    RecordingHost host;
    host.answer = 1;
    TestEffect effect(nullptr);
    for (const ServiceRow& row : serviceRows())
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(effect), 0);
    }
    EXPECT_TRUE(host.calls.empty());

    effect.storeRateAndSize(22050.0f, 333);
    EXPECT_EQ(effect.updateSampleRate(), 22050.0);
    EXPECT_EQ(effect.updateBlockSize(), 333);
    EXPECT_EQ(effect.storedRate(), 22050.0f);
    EXPECT_EQ(effect.storedSize(), 333);
    EXPECT_EQ(effect.setterCalls, 0);
    EXPECT_TRUE(host.calls.empty());
}

TEST(HostServices, NullPointerArgumentsAreRefusedWithoutACall)
{
    RecordingHost host;
    host.answer = 1;
    TestEffect effect(RecordingHost::callback);
    EXPECT_FALSE(effect.openFileSelector(nullptr));
    EXPECT_FALSE(effect.closeFileSelector(nullptr));
    EXPECT_FALSE(effect.__getChunkFileDeprecated(nullptr));
    EXPECT_TRUE(host.calls.empty());

    // Other services pass a null pointer on to the host.
    EXPECT_TRUE(effect.getHostVendorString(nullptr));
    EXPECT_TRUE(effect.sendVstEventsToHost(nullptr));
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].opcode, 32);
    EXPECT_EQ(host.calls[1].opcode, 8);
}

TEST(HostServices, UpdateSampleRateStoresOnlyAPositiveAnswer)
{
    RecordingHost host;
    TestEffect effect(RecordingHost::callback);
    effect.storeRateAndSize(22050.0f, 333);

    host.answer = 44100;
    EXPECT_EQ(effect.updateSampleRate(), 44100.0);
    EXPECT_EQ(effect.storedRate(), 44100.0f);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);

    host.answer = 0;
    EXPECT_EQ(effect.updateSampleRate(), 44100.0);
    host.answer = -1;
    EXPECT_EQ(effect.updateSampleRate(), 44100.0);
    EXPECT_EQ(effect.storedRate(), 44100.0f);

    // A rate that a float holds only approximately is stored as the float nearest to it.
    host.answer = 16777217;
    EXPECT_EQ(effect.updateSampleRate(), 16777216.0);

    ASSERT_EQ(host.calls.size(), 4u);
    for (const HostCall& call : host.calls)
    {
        EXPECT_EQ(call.effect, effect.getAeffect());
        EXPECT_EQ(call.opcode, 16);
        EXPECT_EQ(call.index, 0);
        EXPECT_EQ(call.value, 0);
        EXPECT_EQ(call.ptr, nullptr);
        EXPECT_EQ(bitsOf(call.opt), 0u);
    }
    EXPECT_EQ(effect.storedSize(), 333);
    EXPECT_EQ(effect.setterCalls, 0);
}

TEST(HostServices, UpdateBlockSizeStoresOnlyAPositiveAnswer)
{
    RecordingHost host;
    TestEffect effect(RecordingHost::callback);
    effect.storeRateAndSize(22050.0f, 333);

    host.answer = 512;
    EXPECT_EQ(effect.updateBlockSize(), 512);
    EXPECT_EQ(effect.getBlockSize(), 512);

    host.answer = 0;
    EXPECT_EQ(effect.updateBlockSize(), 512);
    host.answer = -1;
    EXPECT_EQ(effect.updateBlockSize(), 512);
    host.answer = 1;
    EXPECT_EQ(effect.updateBlockSize(), 1);

    ASSERT_EQ(host.calls.size(), 4u);
    for (const HostCall& call : host.calls)
    {
        EXPECT_EQ(call.effect, effect.getAeffect());
        EXPECT_EQ(call.opcode, 17);
        EXPECT_EQ(call.index, 0);
        EXPECT_EQ(call.value, 0);
        EXPECT_EQ(call.ptr, nullptr);
        EXPECT_EQ(bitsOf(call.opt), 0u);
    }
    EXPECT_EQ(effect.storedRate(), 22050.0f);
    EXPECT_EQ(effect.setterCalls, 0);
}

TEST(HostServices, SpeakerArrangementQueriesUseOpcode49ForInputAnd31ForOutput)
{
    RecordingHost host;
    TestEffect effect(RecordingHost::callback);
    effect.__getInputSpeakerArrangementDeprecated();
    effect.__getOutputSpeakerArrangementDeprecated();
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].opcode, 49);
    EXPECT_EQ(host.calls[1].opcode, 31);
}

namespace
{
struct FlagSetter
{
    const char* name;
    VstInt32 bit;
    void (AudioEffectX::*set)(bool);
};

const FlagSetter flagSetters[] = {
    {"isSynth", 256, &AudioEffectX::isSynth},
    {"noTail", 512, &AudioEffectX::noTail},
    {"__wantAsyncOperationDeprecated", 1024, &AudioEffectX::__wantAsyncOperationDeprecated},
    {"__hasExternalBufferDeprecated", 2048, &AudioEffectX::__hasExternalBufferDeprecated},
};
}  // namespace

TEST(FlagSetters, EachChangesOnlyItsOwnBit)
{
    const VstInt32 startWords[] = {0, 16, static_cast<VstInt32>(0x5A5A5A5A), static_cast<VstInt32>(0xA5A5A5A5), -1};
    for (const FlagSetter& setter : flagSetters)
    {
        for (VstInt32 start : startWords)
        {
            SCOPED_TRACE(std::string(setter.name) + " from " + std::to_string(start));
            RecordingHost host;
            TestEffect effect(RecordingHost::callback);
            VstInt32& flags = effect.getAeffect()->flags;

            flags = start;
            (effect.*setter.set)(true);
            EXPECT_EQ(flags, start | setter.bit);
            (effect.*setter.set)(true);
            EXPECT_EQ(flags, start | setter.bit);

            flags = start;
            (effect.*setter.set)(false);
            EXPECT_EQ(flags, start & ~setter.bit);
            EXPECT_TRUE(host.calls.empty());
        }
    }
}

TEST(FlagSetters, DefaultArgumentSetsTheBit)
{
    TestEffect effect(nullptr);
    VstInt32& flags = effect.getAeffect()->flags;
    flags = 0;
    effect.isSynth();
    effect.noTail();
    effect.__wantAsyncOperationDeprecated();
    effect.__hasExternalBufferDeprecated();
    EXPECT_EQ(flags, 256 | 512 | 1024 | 2048);
}

TEST(FlagSetters, IsSynthOnAndOffRestoresTheWord)
{
    TestEffect effect(nullptr);
    VstInt32& flags = effect.getAeffect()->flags;
    const VstInt32 fresh = flags;
    ASSERT_EQ(fresh & 256, 0);
    effect.isSynth(true);
    EXPECT_EQ(flags, fresh | 256);
    effect.isSynth(false);
    EXPECT_EQ(flags, fresh);

    flags = 0;
    effect.noTail(true);
    EXPECT_EQ(flags, 512);
}

TEST(ResumeWantsEvents, SynthFlagSendsOpcode6WithoutAskingCanDo)
{
    RecordingHost host;
    host.answer = 0;
    TestEffect effect(RecordingHost::callback);
    effect.isSynth(true);
    effect.resume();
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].effect, effect.getAeffect());
    EXPECT_EQ(host.calls[0].opcode, 6);
    EXPECT_EQ(host.calls[0].index, 0);
    EXPECT_EQ(host.calls[0].value, 1);
    EXPECT_EQ(host.calls[0].ptr, nullptr);
    EXPECT_EQ(bitsOf(host.calls[0].opt), 0u);
    EXPECT_TRUE(effect.canDoQueries.empty());
}

TEST(ResumeWantsEvents, WithoutSynthFlagOnlyACanDoAnswerOf1Counts)
{
    for (VstInt32 canDoAnswer : {0, 2, -1, 1})
    {
        SCOPED_TRACE(canDoAnswer);
        RecordingHost host;
        TestEffect effect(RecordingHost::callback);
        effect.canDoAnswer = canDoAnswer;
        effect.resume();
        ASSERT_EQ(effect.canDoQueries.size(), 1u);
        EXPECT_EQ(effect.canDoQueries[0], "receiveVstMidiEvent");
        if (canDoAnswer == 1)
        {
            ASSERT_EQ(host.calls.size(), 1u);
            EXPECT_EQ(host.calls[0].opcode, 6);
            EXPECT_EQ(host.calls[0].value, 1);
        }
        else
        {
            EXPECT_TRUE(host.calls.empty());
        }
    }
}

TEST(ResumeWantsEvents, WithoutCallbackNothingIsSent)
{
    RecordingHost host;
    TestEffect effect(nullptr);
    effect.isSynth(true);
    effect.resume();
    EXPECT_TRUE(host.calls.empty());
}

TEST(CapabilityStrings, PlugCanDosAreTheInterfaceSpellings)
{
    EXPECT_STREQ(PlugCanDos::canDoSendVstEvents, "sendVstEvents");
    EXPECT_STREQ(PlugCanDos::canDoSendVstMidiEvent, "sendVstMidiEvent");
    EXPECT_STREQ(PlugCanDos::canDoReceiveVstEvents, "receiveVstEvents");
    EXPECT_STREQ(PlugCanDos::canDoReceiveVstMidiEvent, "receiveVstMidiEvent");
    EXPECT_STREQ(PlugCanDos::canDoReceiveVstTimeInfo, "receiveVstTimeInfo");
    EXPECT_STREQ(PlugCanDos::canDoOffline, "offline");
    EXPECT_STREQ(PlugCanDos::canDoMidiProgramNames, "midiProgramNames");
    EXPECT_STREQ(PlugCanDos::canDoBypass, "bypass");
}

TEST(CapabilityStrings, HostCanDosAreTheInterfaceSpellings)
{
    EXPECT_STREQ(HostCanDos::canDoSendVstEvents, "sendVstEvents");
    EXPECT_STREQ(HostCanDos::canDoSendVstMidiEvent, "sendVstMidiEvent");
    EXPECT_STREQ(HostCanDos::canDoSendVstTimeInfo, "sendVstTimeInfo");
    EXPECT_STREQ(HostCanDos::canDoReceiveVstEvents, "receiveVstEvents");
    EXPECT_STREQ(HostCanDos::canDoReceiveVstMidiEvent, "receiveVstMidiEvent");
    EXPECT_STREQ(HostCanDos::canDoReportConnectionChanges, "reportConnectionChanges");
    EXPECT_STREQ(HostCanDos::canDoAcceptIOChanges, "acceptIOChanges");
    EXPECT_STREQ(HostCanDos::canDoSizeWindow, "sizeWindow");
    EXPECT_STREQ(HostCanDos::canDoOffline, "offline");
    EXPECT_STREQ(HostCanDos::canDoOpenFileSelector, "openFileSelector");
    EXPECT_STREQ(HostCanDos::canDoCloseFileSelector, "closeFileSelector");
    EXPECT_STREQ(HostCanDos::canDoStartStopProcess, "startStopProcess");
    EXPECT_STREQ(HostCanDos::canDoShellCategory, "shellCategory");
    EXPECT_STREQ(HostCanDos::canDoSendVstMidiEventFlagIsRealtime, "sendVstMidiEventFlagIsRealtime");
}
