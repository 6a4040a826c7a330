// Records of the extended interface that only travel by pointer between host and effect: events,
// pin and parameter properties, time info, offline processing, variable I/O, file selection,
// patch chunk info and the MIDI program naming records. The base classes never read or write their
// fields; an effect that overrides the matching operation does. Layouts follow the published
// interface: natural alignment, no packing.
#pragma once

#include "AEffect.h"

#include <cstdint>

typedef std::int16_t VstInt16;

// Text limits of the extended records, in bytes including the terminator.
enum VstAEffectXStringConstants : VstInt32
{
    kVstMaxNameLen = 64,
    kVstMaxLabelLen = 64,
    kVstMaxShortLabelLen = 8,
    kVstMaxCategLabelLen = 24,
    kVstMaxFileNameLen = 100
};

// --- events ---------------------------------------------------------------------------------------

enum VstEventTypes : VstInt32
{
    kVstMidiType = 1,
    __kVstAudioTypeDeprecated,
    __kVstVideoTypeDeprecated,
    __kVstParameterTypeDeprecated,
    __kVstTriggerTypeDeprecated,
    kVstSysExType
};

// The common head of every event; byteSize counts the bytes after the first two fields.
struct VstEvent
{
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames;  // frames from the start of the current block
    VstInt32 flags;
    char data[16];
};

// A block of events: events holds numEvents pointers (the array is allocated longer than 2).
struct VstEvents
{
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[2];
};

enum VstMidiEventFlags : VstInt32
{
    kVstMidiEventIsRealtime = 1 << 0
};

