// libFuzzer target: the fuzzer's bytes play a host that does everything a host may do, in any
// order, to the effect compiled in: every dispatcher opcode with any index, value and opt and a
// pointer to a zeroed buffer of exactly the size the opcode implies (or null), parameters set to
// any float, sample rates and block sizes of any value, instances closed and created again, and
// blocks of 0 to 4096 frames of ordinary, huge, denormal, NaN and infinite samples in separate,
// in-place, crossed and sidechain-overwriting buffers. Besides the sanitizers' own findings it
// traps when
//  - a frame whose main input is finite (and small enough that the largest makeup cannot overflow
//    a float) comes out non-finite: bad samples must never poison later output;
//  - an output sample is larger than its input times the makeup gain of the current setting: the
//    compressor only ever takes gain away;
//  - getParameter answers anything but the last value the effect accepted (clamped to 0..1, NaN
//    ignored), or anything outside 0..1;
//  - a text the effect wrote into a host buffer is not terminated inside it.
#include "AEffectX.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace
{

constexpr int kParameters = 6;
constexpr int kMakeup = 5;
constexpr int kMaxFrames = 4096;

// The plug-in rounds the makeup to dB in single precision and each output to float; the bound is
// computed in double from 36 v - 18 dB. 1e-5 relative covers both with a wide margin.
constexpr double kGainTolerance = 1e-5;
// With at most +18 dB of makeup (a factor below 8) inputs up to this size cannot overflow a float.
constexpr float kLargestClean = std::numeric_limits<float>::max() / 8.0f;

[[noreturn]] void trap(const char* what, double a = 0.0, double b = 0.0)
{
    std::fprintf(stderr, "VstFuzz: %s (%.9g, %.9g)\n", what, a, b);
    std::abort();
}

FuzzedDataProvider* g_data = nullptr;  // the input being run, for the host callback's answers

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float)
{
    switch (opcode)
    {
    case audioMasterVersion: return kVstVersion;
    case audioMasterGetSampleRate: return g_data != nullptr ? g_data->ConsumeIntegralInRange<VstIntPtr>(-1, 400000) : 0;
    case audioMasterGetBlockSize: return g_data != nullptr ? g_data->ConsumeIntegralInRange<VstIntPtr>(-1, 70000) : 0;
    default: return 0;
    }
}

