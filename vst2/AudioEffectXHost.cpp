// Extended host services: each sends one host opcode and converts the host's answer.
#include "AudioEffectX.h"

namespace
{
bool nonzero(VstIntPtr answer)
{
    return answer != 0;
}
}  // namespace

VstIntPtr AudioEffectX::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    if (audioMaster == nullptr)
        return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

VstTimeInfo* AudioEffectX::getTimeInfo(VstInt32 filter)
{
    VstIntPtr answer = callHost(audioMasterGetTime, 0, filter);
    return FromVstPtr<VstTimeInfo>(answer);
}

bool AudioEffectX::sendVstEventsToHost(VstEvents* events)
{
    return callHost(audioMasterProcessEvents, 0, 0, events) == 1;
}

bool AudioEffectX::ioChanged() { return nonzero(callHost(audioMasterIOChanged)); }

bool AudioEffectX::sizeWindow(VstInt32 width, VstInt32 height)
{
    return nonzero(callHost(audioMasterSizeWindow, width, height));
}

// The stored rate and block size change only for a positive answer; the virtual setters are not
// called, so an override does not see the new value.
double AudioEffectX::updateSampleRate()
{
    VstIntPtr answer = callHost(audioMasterGetSampleRate);
    if (answer > 0)
        sampleRate = static_cast<float>(answer);
    return sampleRate;
}

VstInt32 AudioEffectX::updateBlockSize()
{
    VstIntPtr answer = callHost(audioMasterGetBlockSize);
    if (answer > 0)
        blockSize = static_cast<VstInt32>(answer);
    return blockSize;
}

VstInt32 AudioEffectX::getInputLatency() { return static_cast<VstInt32>(callHost(audioMasterGetInputLatency)); }
VstInt32 AudioEffectX::getOutputLatency() { return static_cast<VstInt32>(callHost(audioMasterGetOutputLatency)); }

VstInt32 AudioEffectX::getCurrentProcessLevel()
{
    return static_cast<VstInt32>(callHost(audioMasterGetCurrentProcessLevel));
}

VstInt32 AudioEffectX::getAutomationState()
{
    return static_cast<VstInt32>(callHost(audioMasterGetAutomationState));
}

bool AudioEffectX::offlineStart(VstAudioFile* audioFiles, VstInt32 numAudioFiles, VstInt32 numNewAudioFiles)
{
    return nonzero(callHost(audioMasterOfflineStart, numNewAudioFiles, numAudioFiles, audioFiles));
}

bool AudioEffectX::offlineRead(VstOfflineTask* offline, VstInt32 option, bool readSource)
{
    return nonzero(callHost(audioMasterOfflineRead, readSource ? 1 : 0, option, offline));
}

bool AudioEffectX::offlineWrite(VstOfflineTask* offline, VstInt32 option)
{
    return nonzero(callHost(audioMasterOfflineWrite, 0, option, offline));
}

VstInt32 AudioEffectX::offlineGetCurrentPass() { return nonzero(callHost(audioMasterOfflineGetCurrentPass)) ? 1 : 0; }

VstInt32 AudioEffectX::offlineGetCurrentMetaPass()
{
    return nonzero(callHost(audioMasterOfflineGetCurrentMetaPass)) ? 1 : 0;
}

bool AudioEffectX::getHostVendorString(char* text) { return nonzero(callHost(audioMasterGetVendorString, 0, 0, text)); }

bool AudioEffectX::getHostProductString(char* text)
{
    return nonzero(callHost(audioMasterGetProductString, 0, 0, text));
}

VstInt32 AudioEffectX::getHostVendorVersion() { return static_cast<VstInt32>(callHost(audioMasterGetVendorVersion)); }

VstIntPtr AudioEffectX::hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg, float floatArg)
{
    return callHost(audioMasterVendorSpecific, lArg1, lArg2, ptrArg, floatArg);
}

VstInt32 AudioEffectX::canHostDo(char* text) { return nonzero(callHost(audioMasterCanDo, 0, 0, text)) ? 1 : 0; }

