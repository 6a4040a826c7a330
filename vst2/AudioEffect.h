// The base effect: owns the record handed to the host, turns opcodes 0..24 into virtual calls and
// gives every operation a default, so a product class overrides only what it supports.
#pragma once

#include "AEffEditor.h"
#include "AEffect.h"

class AudioEffect
{
public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();

    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}

    virtual void setSampleRate(float sampleRate) { this->sampleRate = sampleRate; }
    virtual void setBlockSize(VstInt32 blockSize) { this->blockSize = blockSize; }

    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/, VstInt32 /*sampleFrames*/) {}

    virtual void setParameter(VstInt32 /*index*/, float /*value*/) {}
    virtual float getParameter(VstInt32 /*index*/) { return 0.0f; }
    virtual void setParameterAutomated(VstInt32 index, float value);

    virtual VstInt32 getProgram() { return curProgram; }
    virtual void setProgram(VstInt32 program) { curProgram = program; }
    virtual void setProgramName(char* /*name*/) {}
    virtual void getProgramName(char* name) { writeEmpty(name); }
    virtual void getParameterLabel(VstInt32 /*index*/, char* label) { writeEmpty(label); }
    virtual void getParameterDisplay(VstInt32 /*index*/, char* text) { writeEmpty(text); }
    virtual void getParameterName(VstInt32 /*index*/, char* text) { writeEmpty(text); }
    virtual VstInt32 getChunk(void** /*data*/, bool /*isPreset*/ = false) { return 0; }
    virtual VstInt32 setChunk(void* /*data*/, VstInt32 /*byteSize*/, bool /*isPreset*/ = false) { return 0; }

    virtual void setUniqueID(VstInt32 iD) { cEffect.uniqueID = iD; }
    virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    virtual void canProcessReplacing(bool state = true) { setFlag(effFlagsCanReplacing, state); }
    virtual void canDoubleReplacing(bool state = true) { setFlag(effFlagsCanDoubleReplacing, state); }
    virtual void programsAreChunks(bool state = true) { setFlag(effFlagsProgramChunks, state); }
    virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }

    virtual AEffEditor* getEditor() { return editor; }
    virtual AEffect* getAeffect() { return &cEffect; }
    virtual float getSampleRate() { return sampleRate; }
    virtual VstInt32 getBlockSize() { return blockSize; }

    // Host services of the base interface.
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();

    // Value-to-text conversions for the host's fixed-width displays (maxLen characters).
    virtual void dB2string(float value, char* text, VstInt32 maxLen);
    virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    virtual void float2string(float value, char* text, VstInt32 maxLen);
    virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);

    // Kept for hosts of older interface versions.
    virtual void __processDeprecated(float** /*inputs*/, float** /*outputs*/, VstInt32 /*sampleFrames*/) {}
    virtual float __getVuDeprecated() { return 0.0f; }
    virtual void __hasVuDeprecated(bool state = true) { setFlag(__effFlagsHasVuDeprecated, state); }
    virtual void __hasClipDeprecated(bool state = true) { setFlag(__effFlagsHasClipDeprecated, state); }
    virtual void __canMonoDeprecated(bool state = true) { setFlag(__effFlagsCanMonoDeprecated, state); }
    virtual void __setRealtimeQualitiesDeprecated(VstInt32 qualities) { cEffect.__realQualitiesDeprecated = qualities; }
    virtual void __setOfflineQualitiesDeprecated(VstInt32 qualities) { cEffect.__offQualitiesDeprecated = qualities; }
    virtual bool __isInputConnectedDeprecated(VstInt32 input);
    virtual bool __isOutputConnectedDeprecated(VstInt32 output);

    // Takes ownership of the editor; sets or clears effFlagsHasEditor to match.
    void setEditor(AEffEditor* editor);

protected:
    // The record's function pointers: each recovers the object from the record's object field.
    static VstIntPtr dispatchEffectClass(AEffect* e, VstInt32 opCode, VstInt32 index, VstIntPtr value,
                                         void* ptr, float opt);
    static float getParameterClass(AEffect* e, VstInt32 index);
    static void setParameterClass(AEffect* e, VstInt32 index, float value);
    static void __processClassDeprecated(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames);
    static void processClassReplacing(AEffect* e, float** inputs, float** outputs, VstInt32 sampleFrames);
    static void processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs,
                                            VstInt32 sampleFrames);

    // Host-facing texts are only written through a valid pointer.
    static void writeEmpty(char* text)
    {
        if (text != nullptr)
            text[0] = 0;
    }

    void setFlag(VstInt32 bit, bool state)
    {
        if (state)
            cEffect.flags |= bit;
        else
            cEffect.flags &= ~bit;
    }

    audioMasterCallback audioMaster;
    AEffEditor* editor;
    float sampleRate;
    VstInt32 blockSize;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram;
    AEffect cEffect;
};