float anyFloat(FuzzedDataProvider& data)
{
    switch (data.ConsumeIntegralInRange(0, 3))
    {
    case 0:
    {
        const std::uint32_t bits = data.ConsumeIntegral<std::uint32_t>();  // NaN, infinities, denormals
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case 1:
    {
        static const float special[] = {0.0f, -0.0f, 1.0f, 0.5f, -1.0f, 2.0f, 1e30f, -1e30f,
                                        std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(),
                                        std::numeric_limits<float>::denorm_min(),
                                        std::numeric_limits<float>::max(),
                                        std::nextafter(0.5f, 0.0f), std::nextafter(1.0f, 2.0f)};
        return special[data.ConsumeIntegralInRange<std::size_t>(0, sizeof special / sizeof special[0] - 1)];
    }
    default:
        return data.ConsumeFloatingPointInRange(-0.25f, 1.25f);
    }
}

// A small number most of the time, any 32-bit one now and then.
VstInt32 anyIndex(FuzzedDataProvider& data)
{
    return data.ConsumeBool() ? data.ConsumeIntegralInRange<VstInt32>(-2, 10) : data.ConsumeIntegral<VstInt32>();
}

VstIntPtr anyValue(FuzzedDataProvider& data)
{
    return data.ConsumeBool() ? data.ConsumeIntegralInRange<VstIntPtr>(-2, 10) : data.ConsumeIntegral<VstIntPtr>();
}

// Heap blocks of exact sizes, so the address sanitizer catches a single byte written past the end.
class Blocks
{
public:
    char* zeroed(std::size_t size)
    {
        m_blocks.emplace_back(new char[size == 0 ? 1 : size]());
        return m_blocks.back().get();
    }
    // A terminated text of the fuzzer's bytes, in a block of exactly its length plus one.
    char* text(FuzzedDataProvider& data, std::size_t maxLength)
    {
        const std::string content = data.ConsumeRandomLengthString(maxLength);
        char* block = zeroed(content.size() + 1);
        std::memcpy(block, content.c_str(), content.size() + 1);
        return block;
    }
    template <class Record>
    Record* record(std::size_t count = 1)
    {
        return reinterpret_cast<Record*>(zeroed(sizeof(Record) * count));
    }

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
};

VstSpeakerArrangement* arrangement(Blocks& blocks, FuzzedDataProvider& data)
{
    const VstInt32 channels = data.ConsumeIntegralInRange<VstInt32>(0, 8);
    auto* block = reinterpret_cast<VstSpeakerArrangement*>(
        blocks.zeroed(offsetof(VstSpeakerArrangement, speakers) + sizeof(VstSpeakerProperties) * static_cast<std::size_t>(channels)));
    block->type = data.ConsumeIntegralInRange<VstInt32>(-2, 40);
    block->numChannels = channels;
    return block;
}

VstEvents* events(Blocks& blocks, FuzzedDataProvider& data)
{
    const int count = data.ConsumeIntegralInRange(0, 6);
    const std::size_t size = offsetof(VstEvents, events) + sizeof(VstEvent*) * static_cast<std::size_t>(count < 2 ? 2 : count);
    auto* list = reinterpret_cast<VstEvents*>(blocks.zeroed(size));
    list->numEvents = count;
    // The block holds count pointers where the record declares two: index through the block.
    auto** slots = reinterpret_cast<VstEvent**>(reinterpret_cast<char*>(list) + offsetof(VstEvents, events));
    for (int i = 0; i < count; i++)
    {
        if (data.ConsumeBool())
        {
            auto* midi = blocks.record<VstMidiEvent>();
            midi->type = kVstMidiType;
            midi->byteSize = sizeof(VstMidiEvent);
            midi->deltaFrames = data.ConsumeIntegralInRange(-1, kMaxFrames);
            for (char& byte : midi->midiData)
                byte = static_cast<char>(data.ConsumeIntegral<std::uint8_t>());
            slots[i] = reinterpret_cast<VstEvent*>(midi);
        }
        else
        {
            auto* sysex = blocks.record<VstMidiSysexEvent>();
            sysex->type = kVstSysExType;
            sysex->byteSize = sizeof(VstMidiSysexEvent);
            sysex->dumpBytes = data.ConsumeIntegralInRange(0, 64);
            sysex->sysexDump = blocks.zeroed(static_cast<std::size_t>(sysex->dumpBytes));
            slots[i] = reinterpret_cast<VstEvent*>(sysex);
        }
    }
    return list;
}

// The effect under test and what a host knows it accepted.
struct Instance
{
    AEffect* effect = nullptr;
    float accepted[kParameters] = {};

    void create()
    {
        effect = VSTPluginMain(hostCallback);
        if (effect == nullptr || effect->magic != kEffectMagic || effect->numParams != kParameters ||
            effect->numInputs != 4 || effect->numOutputs != 2)
            trap("VSTPluginMain did not return the effect's record");
        for (int i = 0; i < kParameters; i++)
        {
            accepted[i] = effect->getParameter(effect, i);
            if (!(accepted[i] >= 0.0f && accepted[i] <= 1.0f))
                trap("a fresh instance's parameter lies outside 0..1", i, accepted[i]);
        }
    }

    void close()
    {
        if (effect != nullptr && effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f) != 1)
            trap("effClose did not answer 1");
        effect = nullptr;
    }

    void setParameter(VstInt32 index, float value)
    {
        effect->setParameter(effect, index, value);
        if (index >= 0 && index < kParameters && !std::isnan(value))
            accepted[index] = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
    }

    void checkParameters()
    {
        for (VstInt32 index = -1; index <= kParameters; index++)
        {
            const float value = effect->getParameter(effect, index);
            if (!(value >= 0.0f && value <= 1.0f))
                trap("getParameter answered outside 0..1", index, value);
            if (index >= 0 && index < kParameters && value != accepted[index])
                trap("getParameter differs from the value the effect accepted", value, accepted[index]);
        }
    }

    double makeupFactor() const
    {
        return std::pow(10.0, (36.0 * static_cast<double>(accepted[kMakeup]) - 18.0) / 20.0);
    }
};

// Opcodes whose ptr is a text the effect writes, with the room the interface gives it.
std::size_t writtenTextSize(VstInt32 opcode)
{
    switch (opcode)
    {
    case effGetProgramName:
    case effGetProgramNameIndexed: return kVstMaxProgNameLen + 1;
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName: return kVstMaxParamStrLen + 1;
    case effGetEffectName: return kVstMaxEffectNameLen + 1;
    case effGetVendorString: return kVstMaxVendorStrLen + 1;
    case effGetProductString:
    case effShellGetNextPlugin: return kVstMaxProductStrLen + 1;
    default: return 0;
    }
}