VstInt32 AudioEffectX::getHostLanguage() { return static_cast<VstInt32>(callHost(audioMasterGetLanguage)); }

void* AudioEffectX::getDirectory()
{
    VstIntPtr answer = callHost(audioMasterGetDirectory);
    return FromVstPtr<void>(answer);
}

bool AudioEffectX::updateDisplay() { return nonzero(callHost(audioMasterUpdateDisplay)); }
bool AudioEffectX::beginEdit(VstInt32 index) { return nonzero(callHost(audioMasterBeginEdit, index)); }
bool AudioEffectX::endEdit(VstInt32 index) { return nonzero(callHost(audioMasterEndEdit, index)); }

bool AudioEffectX::openFileSelector(VstFileSelect* ptr)
{
    return ptr != nullptr && nonzero(callHost(audioMasterOpenFileSelector, 0, 0, ptr));
}

bool AudioEffectX::closeFileSelector(VstFileSelect* ptr)
{
    return ptr != nullptr && nonzero(callHost(audioMasterCloseFileSelector, 0, 0, ptr));
}

// --- services kept for hosts of older interface versions -----------------------------------------

void AudioEffectX::__wantEventsDeprecated(VstInt32 filter) { callHost(__audioMasterWantMidiDeprecated, 0, filter); }

VstInt32 AudioEffectX::__tempoAtDeprecated(VstInt32 pos)
{
    return static_cast<VstInt32>(callHost(__audioMasterTempoAtDeprecated, 0, pos));
}

VstInt32 AudioEffectX::__getNumAutomatableParametersDeprecated()
{
    return static_cast<VstInt32>(callHost(__audioMasterGetNumAutomatableParametersDeprecated));
}

VstInt32 AudioEffectX::__getParameterQuantizationDeprecated()
{
    return static_cast<VstInt32>(callHost(__audioMasterGetParameterQuantizationDeprecated));
}

bool AudioEffectX::__needIdleDeprecated() { return nonzero(callHost(__audioMasterNeedIdleDeprecated)); }

// The pin number is not part of the request.
AEffect* AudioEffectX::__getPreviousPlugDeprecated(VstInt32 /*input*/)
{
    VstIntPtr answer = callHost(__audioMasterGetPreviousPlugDeprecated);
    return FromVstPtr<AEffect>(answer);
}

AEffect* AudioEffectX::__getNextPlugDeprecated(VstInt32 /*output*/)
{
    VstIntPtr answer = callHost(__audioMasterGetNextPlugDeprecated);
    return FromVstPtr<AEffect>(answer);
}

VstInt32 AudioEffectX::__willProcessReplacingDeprecated()
{
    return static_cast<VstInt32>(callHost(__audioMasterWillReplaceOrAccumulateDeprecated));
}

void AudioEffectX::__setOutputSamplerateDeprecated(float samplerate)
{
    callHost(__audioMasterSetOutputSampleRateDeprecated, 0, 0, nullptr, samplerate);
}

VstSpeakerArrangement* AudioEffectX::__getInputSpeakerArrangementDeprecated()
{
    VstIntPtr answer = callHost(__audioMasterGetInputSpeakerArrangementDeprecated);
    return FromVstPtr<VstSpeakerArrangement>(answer);
}

VstSpeakerArrangement* AudioEffectX::__getOutputSpeakerArrangementDeprecated()
{
    VstIntPtr answer = callHost(__audioMasterGetOutputSpeakerArrangementDeprecated);
    return FromVstPtr<VstSpeakerArrangement>(answer);
}

void* AudioEffectX::__openWindowDeprecated(VstWindow* window)
{
    VstIntPtr answer = callHost(__audioMasterOpenWindowDeprecated, 0, 0, window);
    return FromVstPtr<void>(answer);
}

bool AudioEffectX::__closeWindowDeprecated(VstWindow* window)
{
    return nonzero(callHost(__audioMasterCloseWindowDeprecated, 0, 0, window));
}

bool AudioEffectX::__getChunkFileDeprecated(void* nativePath)
{
    return nativePath != nullptr && nonzero(callHost(__audioMasterGetChunkFileDeprecated, 0, 0, nativePath));
}
