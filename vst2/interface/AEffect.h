// The VST 2.4 effect record, the host callback type, the opcode and flag vocabularies and the
// bounded text helpers through which every text written into a host buffer passes.
#pragma once

#include <cstddef>
#include <cstdint>

typedef std::int32_t VstInt32;
typedef std::intptr_t VstIntPtr;  // pointer-sized: dispatcher values and every host answer

struct AEffect;

typedef VstIntPtr (*audioMasterCallback)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                         VstIntPtr value, void* ptr, float opt);
typedef VstIntPtr (*AEffectDispatcherProc)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                           VstIntPtr value, void* ptr, float opt);
typedef void (*AEffectProcessProc)(AEffect* effect, float** inputs, float** outputs,
                                   VstInt32 sampleFrames);
typedef void (*AEffectProcessDoubleProc)(AEffect* effect, double** inputs, double** outputs,
                                         VstInt32 sampleFrames);
typedef void (*AEffectSetParameterProc)(AEffect* effect, VstInt32 index, float parameter);
typedef float (*AEffectGetParameterProc)(AEffect* effect, VstInt32 index);

// Four characters read big-endian, as the interface spells its identifiers ('VstP', 'BRLA').
constexpr VstInt32 fourCharId(char a, char b, char c, char d)
{
    return static_cast<VstInt32>((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                 (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

constexpr VstInt32 kEffectMagic = fourCharId('V', 's', 't', 'P');
constexpr VstInt32 kVstVersion = 2400;

struct AEffect
{
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc __processDeprecated;
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 __realQualitiesDeprecated;
    VstInt32 __offQualitiesDeprecated;
    float __ioRatioDeprecated;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// The record is shared with hosts by address, so its layout is part of the binary interface.
#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(AEffect) == 144, "AEffect must be 144 bytes on 32-bit targets");
static_assert(offsetof(AEffect, magic) == 0 && offsetof(AEffect, dispatcher) == 4 &&
              offsetof(AEffect, __processDeprecated) == 8 && offsetof(AEffect, setParameter) == 12 &&
              offsetof(AEffect, getParameter) == 16 && offsetof(AEffect, numPrograms) == 20 &&
              offsetof(AEffect, numParams) == 24 && offsetof(AEffect, numInputs) == 28 &&
              offsetof(AEffect, numOutputs) == 32 && offsetof(AEffect, flags) == 36 &&
              offsetof(AEffect, resvd1) == 40 && offsetof(AEffect, resvd2) == 44 &&
              offsetof(AEffect, initialDelay) == 48 && offsetof(AEffect, __realQualitiesDeprecated) == 52 &&
              offsetof(AEffect, __offQualitiesDeprecated) == 56 &&
              offsetof(AEffect, __ioRatioDeprecated) == 60 && offsetof(AEffect, object) == 64 &&
              offsetof(AEffect, user) == 68 && offsetof(AEffect, uniqueID) == 72 &&
              offsetof(AEffect, version) == 76 && offsetof(AEffect, processReplacing) == 80 &&
              offsetof(AEffect, processDoubleReplacing) == 84 && offsetof(AEffect, future) == 88,
              "AEffect field offsets must match the 32-bit interface");
#elif INTPTR_MAX == INT64_MAX
static_assert(sizeof(AEffect) == 192, "AEffect must be 192 bytes on 64-bit targets");
static_assert(offsetof(AEffect, magic) == 0 && offsetof(AEffect, dispatcher) == 8 &&
              offsetof(AEffect, __processDeprecated) == 16 && offsetof(AEffect, setParameter) == 24 &&
              offsetof(AEffect, getParameter) == 32 && offsetof(AEffect, numPrograms) == 40 &&
              offsetof(AEffect, numParams) == 44 && offsetof(AEffect, numInputs) == 48 &&
              offsetof(AEffect, numOutputs) == 52 && offsetof(AEffect, flags) == 56 &&
              offsetof(AEffect, resvd1) == 64 && offsetof(AEffect, resvd2) == 72 &&
              offsetof(AEffect, initialDelay) == 80 && offsetof(AEffect, __realQualitiesDeprecated) == 84 &&
              offsetof(AEffect, __offQualitiesDeprecated) == 88 &&
              offsetof(AEffect, __ioRatioDeprecated) == 92 && offsetof(AEffect, object) == 96 &&
              offsetof(AEffect, user) == 104 && offsetof(AEffect, uniqueID) == 112 &&
              offsetof(AEffect, version) == 116 && offsetof(AEffect, processReplacing) == 120 &&
              offsetof(AEffect, processDoubleReplacing) == 128 && offsetof(AEffect, future) == 136,
              "AEffect field offsets must match the 64-bit interface");
#endif

// Bits of AEffect::flags.
enum VstAEffectFlags : VstInt32
{
    effFlagsHasEditor = 1 << 0,
    __effFlagsHasClipDeprecated = 1 << 1,
    __effFlagsHasVuDeprecated = 1 << 2,
    __effFlagsCanMonoDeprecated = 1 << 3,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    __effFlagsExtIsAsyncDeprecated = 1 << 10,
    __effFlagsExtHasBufferDeprecated = 1 << 11,
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Dispatcher opcodes the base effect answers.
enum AEffectOpcodes : VstInt32
{
    effOpen = 0,
    effClose,
    effSetProgram,
    effGetProgram,
    effSetProgramName,
    effGetProgramName,
    effGetParamLabel,
    effGetParamDisplay,
    effGetParamName,
    __effGetVuDeprecated,
    effSetSampleRate,
    effSetBlockSize,
    effMainsChanged,
    effEditGetRect,
    effEditOpen,
    effEditClose,
    __effEditDrawDeprecated,
    __effEditMouseDeprecated,
    __effEditKeyDeprecated,
    effEditIdle,
    __effEditTopDeprecated,
    __effEditSleepDeprecated,
    __effIdentifyDeprecated,
    effGetChunk,
    effSetChunk,
    effNumOpcodes
};

// Host callback opcodes of the base services.
enum AudioMasterOpcodes : VstInt32
{
    audioMasterAutomate = 0,
    audioMasterVersion,
    audioMasterCurrentId,
    audioMasterIdle,
    __audioMasterPinConnectedDeprecated
};

// Text limits of the interface, in characters without the terminator.
enum VstStringConstants : VstInt32
{
    kVstMaxProgNameLen = 24,
    kVstMaxParamStrLen = 8,
    kVstMaxVendorStrLen = 64,
    kVstMaxProductStrLen = 64,
    kVstMaxEffectNameLen = 32
};

// Reinterprets a pointer that travels in an integer argument or answer.
template <class T>
inline T* FromVstPtr(VstIntPtr& arg)
{
    return reinterpret_cast<T*>(arg);
}

// Copies at most maxLen characters of src, zero-fills the rest and terminates at dst[maxLen]:
// exactly maxLen + 1 bytes are written. A null dst or src writes nothing.
inline char* vst_strncpy(char* dst, const char* src, std::size_t maxLen)
{
    if (dst == nullptr || src == nullptr)
        return dst;
    std::size_t i = 0;
    for (; i < maxLen && src[i] != 0; ++i)
        dst[i] = src[i];
    for (; i <= maxLen; ++i)
        dst[i] = 0;
    return dst;
}

// Appends src to the text in dst, cutting the whole text to maxLen characters; nothing is written
// past dst[maxLen]. A null dst or src writes nothing.
inline char* vst_strncat(char* dst, const char* src, std::size_t maxLen)
{
    if (dst == nullptr || src == nullptr)
        return dst;
    std::size_t length = 0;
    while (length < maxLen && dst[length] != 0)
        ++length;
    for (std::size_t copied = 0; length < maxLen && copied < maxLen && src[copied] != 0; ++copied)
        dst[length++] = src[copied];
    dst[length] = 0;
    dst[maxLen] = 0;
    return dst;
}