void dispatch(Instance& instance, FuzzedDataProvider& data)
{
    VstInt32 opcode;
    if (data.ConsumeIntegralInRange(0, 15) == 0)
        opcode = data.ConsumeIntegral<VstInt32>();  // far outside the interface too
    else
        opcode = data.ConsumeIntegralInRange<VstInt32>(-1, 80);
    VstInt32 index = anyIndex(data);
    VstIntPtr value = anyValue(data);
    const float opt = anyFloat(data);

    Blocks blocks;
    void* ptr = nullptr;
    const bool nullPointer = data.ConsumeIntegralInRange(0, 15) == 0;
    const std::size_t textSize = writtenTextSize(opcode);
    if (textSize != 0)
        ptr = blocks.zeroed(textSize);
    else
    {
        switch (opcode)
        {
        case effSetProgramName:
        case effString2Parameter:
        case effCanDo: ptr = blocks.text(data, 80); break;
        case effEditGetRect: ptr = blocks.record<ERect*>(); break;
        case effGetChunk: ptr = blocks.record<void*>(); break;
        case effSetChunk:
        {
            const std::size_t size = data.ConsumeIntegralInRange<std::size_t>(0, 256);
            ptr = blocks.zeroed(size);
            value = static_cast<VstIntPtr>(size);
            break;
        }
        case effProcessEvents: ptr = events(blocks, data); break;
        case effGetInputProperties:
        case effGetOutputProperties: ptr = blocks.record<VstPinProperties>(); break;
        case effOfflineNotify:
            value = data.ConsumeIntegralInRange<VstIntPtr>(0, 3);
            ptr = blocks.record<VstAudioFile>(static_cast<std::size_t>(value));
            break;
        case effOfflinePrepare:
        case effOfflineRun:
            value = data.ConsumeIntegralInRange<VstIntPtr>(0, 3);
            ptr = blocks.record<VstOfflineTask>(static_cast<std::size_t>(value));
            break;
        case effProcessVarIo: ptr = blocks.record<VstVariableIo>(); break;
        case effSetSpeakerArrangement:
            value = reinterpret_cast<VstIntPtr>(arrangement(blocks, data));
            ptr = arrangement(blocks, data);
            break;
        case effGetSpeakerArrangement:
            value = reinterpret_cast<VstIntPtr>(blocks.record<VstSpeakerArrangement*>());
            ptr = blocks.record<VstSpeakerArrangement*>();
            break;
        case effGetParameterProperties: ptr = blocks.record<VstParameterProperties>(); break;
        case effGetMidiProgramName:
        case effGetCurrentMidiProgram: ptr = blocks.record<MidiProgramName>(); break;
        case effGetMidiProgramCategory: ptr = blocks.record<MidiProgramCategory>(); break;
        case effGetMidiKeyName: ptr = blocks.record<MidiKeyName>(); break;
        case effBeginLoadBank:
        case effBeginLoadProgram:
        {
            auto* info = blocks.record<VstPatchChunkInfo>();
            info->version = data.ConsumeIntegralInRange(0, 2);
            info->pluginUniqueID = data.ConsumeBool() ? instance.effect->uniqueID : data.ConsumeIntegral<VstInt32>();
            info->pluginVersion = data.ConsumeIntegral<VstInt32>();
            info->numElements = data.ConsumeIntegral<VstInt32>();
            ptr = info;
            break;
        }
        default: ptr = blocks.zeroed(512); break;  // an opaque handle or no pointer meaning at all
        }
    }
    if (nullPointer)
        ptr = nullptr;
    // The pointer-carrying values stay valid even with a null ptr.

    if (opcode == effClose)
    {
        instance.close();
        instance.create();
        return;
    }
    instance.effect->dispatcher(instance.effect, opcode, index, value, ptr, opt);
    if (textSize != 0 && ptr != nullptr && std::memchr(ptr, 0, textSize) == nullptr)
        trap("a text written into a host buffer is not terminated inside it", opcode, static_cast<double>(textSize));
}

enum class Samples
{
    Ordinary,
    Silence,
    Denormal,
    Huge,
    NaN,
    Infinite,
    Mixed,
    Raw
};

float sampleOf(FuzzedDataProvider& data, Samples kind)
{
    const float denormal = std::numeric_limits<float>::denorm_min();
    switch (kind)
    {
    case Samples::Ordinary: return data.ConsumeFloatingPointInRange(-1.0f, 1.0f);
    case Samples::Silence: return 0.0f;
    case Samples::Denormal: return denormal * static_cast<float>(data.ConsumeIntegralInRange(-1000, 1000));
    case Samples::Huge: return data.ConsumeFloatingPointInRange(-3e38f, 3e38f);
    case Samples::NaN: return std::numeric_limits<float>::quiet_NaN();
    case Samples::Infinite: return data.ConsumeBool() ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    case Samples::Mixed:
    {
        const Samples kinds[] = {Samples::Ordinary, Samples::Denormal, Samples::NaN, Samples::Infinite, Samples::Huge};
        return sampleOf(data, kinds[data.ConsumeIntegralInRange(0, 4)]);
    }
    case Samples::Raw:
    default: return anyFloat(data);
    }
}

