#include "Effect.h"

#include "KestruneParameters.h"
#include "ToolError.h"

#include "AEffectX.h"

#include <sys/stat.h>

#include <cstdio>
#include <iomanip>
#include <ostream>

namespace kestrune
{

namespace
{

bool fileExists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string defaultModulePath()
{
    // The module of the same build, then the one `cmake --install` put in place.
    for (const char* candidate : {KESTRUNE_BUILT_MODULE, KESTRUNE_INSTALLED_MODULE})
    {
        if (fileExists(candidate))
            return candidate;
    }
    throw ToolError(std::string("no Kestrune module found at ") + KESTRUNE_BUILT_MODULE + " or " +
                    KESTRUNE_INSTALLED_MODULE + "; build it or give --plugin PATH");
}

std::string text(khost::PluginInstance& instance, VstInt32 opcode, VstInt32 index = 0)
{
    // Effects write past the interface's limits often enough that hosts pass a roomy buffer.
    char buffer[256] = {};
    instance.dispatch(opcode, index, 0, buffer);
    buffer[sizeof buffer - 1] = 0;
    return buffer;
}

std::string fourCharacters(VstInt32 id)
{
    std::string characters;
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        const char c = static_cast<char>((static_cast<std::uint32_t>(id) >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E)
            return std::string();
        characters += c;
    }
    return characters;
}

std::string categoryName(VstIntPtr category)
{
    static const char* const names[] = {"unknown", "effect", "instrument", "analysis", "mastering",
                                        "spatialiser", "room effect", "surround effect", "restoration",
                                        "offline process", "shell", "generator"};
    if (category >= 0 && category < static_cast<VstIntPtr>(sizeof names / sizeof names[0]))
        return names[category];
    return "not a known category";
}

std::string flagNames(VstInt32 flags)
{
    struct Flag
    {
        VstInt32 bit;
        const char* name;
    };
    static const Flag known[] = {
        {effFlagsHasEditor, "editor"},           {effFlagsCanReplacing, "replacing"},
        {effFlagsProgramChunks, "program chunks"}, {effFlagsIsSynth, "instrument"},
        {effFlagsNoSoundInStop, "no sound in stop"}, {effFlagsCanDoubleReplacing, "double replacing"},
    };
    std::string names;
    for (const Flag& flag : known)
    {
        if ((flags & flag.bit) != 0)
            names += (names.empty() ? "" : ", ") + std::string(flag.name);
    }
    return names.empty() ? "none" : names;
}

std::string formatFloat(float value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(value));
    return buffer;
}

}  // namespace

std::shared_ptr<khost::PluginModule> loadModule(const std::string& path)
{
    try
    {
        return khost::PluginModule::load(path.empty() ? defaultModulePath() : path);
    }
    catch (const khost::HostError& error)
    {
        throw ToolError(error.what());
    }
}

Effect::Effect(std::shared_ptr<khost::PluginModule> module) try : m_module(module), m_instance(module)
{
    const VstInt32 inputs = m_instance.numInputs();
    const VstInt32 outputs = m_instance.numOutputs();
    if ((inputs != 2 && inputs != 4) || outputs != 2)
        throw ToolError(modulePath() + ": the effect has " + std::to_string(inputs) + " inputs and " +
                        std::to_string(outputs) + " outputs; kestrune drives effects with 2 or 4 inputs and 2 outputs");
    m_instance.open();

    m_kestruneParameters = m_instance.numParameters() >= VAZiro::kNumParameters;
    for (int index = 0; m_kestruneParameters && index < VAZiro::kNumParameters; ++index)
        m_kestruneParameters = m_instance.parameterName(index) == VAZiro::kParameterInfo[index].name;
}
catch (const khost::HostError& error)
{
    throw ToolError(error.what());
}

std::string Effect::name()
{
    const std::string own = text(m_instance, effGetEffectName);
    if (!own.empty())
        return own;
    const std::size_t slash = modulePath().find_last_of('/');
    return slash == std::string::npos ? modulePath() : modulePath().substr(slash + 1);
}

VstInt32 Effect::findParameter(const std::string& name)
{
    for (VstInt32 index = 0; index < m_instance.numParameters(); ++index)
    {
        if (m_instance.parameterName(index) == name)
            return index;
    }
    return -1;
}

void Effect::apply(const std::vector<ParameterSetting>& settings)
{
    for (const ParameterSetting& setting : settings)
        m_instance.setParameter(setting.index, setting.value);
}

float Effect::engineering(int tableIndex) const
{
    return VAZiro::engineeringFromNormalised(tableIndex, m_instance.getParameter(tableIndex));
}

void Effect::start(float sampleRate, VstInt32 blockSize)
{
    m_instance.setSampleRate(sampleRate);
    m_instance.setBlockSize(blockSize);
    m_instance.resume();
}

void Effect::restart()
{
    m_instance.suspend();
    m_instance.resume();
}

void Effect::describe(std::ostream& out)
{
    khost::PluginInstance& effect = m_instance;
    const VstInt32 id = effect.uniqueId();
    char hexId[16];
    std::snprintf(hexId, sizeof hexId, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(id)));
    const std::string characters = fourCharacters(id);
    const VstIntPtr category = effect.dispatch(effGetPlugCategory);

    const auto line = [&out](const char* key, const std::string& value) {
        out << std::left << std::setw(16) << key << value << '\n';
    };
    line("Module", modulePath());
    line("Effect", text(effect, effGetEffectName));
    line("Vendor", text(effect, effGetVendorString));
    line("Product", text(effect, effGetProductString));
    line("Vendor version", std::to_string(effect.dispatch(effGetVendorVersion)));
    line("Category", std::to_string(category) + " (" + categoryName(category) + ")");
    line("Unique ID", characters.empty() ? std::string(hexId) : "'" + characters + "' (" + hexId + ")");
    line("Inputs", std::to_string(effect.numInputs()) + (hasSidechainInputs() ? " (main L/R, sidechain L/R)" : ""));
    line("Outputs", std::to_string(effect.numOutputs()));
    line("Flags", std::to_string(effect.flags()) + " (" + flagNames(effect.flags()) + ")");
    line("Programs", std::to_string(effect.numPrograms()) + ", current: " + text(effect, effGetProgramName));
    line("Parameters", std::to_string(effect.numParameters()));

    out << '\n'
        << "  " << std::setw(7) << "Index" << std::setw(10) << "Name" << std::setw(7) << "Label"
        << std::setw(12) << "Default" << std::setw(12) << "Normalised" << (m_kestruneParameters ? "Range" : "")
        << '\n';
    for (VstInt32 index = 0; index < effect.numParameters(); ++index)
    {
        out << "  " << std::setw(7) << index << std::setw(10) << effect.parameterName(index) << std::setw(7)
            << effect.parameterLabel(index) << std::setw(12) << effect.parameterDisplay(index) << std::setw(12)
            << formatFloat(effect.getParameter(index));
        if (m_kestruneParameters && index < VAZiro::kNumParameters)
        {
            const VAZiro::KestruneParameterInfo& info = VAZiro::kParameterInfo[index];
            if (index == VAZiro::kUseSidechain)
                out << "off below 0.5, on from 0.5";
            else
                out << formatFloat(info.minimum) << " .. " << formatFloat(info.maximum)
                    << (info.label != nullptr ? std::string(" ") + info.label : std::string());
        }
        out << '\n';
    }
}

}  // namespace kestrune
