// An effect as kestrune drives it: loaded through the host library, checked for an input/output
// layout kestrune can feed and configured by parameter settings.
#pragma once

#include "KestruneParameters.h"
#include "VstHost.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kestrune
{

// A normalised value for the parameter at index, as the host sends it.
struct ParameterSetting
{
    VstInt32 index;
    float value;
};

// The module `--plugin` names or, when path is empty, the first Kestrune.so beside the program (the
// build tree links its module there), in the program's own installation (<prefix>/lib/vst), in the
// folders of VST_PATH or, without it, in ~/.vst, /usr/local/lib/vst and /usr/lib/vst. Throws
// ToolError when there is none, and the loader's HostError for a module that cannot be loaded.
std::shared_ptr<khost::PluginModule> loadModule(const std::string& path);

// An instance opened on creation. Throws HostError for a record the host library refuses and
// ToolError for a layout other than 2, 3 or 4 inputs with 2 outputs.
class Effect : public khost::PluginInstance
{
public:
    explicit Effect(std::shared_ptr<khost::PluginModule> module);

    const std::shared_ptr<khost::PluginModule>& module() const { return m_module; }
    // The effect's own name (opcode effGetEffectName), or the module's file name when it has none.
    std::string name();

    // Input 3 takes a mono sidechain, or inputs 3 and 4 a stereo one.
    bool hasSidechainInputs() const { return numInputs() > 2; }
    // The first six parameters carry Kestrune's names, so its table of mappings applies to them.
    bool hasKestruneParameters() const { return m_kestruneParameters; }
    void apply(const std::vector<ParameterSetting>& settings)
    {
        for (const ParameterSetting& setting : settings)
            setParameter(setting.index, setting.value);
    }
    // Engineering value of a table parameter as currently set; needs hasKestruneParameters().
    float engineering(int index) const { return VAZiro::engineeringFromNormalised(index, getParameter(index)); }
    // Sets the rate and block size and resumes (the instance is open already).
    void resumeAt(float sampleRate, VstInt32 blockSize)
    {
        setSampleRate(sampleRate);
        setBlockSize(blockSize);
        resume();
    }

private:
    std::shared_ptr<khost::PluginModule> m_module;
    bool m_kestruneParameters = false;
};

// printf's formatting into a string of whatever length it takes: measured first, then written.
template <typename... Values>
std::string printed(const char* format, Values... values)
{
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);  // the last byte written is the string's own 0
    return text;
}

// A number as kestrune prints parameter values and ranges.
inline std::string formatValue(double value)
{
    return printed("%g", value);
}

}  // namespace kestrune