void process(Instance& instance, FuzzedDataProvider& data)
{
    VstInt32 frames = data.ConsumeIntegralInRange<VstInt32>(0, kMaxFrames);
    if (data.ConsumeIntegralInRange(0, 31) == 0)
        frames = data.ConsumeBool() ? -1 : std::numeric_limits<VstInt32>::min();
    const std::size_t size = frames > 0 ? static_cast<std::size_t>(frames) : 0;

    // Four inputs of exactly the block's length; their contents kept for the checks.
    std::vector<std::vector<float>> original(4, std::vector<float>(size));
    for (auto& channel : original)
    {
        const Samples kind = static_cast<Samples>(data.ConsumeIntegralInRange(0, 7));
        // Runs of one value are cheap for the fuzzer to produce and common in real audio.
        const std::size_t run = data.ConsumeIntegralInRange<std::size_t>(1, 64);
        float value = 0.0f;
        for (std::size_t i = 0; i < size; i++)
        {
            if (i % run == 0 || kind == Samples::Ordinary)
                value = data.remaining_bytes() > 0 ? sampleOf(data, kind) : static_cast<float>(i % 7) * 0.1f;
            channel[i] = value;
        }
    }
    std::unique_ptr<float[]> in[4];
    for (int c = 0; c < 4; c++)
    {
        in[c].reset(new float[size == 0 ? 1 : size]);
        std::copy(original[static_cast<std::size_t>(c)].begin(), original[static_cast<std::size_t>(c)].end(), in[c].get());
    }
    std::unique_ptr<float[]> out[2] = {std::unique_ptr<float[]>(new float[size == 0 ? 1 : size]()),
                                       std::unique_ptr<float[]>(new float[size == 0 ? 1 : size]())};
    float* inputs[4] = {in[0].get(), in[1].get(), in[2].get(), in[3].get()};
    float* outputs[2] = {out[0].get(), out[1].get()};
    switch (data.ConsumeIntegralInRange(0, 3))
    {
    case 0: break;                                                  // separate
    case 1: outputs[0] = inputs[0]; outputs[1] = inputs[1]; break;  // in place
    case 2: outputs[0] = inputs[1]; outputs[1] = inputs[0]; break;  // crossed
    default: outputs[0] = inputs[2]; outputs[1] = inputs[3]; break; // over the sidechain
    }

    instance.effect->processReplacing(instance.effect, inputs, outputs, frames);

    const double factor = instance.makeupFactor() * (1.0 + kGainTolerance);
    for (std::size_t i = 0; i < size; i++)
    {
        const bool cleanFrame = std::fabs(original[0][i]) <= kLargestClean && std::fabs(original[1][i]) <= kLargestClean;
        for (int c = 0; c < 2; c++)
        {
            const float input = original[static_cast<std::size_t>(c)][i];
            const float output = outputs[c][i];
            if (cleanFrame && !std::isfinite(output))
                trap("a frame of finite input came out non-finite", input, output);
            if (!std::isfinite(input))
                continue;
            const double bound = std::fabs(static_cast<double>(input)) * factor + std::numeric_limits<float>::denorm_min();
            const bool overflowed = std::isinf(output) && bound >= std::numeric_limits<float>::max();
            if (!overflowed && std::fabs(static_cast<double>(output)) > bound)
                trap("an output is louder than the makeup allows", input, output);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    g_data = &data;
    Instance instance;
    instance.create();
    // Most hosts start the effect before anything else; some do not.
    if (data.ConsumeBool())
    {
        instance.effect->dispatcher(instance.effect, effOpen, 0, 0, nullptr, 0.0f);
        instance.effect->dispatcher(instance.effect, effSetSampleRate, 0, 0, nullptr, anyFloat(data));
        instance.effect->dispatcher(instance.effect, effSetBlockSize, 0, anyValue(data), nullptr, 0.0f);
        instance.effect->dispatcher(instance.effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    int steps = 0;
    while (data.remaining_bytes() > 0 && steps++ < 256)
    {
        switch (data.ConsumeIntegralInRange(0, 9))
        {
        case 0:
        case 1:
        case 2: dispatch(instance, data); break;
        case 3:
        case 4: instance.setParameter(anyIndex(data), anyFloat(data)); break;
        case 5:
        {
            const float rate = data.ConsumeBool() ? anyFloat(data) : static_cast<float>(data.ConsumeIntegralInRange(1, 1000000));
            instance.effect->dispatcher(instance.effect, effSetSampleRate, 0, 0, nullptr, rate);
            break;
        }
        case 6: instance.effect->dispatcher(instance.effect, effMainsChanged, 0, data.ConsumeIntegralInRange(0, 1), nullptr, 0.0f); break;
        default: process(instance, data); break;
        }
        instance.checkParameters();
    }
    instance.close();
    g_data = nullptr;
    return 0;
}
