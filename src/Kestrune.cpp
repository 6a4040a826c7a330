#include "Kestrune.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace VAZiro
{

namespace
{
const char kInitName[] = "init";
constexpr VstInt32 kVendorVersion = 64;

// The program field of each parameter.
using ProgramField = std::atomic<float> KestruneProgram::*;
constexpr auto kProgramFields = byParameter<ProgramField>({{kAttack, &KestruneProgram::m_attack},
                                                           {kRelease, &KestruneProgram::m_release},
                                                           {kRatio, &KestruneProgram::m_ratio},
                                                           {kUseSidechain, &KestruneProgram::m_useSidechain},
                                                           {kThreshold, &KestruneProgram::m_threshold},
                                                           {kMakeup, &KestruneProgram::m_makeup}});
}  // namespace

KestruneProgram::KestruneProgram()
{
    vst_strncpy(m_name, kInitName, kVstMaxProgNameLen - 1);
    for (int index = 0; index < kNumParameters; index++)
        (this->*kProgramFields[index]).store(parameterDefault(index), std::memory_order_relaxed);
}

Kestrune::Kestrune(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParameters),
      m_numInputs(4),
      m_numOutputs(2),
      m_compressor(new BLSimpleComp()),
      m_programs(new KestruneProgram[numPrograms]),
      m_compressorSampleRate(sampleRate),
      m_resumeRequests(0),
      m_block(nullptr),
      m_resumesApplied(0)
{
    for (VstInt32 index = 0; index < kNumParameters; index++)
        normalisedField(index).store(parameterDefault(index), std::memory_order_relaxed);
    if (m_programs != nullptr)
        setProgram(0);
    // No audio thread runs yet: the compressor takes program 0's settings here, at once.
    m_block = new KestruneBlockState(*m_compressor, snapshot(), sampleRate);
    setNumInputs(m_numInputs);
    setNumOutputs(m_numOutputs);
    setUniqueID(fourCharId('B', 'R', 'L', 'A'));
    canProcessReplacing(true);
}

Kestrune::~Kestrune()
{
    delete m_block;
    delete m_compressor;
    delete[] m_programs;
}

// --- life cycle ---------------------------------------------------------------------------------

// Hosts may call resume and setSampleRate while another thread processes: both only leave a note
// that the audio thread acts on at the start of its next block.
void Kestrune::resume()
{
    AudioEffectX::resume();
    m_resumeRequests.fetch_add(1, std::memory_order_relaxed);
}

void Kestrune::setSampleRate(float sampleRate)
{
    // The compressor's coefficients need a finite positive rate; anything else keeps the old one.
    if (!(std::isfinite(sampleRate) && sampleRate > 0.0f))
        return;
    AudioEffectX::setSampleRate(sampleRate);
    m_compressorSampleRate.store(sampleRate, std::memory_order_relaxed);
}

// --- audio --------------------------------------------------------------------------------------

KestruneSettings Kestrune::snapshot() const
{
    constexpr auto relaxed = std::memory_order_relaxed;
    return settingsOf(attack.load(relaxed), release.load(relaxed), ratio.load(relaxed), useSidechain.load(relaxed),
                      threshold.load(relaxed), makeup.load(relaxed));
}

void Kestrune::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (m_compressor == nullptr || sampleFrames <= 0 || inputs == nullptr || outputs == nullptr)
        return;
    float* in1 = inputs[0];
    float* in2 = inputs[1];
    float* out1 = outputs[0];
    float* out2 = outputs[1];
    if (in1 == nullptr || in2 == nullptr || out1 == nullptr || out2 == nullptr)
        return;

    // One picture of the settings for the whole block; a change made meanwhile waits for the next.
    const KestruneSettings settings = snapshot();
    if (settings.useSidechain && (inputs[2] == nullptr || inputs[3] == nullptr))
        return;
    m_block->update(settings, m_compressorSampleRate.load(std::memory_order_relaxed));
    const unsigned resumes = m_resumeRequests.load(std::memory_order_relaxed);
    if (resumes != m_resumesApplied)
    {
        m_resumesApplied = resumes;
        m_compressor->initRuntime();
    }
    processKestruneBlock(*m_block, in1, in2, inputs[2], inputs[3], out1, out2, sampleFrames);
}

// --- parameters ---------------------------------------------------------------------------------

void Kestrune::setParameter(VstInt32 index, float value)
{
    // Checked once here: the setters and the compressor only ever see 0..1.
    if (!isParameterIndex(index) || std::isnan(value))
        return;
    if (value < 0.0f)
        value = 0.0f;
    else if (value > 1.0f)
        value = 1.0f;

    using Setter = void (Kestrune::*)(float);
    static constexpr auto kSetters = byParameter<Setter>({{kAttack, &Kestrune::setAttack},
                                                          {kRelease, &Kestrune::setRelease},
                                                          {kRatio, &Kestrune::setRatio},
                                                          {kUseSidechain, &Kestrune::setUseSidechain},
                                                          {kThreshold, &Kestrune::setThreshold},
                                                          {kMakeup, &Kestrune::setMakeup}});
    (this->*kSetters[index])(value);
}

float Kestrune::getParameter(VstInt32 index)
{
    if (!isParameterIndex(index))
        return 0.0f;
    return normalisedField(index).load(std::memory_order_relaxed);
}

