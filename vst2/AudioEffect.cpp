#include "AudioEffect.h"

#include <cstring>

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster),
      editor(nullptr),
      sampleRate(44100.0f),
      blockSize(1024),
      numPrograms(numPrograms),
      numParams(numParams),
      curProgram(0)
{
    std::memset(&cEffect, 0, sizeof(cEffect));

    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffectClass;
    cEffect.__processDeprecated = __processClassDeprecated;
    cEffect.setParameter = setParameterClass;
    cEffect.getParameter = getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.__ioRatioDeprecated = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = fourCharId('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = processClassReplacing;
    AudioEffect::canProcessReplacing(true);
    cEffect.processDoubleReplacing = processClassDoubleReplacing;
}

AudioEffect::~AudioEffect()
{
    delete editor;
}

void AudioEffect::setEditor(AEffEditor* editor)
{
    this->editor = editor;
    setFlag(effFlagsHasEditor, editor != nullptr);
}

// --- the record's entry points ------------------------------------------------------------------

VstIntPtr AudioEffect::dispatchEffectClass(AEffect* e, VstInt32 opCode, VstInt32 index, VstIntPtr value,
                                           void* ptr, float opt)
{
    AudioEffect* effect = static_cast<AudioEffect*>(e->object);
    if (opCode == effClose)
    {
        effect->dispatcher(opCode, index, value, ptr, opt);
        delete effect;
        return 1;
    }
    return effect->dispatcher(opCode, index, value, ptr, opt);
}

float AudioEffect::getParameterClass(AEffect* e, VstInt32 index)
{
    return static_cast<AudioEffect*>(e->object)->getParameter(index);
}

void AudioEffect::setParameterClass(AEffect* e, VstInt32 index, float value)
{
    static_cast<AudioEffect*>(e->object)->setParameter(index, value);
}

void AudioEffect::__processClassDeprecated(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    static_cast<AudioEffect*>(e->object)->__processDeprecated(inputs, outputs, sampleFrames);
}

void AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames)
{
    static_cast<AudioEffect*>(e->object)->processReplacing(inputs, outputs, sampleFrames);
}

void AudioEffect::processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs,
                                              VstInt32 sampleFrames)
{
    static_cast<AudioEffect*>(e->object)->processDoubleReplacing(inputs, outputs, sampleFrames);
}

// --- opcodes 0..24 ------------------------------------------------------------------------------

namespace
{
// Opcodes whose ptr is a text buffer the called operation writes or reads.
bool isTextOpcode(VstInt32 opcode)
{
    return opcode == effSetProgramName || opcode == effGetProgramName || opcode == effGetParamLabel ||
           opcode == effGetParamDisplay || opcode == effGetParamName;
}
}  // namespace

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (static_cast<std::uint32_t>(opcode) > static_cast<std::uint32_t>(effSetChunk))
        return 0;
    // A host that hands over no text buffer gets nothing written and the answer 0.
    if (ptr == nullptr && isTextOpcode(opcode))
        return 0;

    char* text = static_cast<char*>(ptr);
    switch (opcode)
    {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value < numPrograms)
            setProgram(static_cast<VstInt32>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(text);
        return 0;
    case effGetProgramName:
        getProgramName(text);
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        getParameterName(index, text);
        return 0;
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<VstInt32>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        return editor != nullptr && editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
    case effEditOpen:
        return editor != nullptr && editor->open(ptr) ? 1 : 0;
    case effEditClose:
        if (editor != nullptr)
            editor->close();
        return 0;
    case effEditIdle:
        if (editor != nullptr)
            editor->idle();
        return 0;
    case __effIdentifyDeprecated:
        return fourCharId('N', 'v', 'E', 'f');
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
    default:
        return 0;
    }
}

// --- base host services ---------------------------------------------------------------------------

void AudioEffect::setParameterAutomated(VstInt32 index, float value)
{
    setParameter(index, value);
    if (audioMaster != nullptr)
        audioMaster(&cEffect, audioMasterAutomate, index, 0, nullptr, value);
}

VstInt32 AudioEffect::getMasterVersion()
{
    VstInt32 version = 1;
    if (audioMaster != nullptr)
    {
        version = static_cast<VstInt32>(audioMaster(&cEffect, audioMasterVersion, 0, 0, nullptr, 0.0f));
        if (version == 0)
            version = 1;
    }
    return version;
}

VstInt32 AudioEffect::getCurrentUniqueId()
{
    if (audioMaster == nullptr)
        return 0;
    return static_cast<VstInt32>(audioMaster(&cEffect, audioMasterCurrentId, 0, 0, nullptr, 0.0f));
}

void AudioEffect::masterIdle()
{
    if (audioMaster != nullptr)
        audioMaster(&cEffect, audioMasterIdle, 0, 0, nullptr, 0.0f);
}

bool AudioEffect::__isInputConnectedDeprecated(VstInt32 input)
{
    if (audioMaster == nullptr)
        return true;
    return audioMaster(&cEffect, __audioMasterPinConnectedDeprecated, input, 0, nullptr, 0.0f) == 0;
}

bool AudioEffect::__isOutputConnectedDeprecated(VstInt32 output)
{
    if (audioMaster == nullptr)
        return true;
    return audioMaster(&cEffect, __audioMasterPinConnectedDeprecated, output, 1, nullptr, 0.0f) == 0;
}
