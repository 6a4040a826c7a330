// Kestrune: a stereo, feed-forward, hard-knee peak compressor keyed by the main pair or by a
// sidechain pair. Four inputs (main L/R, sidechain L/R), two outputs, one program, six parameters.
#pragma once

#include "AudioEffectX.h"
#include "BLSimpleComp.h"
#include "KestruneBlock.h"
#include "KestruneParameters.h"

#include <atomic>

namespace VAZiro
{

// Values that more than one host thread touches are atomics. Plain loads and stores of them are
// single instructions on every target (checked below); the ordering is relaxed throughout because
// each value stands alone: no other memory is published through it.
static_assert(std::atomic<float>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<unsigned>::is_always_lock_free,
              "the audio thread must never wait for a parameter");

// One stored program: its name and the six normalised parameter values.
class KestruneProgram
{
public:
    KestruneProgram();
    ~KestruneProgram() {}

    char m_name[kVstMaxProgNameLen];
    std::atomic<float> m_attack;
    std::atomic<float> m_release;
    std::atomic<float> m_ratio;
    std::atomic<float> m_useSidechain;
    std::atomic<float> m_threshold;
    std::atomic<float> m_makeup;
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
    std::atomic<float>& normalisedField(VstInt32 index);  // m_attack .. m_makeup
    // Stores a normalised value as the live one and in the current program.
    void recordNormalised(VstInt32 index, float value);
    // The audio thread's picture of the settings at the start of a block.
    KestruneSettings snapshot() const;

    VstInt32 m_numInputs;
    VstInt32 m_numOutputs;
    BLSimpleComp* m_compressor;
    KestruneProgram* m_programs;

    // Normalised values as last set, from any thread; getParameter returns these.
    std::atomic<float> m_attack;
    std::atomic<float> m_release;
    std::atomic<float> m_ratio;
    std::atomic<float> m_useSidechain;
    std::atomic<float> m_threshold;
    std::atomic<float> m_makeup;

    // Engineering values of the same: ms, ms, R of R:1, switch, dB, dB. The audio thread reads
    // them once at the start of each block, so a whole block runs with one value of each.
    std::atomic<float> attack;
    std::atomic<float> release;
    std::atomic<float> ratio;
    std::atomic<bool> useSidechain;
    std::atomic<float> threshold;
    std::atomic<float> makeup;

    // Sample rate for the compressor (Hz) and the number of resume calls so far; the audio thread
    // applies them at the start of its next block.
    std::atomic<float> m_compressorSampleRate;
    std::atomic<unsigned> m_resumeRequests;

    // Audio thread only.
    KestruneBlockState* m_block;
    unsigned m_resumesApplied;
};

}  // namespace VAZiro
