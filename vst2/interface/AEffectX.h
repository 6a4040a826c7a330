// The extended (2.x) part of the interface: opcodes 25..79, the host opcodes of the extended
// services, categories and the records that travel by pointer.
#pragma once

#include "AEffect.h"
#include "AEffectXRecords.h"  // the records that travel by pointer

enum AEffectXOpcodes : VstInt32
{
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetProgramNameIndexed = 29,
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effOfflineNotify = 38,
    effOfflinePrepare = 39,
    effOfflineRun = 40,
    effProcessVarIo = 41,
    effSetSpeakerArrangement = 42,
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effGetParameterProperties = 56,
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetMidiProgramName = 62,
    effGetCurrentMidiProgram = 63,
    effGetMidiProgramCategory = 64,
    effHasMidiProgramsChanged = 65,
    effGetMidiKeyName = 66,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
    effGetSpeakerArrangement = 69,
    effShellGetNextPlugin = 70,
    effStartProcess = 71,
    effStopProcess = 72,
    effSetTotalSampleToProcess = 73,
    effSetPanLaw = 74,
    effBeginLoadBank = 75,
    effBeginLoadProgram = 76,
    effSetProcessPrecision = 77,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79
};

enum AudioMasterOpcodesX : VstInt32
{
    __audioMasterWantMidiDeprecated = 6,
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    __audioMasterTempoAtDeprecated = 10,
    __audioMasterGetNumAutomatableParametersDeprecated = 11,
    __audioMasterGetParameterQuantizationDeprecated = 12,
    audioMasterIOChanged = 13,
    __audioMasterNeedIdleDeprecated = 14,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetInputLatency = 18,
    audioMasterGetOutputLatency = 19,
    __audioMasterGetPreviousPlugDeprecated = 20,
    __audioMasterGetNextPlugDeprecated = 21,
    __audioMasterWillReplaceOrAccumulateDeprecated = 22,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetAutomationState = 24,
    audioMasterOfflineStart = 25,
    audioMasterOfflineRead = 26,
    audioMasterOfflineWrite = 27,
    audioMasterOfflineGetCurrentPass = 28,
    audioMasterOfflineGetCurrentMetaPass = 29,
    __audioMasterSetOutputSampleRateDeprecated = 30,
    __audioMasterGetOutputSpeakerArrangementDeprecated = 31,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterVendorSpecific = 35,
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    __audioMasterOpenWindowDeprecated = 39,
    __audioMasterCloseWindowDeprecated = 40,
    audioMasterGetDirectory = 41,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
    audioMasterOpenFileSelector = 45,
    audioMasterCloseFileSelector = 46,
    __audioMasterGetChunkFileDeprecated = 48,
    __audioMasterGetInputSpeakerArrangementDeprecated = 49
};

enum VstPlugCategory : VstInt32
{
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2
};

// The editor's rectangle, in pixels.
struct ERect
{
    std::int16_t top;
    std::int16_t left;
    std::int16_t bottom;
    std::int16_t right;
};

// A key event handed to an editor.
struct VstKeyCode
{
    VstInt32 character;
    unsigned char virt;
    unsigned char modifier;
};
static_assert(sizeof(ERect) == 8, "ERect is four 16-bit fields");

// One speaker of an arrangement.
struct VstSpeakerProperties
{
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    VstInt32 type;
    char future[28];
};
static_assert(sizeof(VstSpeakerProperties) == 112, "VstSpeakerProperties is 112 bytes");

// A channel layout. Blocks made by allocateArrangement hold exactly numChannels speakers, which may
// be more or fewer than the eight declared here, so never copy the record as a whole.
struct VstSpeakerArrangement
{
    VstInt32 type;
    VstInt32 numChannels;
    VstSpeakerProperties speakers[8];
};
static_assert(sizeof(VstSpeakerArrangement) == 904, "VstSpeakerArrangement is 904 bytes as declared");
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8, "speakers follow the 8-byte header");