std::atomic<float>& Kestrune::normalisedField(VstInt32 index)
{
    using Field = std::atomic<float> Kestrune::*;
    static constexpr auto kFields = byParameter<Field>({{kAttack, &Kestrune::m_attack},
                                                        {kRelease, &Kestrune::m_release},
                                                        {kRatio, &Kestrune::m_ratio},
                                                        {kUseSidechain, &Kestrune::m_useSidechain},
                                                        {kThreshold, &Kestrune::m_threshold},
                                                        {kMakeup, &Kestrune::m_makeup}});
    return this->*kFields[index];
}

// A parameter change edits the current program, so the record always holds the live settings.
void Kestrune::recordNormalised(VstInt32 index, float value)
{
    normalisedField(index).store(value, std::memory_order_relaxed);
    (currentProgram()->*kProgramFields[index]).store(value, std::memory_order_relaxed);
}

void Kestrune::setAttack(float value)
{
    recordNormalised(kAttack, value);
    attack.store(attackFromNormalised(value), std::memory_order_relaxed);
}

void Kestrune::setRelease(float value)
{
    recordNormalised(kRelease, value);
    release.store(releaseFromNormalised(value), std::memory_order_relaxed);
}

void Kestrune::setRatio(float value)
{
    recordNormalised(kRatio, value);
    ratio.store(ratioFromNormalised(value), std::memory_order_relaxed);
}

void Kestrune::setUseSidechain(float value)
{
    recordNormalised(kUseSidechain, value);
    useSidechain.store(useSidechainFromNormalised(value), std::memory_order_relaxed);
}

void Kestrune::setThreshold(float value)
{
    recordNormalised(kThreshold, value);
    threshold.store(thresholdFromNormalised(value), std::memory_order_relaxed);
}

void Kestrune::setMakeup(float value)
{
    recordNormalised(kMakeup, value);
    makeup.store(makeupFromNormalised(value), std::memory_order_relaxed);
}

// --- programs -----------------------------------------------------------------------------------

void Kestrune::setProgram(VstInt32 program)
{
    if (program < 0 || program >= numPrograms)
        return;
    // Written only when it changes: setParameter reads it on whatever thread the host automates
    // from, and with a single program it never changes after construction.
    if (curProgram != program)
        curProgram = program;
    const KestruneProgram& stored = m_programs[program];
    for (VstInt32 index = 0; index < kNumParameters; index++)
        setParameter(index, (stored.*kProgramFields[index]).load(std::memory_order_relaxed));
}

void Kestrune::setProgramName(char* name)
{
    if (name == nullptr)
        return;
    vst_strncpy(currentProgram()->m_name, name, kVstMaxProgNameLen - 1);
}

void Kestrune::getProgramName(char* name)
{
    if (name == nullptr)
        return;
    const char* stored = currentProgram()->m_name;
    // The untouched default reads with its number, "init 1".
    if (std::strcmp(stored, kInitName) == 0)
        std::sprintf(name, "%s %d", stored, static_cast<int>(curProgram + 1));
    else
        std::strcpy(name, stored);
}

bool Kestrune::getProgramNameIndexed(VstInt32 /*category*/, VstInt32 index, char* text)
{
    if (text == nullptr || index < 0 || index >= numPrograms)
        return false;
    std::strcpy(text, m_programs[index].m_name);
    return true;
}

// --- presentation -------------------------------------------------------------------------------

void Kestrune::getParameterName(VstInt32 index, char* text)
{
    if (isParameterIndex(index))
        vst_strncpy(text, kParameterInfo[index].name, kVstMaxParamStrLen);
}

void Kestrune::getParameterLabel(VstInt32 index, char* label)
{
    // Ratio and the switch have no unit: the host's buffer stays as it was.
    if (isParameterIndex(index) && kParameterInfo[index].label != nullptr)
        vst_strncpy(label, kParameterInfo[index].label, kVstMaxParamStrLen);
}

void Kestrune::getParameterDisplay(VstInt32 index, char* text)
{
    if (text == nullptr || !isParameterIndex(index))
        return;
    const KestruneParameterInfo& info = kParameterInfo[index];
    const float value = info.fromNormalised(getParameter(index));
    if (info.kind == ParameterKind::Switch)
        vst_strncpy(text, value != 0.0f ? "true" : "false", kVstMaxParamStrLen);
    else
        float2string(value, text, kVstMaxParamStrLen);
}

// --- identity -----------------------------------------------------------------------------------

bool Kestrune::getEffectName(char* name)
{
    if (name == nullptr)
        return false;
    vst_strncpy(name, "Kestrune", kVstMaxEffectNameLen);
    return true;
}

bool Kestrune::getVendorString(char* text)
{
    if (text == nullptr)
        return false;
    vst_strncpy(text, "Brisk Lantern", kVstMaxVendorStrLen);
    return true;
}

bool Kestrune::getProductString(char* text)
{
    if (text == nullptr)
        return false;
    vst_strncpy(text, "Brisk Lantern sidechain compressor", kVstMaxProductStrLen);
    return true;
}

VstInt32 Kestrune::getVendorVersion()
{
    return kVendorVersion;
}

VstPlugCategory Kestrune::getPlugCategory()
{
    return kPlugCategEffect;
}

}  // namespace VAZiro
