// Kestrune: a stereo, feed-forward, hard-knee peak compressor keyed by the main pair or by a
// sidechain pair. Four inputs (main L/R, sidechain L/R), two outputs, one program, six parameters.
#pragma once

#include "AudioEffectX.h"
#include "BLSimpleComp.h"
#include "KestruneParameters.h"

namespace VAZiro
{

// One stored program: its name and the six normalised parameter values.
class KestruneProgram
{
public:
    KestruneProgram();
    ~KestruneProgram() {}

    char m_name[kVstMaxProgNameLen];
    float m_attack;
    float m_release;
    float m_ratio;
    float m_useSidechain;
    float m_threshold;
    float m_makeup;
};

class Kestrune : public AudioEffectX
{
public:
    explicit Kestrune(audioMasterCallback audioMaster);
    ~Kestrune() override;

    void resume() override;
    void setSampleRate(float sampleRate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void setProgram(VstInt32 program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstPlugCategory getPlugCategory() override;

protected:
    // Each takes a normalised value already checked at the door (0..1, not NaN).
    void setAttack(float value);
    void setRelease(float value);
    void setRatio(float value);
    void setUseSidechain(float value);
    void setThreshold(float value);
    void setMakeup(float value);

private:
    KestruneProgram* currentProgram() { return &m_programs[curProgram]; }
    bool isParameterIndex(VstInt32 index) const { return index >= 0 && index < kNumParameters; }

    VstInt32 m_numInputs;
    VstInt32 m_numOutputs;
    BLSimpleComp* m_compressor;
    KestruneProgram* m_programs;

    // Normalised values as last set; getParameter returns these.
    float m_attack;
    float m_release;
    float m_ratio;
    float m_useSidechain;
    float m_threshold;
    float m_makeup;

    // Engineering values: ms, ms, R of R:1, switch, dB, dB.
    float attack;
    float release;
    float ratio;
    bool useSidechain;
    float threshold;
    float makeup;
};

}  // namespace VAZiro