struct VstMidiEvent
{
    VstInt32 type;  // kVstMidiType
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;       // VstMidiEventFlags
    VstInt32 noteLength;  // frames, 0 when unknown
    VstInt32 noteOffset;  // frames into the note
    char midiData[4];     // status byte and up to two data bytes, the fourth is reserved
    char detune;          // cents, -64..+63
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

struct VstMidiSysexEvent
{
    VstInt32 type;  // kVstSysExType
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    VstInt32 dumpBytes;
    VstIntPtr resvd1;
    char* sysexDump;
    VstIntPtr resvd2;
};

// --- time info ------------------------------------------------------------------------------------

enum VstTimeInfoFlags : VstInt32
{
    kVstTransportChanged = 1,
    kVstTransportPlaying = 1 << 1,
    kVstTransportCycleActive = 1 << 2,
    kVstTransportRecording = 1 << 3,
    kVstAutomationWriting = 1 << 6,
    kVstAutomationReading = 1 << 7,
    kVstNanosValid = 1 << 8,
    kVstPpqPosValid = 1 << 9,
    kVstTempoValid = 1 << 10,
    kVstBarsValid = 1 << 11,
    kVstCyclePosValid = 1 << 12,
    kVstTimeSigValid = 1 << 13,
    kVstSmpteValid = 1 << 14,
    kVstClockValid = 1 << 15
};

enum VstSmpteFrameRate : VstInt32
{
    kVstSmpte24fps = 0,
    kVstSmpte25fps = 1,
    kVstSmpte2997fps = 2,
    kVstSmpte30fps = 3,
    kVstSmpte2997dfps = 4,
    kVstSmpte30dfps = 5,
    kVstSmpteFilm16mm = 6,
    kVstSmpteFilm35mm = 7,
    kVstSmpte239fps = 10,
    kVstSmpte249fps = 11,
    kVstSmpte599fps = 12,
    kVstSmpte60fps = 13
};

// The host's transport. Fields other than samplePos and sampleRate are valid only when their flag
// in flags is set.
struct VstTimeInfo
{
    double samplePos;      // frames since the start of the song
    double sampleRate;     // Hz
    double nanoSeconds;    // system time
    double ppqPos;         // quarter notes since the start of the song
    double tempo;          // beats per minute
    double barStartPos;    // ppqPos of the last bar start
    double cycleStartPos;  // ppqPos of the loop start
    double cycleEndPos;    // ppqPos of the loop end
    VstInt32 timeSigNumerator;
    VstInt32 timeSigDenominator;
    VstInt32 smpteOffset;
    VstInt32 smpteFrameRate;      // VstSmpteFrameRate
    VstInt32 samplesToNextClock;  // frames to the next 24-ppq MIDI clock
    VstInt32 flags;               // VstTimeInfoFlags
};

// --- variable I/O -----------------------------------------------------------------------------------

struct VstVariableIo
{
    float** inputs;
    float** outputs;
    VstInt32 numSamplesInput;
    VstInt32 numSamplesOutput;
    VstInt32* numSamplesInputProcessed;
    VstInt32* numSamplesOutputProcessed;
};

// --- pin and parameter properties ---------------------------------------------------------------------

enum VstPinPropertiesFlags : VstInt32
{
    kVstPinIsActive = 1 << 0,
    kVstPinIsStereo = 1 << 1,
    kVstPinUseSpeaker = 1 << 2
};

struct VstPinProperties
{
    char label[kVstMaxLabelLen];
    VstInt32 flags;            // VstPinPropertiesFlags
    VstInt32 arrangementType;  // a speaker arrangement type
    char shortLabel[kVstMaxShortLabelLen];
    char future[48];
};

enum VstParameterFlags : VstInt32
{
    kVstParameterIsSwitch = 1 << 0,
    kVstParameterUsesIntegerMinMax = 1 << 1,
    kVstParameterUsesFloatStep = 1 << 2,
    kVstParameterUsesIntStep = 1 << 3,
    kVstParameterSupportsDisplayIndex = 1 << 4,
    kVstParameterSupportsDisplayCategory = 1 << 5,
    kVstParameterCanRamp = 1 << 6
};

struct VstParameterProperties
{
    float stepFloat;
    float smallStepFloat;
    float largeStepFloat;
    char label[kVstMaxLabelLen];
    VstInt32 flags;  // VstParameterFlags
    VstInt32 minInteger;
    VstInt32 maxInteger;
    VstInt32 stepInteger;
    VstInt32 largeStepInteger;
    char shortLabel[kVstMaxShortLabelLen];
    VstInt16 displayIndex;
    VstInt16 category;  // 1-based; 0 means no category
    VstInt16 numParametersInCategory;
    VstInt16 reserved;
    char categoryLabel[kVstMaxCategLabelLen];
    char future[16];
};

// --- MIDI program and key names -------------------------------------------------------------------

enum VstMidiProgramNameFlags : VstInt32
{
    kMidiIsOmni = 1
};

struct MidiProgramName
{
    VstInt32 thisProgramIndex;
    char name[kVstMaxNameLen];
    char midiProgram;  // -1 when not a MIDI program
    char midiBankMsb;  // -1 when no bank select
    char midiBankLsb;
    char reserved;
    VstInt32 parentCategoryIndex;  // -1 when the program has no category
    VstInt32 flags;                // VstMidiProgramNameFlags
};

struct MidiProgramCategory
{
    VstInt32 thisCategoryIndex;
    char name[kVstMaxNameLen];
    VstInt32 parentCategoryIndex;
    VstInt32 flags;
};

struct MidiKeyName
{
    VstInt32 thisProgramIndex;
    VstInt32 thisKeyNumber;  // 0..127
    char keyName[kVstMaxNameLen];
    VstInt32 reserved;
    VstInt32 flags;
};

// --- offline processing ----------------------------------------------------------------------------

enum VstAudioFileFlags : VstInt32
{
    kVstOfflineReadOnly = 1 << 0,
    kVstOfflineNoRateConversion = 1 << 1,
    kVstOfflineNoChannelChange = 1 << 2,
    kVstOfflineCanProcessSelection = 1 << 10,
    kVstOfflineNoCrossfade = 1 << 11,
    kVstOfflineWantRead = 1 << 12,
    kVstOfflineWantWrite = 1 << 13,
    kVstOfflineWantWriteMarker = 1 << 14,
    kVstOfflineWantMoveCursor = 1 << 15,
    kVstOfflineWantSelect = 1 << 16
};

struct VstAudioFile
{
    VstInt32 flags;  // VstAudioFileFlags
    void* hostOwned;
    void* plugOwned;
    char name[kVstMaxFileNameLen];
    VstInt32 uniqueId;
    double sampleRate;
    VstInt32 numChannels;
    double numSampleFrames;
    VstInt32 format;
    double editCursorPosition;
    double selectionStart;
    double selectionSize;
    VstInt32 selectedChannelsMask;
    VstInt32 numMarkers;
    VstInt32 timeRulerUnit;
    double timeRulerOffset;
    double tempo;
    VstInt32 timeSigNumerator;
    VstInt32 timeSigDenominator;
    VstInt32 ticksPerBlackNote;
    VstInt32 smpteFrameRate;
    char future[64];
};

struct VstOfflineTask
{
    char processName[96];
    double readPosition;
    double writePosition;
    VstInt32 readCount;
    VstInt32 writeCount;
    VstInt32 sizeInputBuffer;
    VstInt32 sizeOutputBuffer;
    void* inputBuffer;
    void* outputBuffer;
    double positionToProcessFrom;
    double numFramesToProcess;
    double maxFramesToWrite;
    void* extraBuffer;
    VstInt32 value;
    VstInt32 index;
    double numFramesInSourceFile;
    double sourceSampleRate;
    double destinationSampleRate;
    VstInt32 numSourceChannels;
    VstInt32 numDestinationChannels;
    VstInt32 sourceFormat;
    VstInt32 destinationFormat;
    char outputText[512];
    double progress;
    VstInt32 progressMode;
    char progressText[100];
    VstInt32 flags;
    VstInt32 returnValue;
    void* hostOwned;
    void* plugOwned;
    char future[1024];
};

// --- file selection -------------------------------------------------------------------------------

enum VstFileSelectCommand : VstInt32
{
    kVstFileLoad = 0,
    kVstFileSave,
    kVstMultipleFilesLoad,
    kVstDirectorySelect
};

enum VstFileSelectType : VstInt32
{
    kVstFileType = 0
};

struct VstFileType
{
    char name[128];
    char macType[8];
    char dosType[8];
    char unixType[8];
    char mimeType1[128];
    char mimeType2[128];
};

struct VstFileSelect
{
    VstInt32 command;  // VstFileSelectCommand
    VstInt32 type;     // VstFileSelectType
    VstInt32 macCreator;
    VstInt32 nbFileTypes;
    VstFileType* fileTypes;
    char title[1024];
    char* initialPath;
    char* returnPath;  // owned by the caller when it is not null, else by the host
    VstInt32 sizeReturnPath;
    char** returnMultiplePaths;
    VstInt32 nbReturnPath;
    VstIntPtr reserved;
    char future[116];
};

// --- patch chunk info ------------------------------------------------------------------------------

// What a host tells the effect about a bank or program it is about to load.
struct VstPatchChunkInfo
{
    VstInt32 version;  // format version, 1
    VstInt32 pluginUniqueID;
    VstInt32 pluginVersion;
    VstInt32 numElements;  // programs in a bank, parameters in a program
    char future[48];
};

// Sizes that do not depend on the pointer width.
static_assert(sizeof(VstEvent) == 32, "VstEvent is 32 bytes");
static_assert(sizeof(VstMidiEvent) == 32, "VstMidiEvent is 32 bytes");
static_assert(sizeof(VstTimeInfo) == 88, "VstTimeInfo is 88 bytes");
static_assert(sizeof(VstPinProperties) == 128, "VstPinProperties is 128 bytes");
static_assert(sizeof(VstParameterProperties) == 152, "VstParameterProperties is 152 bytes");
static_assert(sizeof(MidiProgramName) == 80, "MidiProgramName is 80 bytes");
static_assert(sizeof(MidiProgramCategory) == 76, "MidiProgramCategory is 76 bytes");
static_assert(sizeof(MidiKeyName) == 80, "MidiKeyName is 80 bytes");
static_assert(sizeof(VstPatchChunkInfo) == 64, "VstPatchChunkInfo is 64 bytes");
static_assert(sizeof(VstFileType) == 408, "VstFileType is 408 bytes");
static_assert(offsetof(VstMidiEvent, midiData) == 24 && offsetof(VstMidiEvent, detune) == 28,
              "MIDI bytes follow the six 32-bit fields");
static_assert(offsetof(VstParameterProperties, displayIndex) == 104 &&
                  offsetof(VstParameterProperties, categoryLabel) == 112,
              "VstParameterProperties field offsets");

#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(VstEvents) == 32 && offsetof(VstEvents, events) == 16, "VstEvents on 64-bit targets");
static_assert(sizeof(VstMidiSysexEvent) == 48, "VstMidiSysexEvent on 64-bit targets");
static_assert(sizeof(VstVariableIo) == 40, "VstVariableIo on 64-bit targets");
#elif INTPTR_MAX == INT32_MAX
static_assert(sizeof(VstEvents) == 16 && offsetof(VstEvents, events) == 8, "VstEvents on 32-bit targets");
static_assert(sizeof(VstMidiSysexEvent) == 32, "VstMidiSysexEvent on 32-bit targets");
static_assert(sizeof(VstVariableIo) == 24, "VstVariableIo on 32-bit targets");
#endif
