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
}  // namespace

KestruneProgram::KestruneProgram()
    : m_attack(parameterDefault(kAttack)),
      m_release(parameterDefault(kRelease)),
      m_ratio(parameterDefault(kRatio)),
      m_useSidechain(parameterDefault(kUseSidechain)),
      m_threshold(parameterDefault(kThreshold)),
      m_makeup(parameterDefault(kMakeup))
{
    vst_strncpy(m_name, kInitName, kVstMaxProgNameLen - 1);
}

Kestrune::Kestrune(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, 1, kNumParameters),
      m_numInputs(4),
      m_numOutputs(2),
      m_compressor(new BLSimpleComp()),
      m_programs(new KestruneProgram[numPrograms]),
      m_attack(parameterDefault(kAttack)),
      m_release(parameterDefault(kRelease)),
      m_ratio(parameterDefault(kRatio)),
      m_useSidechain(parameterDefault(kUseSidechain)),
      m_threshold(parameterDefault(kThreshold)),
      m_makeup(parameterDefault(kMakeup))
{
    if (m_programs != nullptr)
        setProgram(0);
    setNumInputs(m_numInputs);
    setNumOutputs(m_numOutputs);
    setUniqueID(fourCharId('B', 'R', 'L', 'A'));
    canProcessReplacing(true);
}

Kestrune::~Kestrune()
{
    delete m_compressor;
    delete[] m_programs;
}

// --- life cycle ---------------------------------------------------------------------------------

void Kestrune::resume()
{
    AudioEffectX::resume();
    if (m_compressor != nullptr)
        m_compressor->initRuntime();
}

void Kestrune::setSampleRate(float sampleRate)
{
    // The compressor's coefficients need a finite positive rate; anything else keeps the old one.
    if (!(std::isfinite(sampleRate) && sampleRate > 0.0f))
        return;
    AudioEffectX::setSampleRate(sampleRate);
    if (m_compressor != nullptr)
        m_compressor->setSampleRate(sampleRate);
}

// --- audio --------------------------------------------------------------------------------------

void Kestrune::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames)
{
    if (m_compressor == nullptr || sampleFrames <= 0 || inputs == nullptr || outputs == nullptr)
        return;
    // Read once per block: a change from another thread applies from the next block.
    const bool keyedBySidechain = useSidechain;
    const double gain = dB2lin(makeup);

    float* in1 = inputs[0];
    float* in2 = inputs[1];
    float* out1 = outputs[0];
    float* out2 = outputs[1];
    if (in1 == nullptr || in2 == nullptr || out1 == nullptr || out2 == nullptr)
        return;
    BLSimpleComp& compressor = *m_compressor;

    // Every read of a frame comes before its writes, so outputs may alias inputs.
    if (keyedBySidechain)
    {
        float* sc1 = inputs[2];
        float* sc2 = inputs[3];
        if (sc1 == nullptr || sc2 == nullptr)
            return;
        for (VstInt32 frame = 0; frame < sampleFrames; frame++)
        {
            double left = in1[frame];
            double right = in2[frame];
            double keyLeft = sc1[frame];
            double keyRight = sc2[frame];
            compressor.process(left, right, keyLeft, keyRight);
            out1[frame] = static_cast<float>(left * gain);
            out2[frame] = static_cast<float>(right * gain);
        }
    }
    else
    {
        for (VstInt32 frame = 0; frame < sampleFrames; frame++)
        {
            double left = in1[frame];
            double right = in2[frame];
            compressor.process(left, right);
            out1[frame] = static_cast<float>(left * gain);
            out2[frame] = static_cast<float>(right * gain);
        }
    }
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

    switch (index)
    {
    case kAttack: setAttack(value); break;
    case kRelease: setRelease(value); break;
    case kRatio: setRatio(value); break;
    case kUseSidechain: setUseSidechain(value); break;
    case kThreshold: setThreshold(value); break;
    case kMakeup: setMakeup(value); break;
    }
}

float Kestrune::getParameter(VstInt32 index)
{
    switch (index)
    {
    case kAttack: return m_attack;
    case kRelease: return m_release;
    case kRatio: return m_ratio;
    case kUseSidechain: return m_useSidechain;
    case kThreshold: return m_threshold;
    case kMakeup: return m_makeup;
    default: return 0.0f;
    }
}

// A parameter change edits the current program, so the record always holds the live settings.
void Kestrune::setAttack(float value)
{
    m_attack = currentProgram()->m_attack = value;
    attack = attackFromNormalised(value);
    if (m_compressor != nullptr)
        m_compressor->setAttackTime(attack);
}

void Kestrune::setRelease(float value)
{
    m_release = currentProgram()->m_release = value;
    release = releaseFromNormalised(value);
    if (m_compressor != nullptr)
        m_compressor->setReleaseTime(release);
}

void Kestrune::setRatio(float value)
{
    m_ratio = currentProgram()->m_ratio = value;
    ratio = ratioFromNormalised(value);
    // The compressor holds the slope of the curve above the threshold, 1/R.
    if (m_compressor != nullptr)
        m_compressor->setRatio(1.0 / static_cast<double>(ratio));
}

void Kestrune::setUseSidechain(float value)
{
    m_useSidechain = currentProgram()->m_useSidechain = value;
    useSidechain = useSidechainFromNormalised(value);
}

void Kestrune::setThreshold(float value)
{
    m_threshold = currentProgram()->m_threshold = value;
    threshold = thresholdFromNormalised(value);
    if (m_compressor != nullptr)
        m_compressor->setThreshold(threshold);
}

void Kestrune::setMakeup(float value)
{
    m_makeup = currentProgram()->m_makeup = value;
    makeup = makeupFromNormalised(value);
}

// --- programs -----------------------------------------------------------------------------------

void Kestrune::setProgram(VstInt32 program)
{
    if (program < 0 || program >= numPrograms)
        return;
    curProgram = program;
    const KestruneProgram& stored = m_programs[program];
    const float values[kNumParameters] = {stored.m_attack, stored.m_release, stored.m_ratio,
                                          stored.m_useSidechain, stored.m_threshold, stored.m_makeup};
    for (VstInt32 index = 0; index < kNumParameters; index++)
        setParameter(index, values[index]);
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
    if (text == nullptr)
        return;
    switch (index)
    {
    case kAttack: float2string(attack, text, kVstMaxParamStrLen); break;
    case kRelease: float2string(release, text, kVstMaxParamStrLen); break;
    case kRatio: float2string(ratio, text, kVstMaxParamStrLen); break;
    case kUseSidechain: vst_strncpy(text, useSidechain ? "true" : "false", kVstMaxParamStrLen); break;
    case kThreshold: float2string(threshold, text, kVstMaxParamStrLen); break;
    case kMakeup: float2string(makeup, text, kVstMaxParamStrLen); break;
    default: break;
    }
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
