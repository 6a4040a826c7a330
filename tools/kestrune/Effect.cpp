#include "Effect.h"

#include "KestruneParameters.h"
#include "ToolError.h"

#include "AEffectX.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <iterator>
#include <ostream>
#include <sstream>
#include <utility>

namespace kestrune
{

namespace
{

std::string defaultModulePath()
{
    std::vector<std::filesystem::path> candidates = {KESTRUNE_BUILT_MODULE};
    std::vector<std::string> folders;
    if (const char* vstPath = std::getenv("VST_PATH"); vstPath != nullptr && *vstPath != 0)
    {
        std::istringstream list(vstPath);
        for (std::string folder; std::getline(list, folder, ':');)
            folders.push_back(folder);
    }
    else
    {
        if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
            folders.push_back(std::string(home) + "/.vst");
        folders.insert(folders.end(), {"/usr/local/lib/vst", "/usr/lib/vst"});
    }
    std::string tried;
    for (const std::string& folder : folders)
        candidates.push_back(std::filesystem::path(folder) / "Kestrune.so");
    for (const std::filesystem::path& candidate : candidates)
    {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
        tried += (tried.empty() ? "" : ", ") + candidate.string();
    }
    throw ToolError("no Kestrune module found (looked for " + tried + "); build it or give --plugin PATH");
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
    if (category >= 0 && category < static_cast<VstIntPtr>(std::size(names)))
        return names[category];
    return "not a known category";
}

std::string flagNames(VstInt32 flags)
{
    static const std::pair<VstInt32, const char*> known[] = {
        {effFlagsHasEditor, "editor"},           {effFlagsCanReplacing, "replacing"},
        {effFlagsProgramChunks, "program chunks"}, {effFlagsIsSynth, "instrument"},
        {effFlagsNoSoundInStop, "no sound in stop"}, {effFlagsCanDoubleReplacing, "double replacing"},
    };
    std::string names;
    for (const auto& [bit, name] : known)
    {
        if ((flags & bit) != 0)
            names += (names.empty() ? "" : ", ") + std::string(name);
    }
    return names.empty() ? "none" : names;
}

}  // namespace

std::string formatValue(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

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
    if (inputs < 2 || inputs > 4 || outputs != 2)
        throw ToolError(modulePath() + ": the effect has " + std::to_string(inputs) + " inputs and " +
                        std::to_string(outputs) + " outputs; kestrune drives effects with 2, 3 or 4 inputs and 2 "
                        "outputs");
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
    const std::string own = m_instance.queryText(effGetEffectName);
    return own.empty() ? std::filesystem::path(modulePath()).filename().string() : own;
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
    line("Effect", effect.queryText(effGetEffectName));
    line("Vendor", effect.queryText(effGetVendorString));
    line("Product", effect.queryText(effGetProductString));
    line("Vendor version", std::to_string(effect.dispatch(effGetVendorVersion)));
    line("Category", std::to_string(category) + " (" + categoryName(category) + ")");
    line("Unique ID", characters.empty() ? std::string(hexId) : "'" + characters + "' (" + hexId + ")");
    const char* const layouts[] = {" (main L/R)", " (main L/R, mono sidechain)", " (main L/R, sidechain L/R)"};
    line("Inputs", std::to_string(effect.numInputs()) + layouts[effect.numInputs() - 2]);
    line("Outputs", std::to_string(effect.numOutputs()));
    line("Flags", std::to_string(effect.flags()) + " (" + flagNames(effect.flags()) + ")");
    line("Programs", std::to_string(effect.numPrograms()) + ", current: " + effect.queryText(effGetProgramName));
    line("Parameters", std::to_string(effect.numParameters()));

    out << '\n'
        << "  " << std::setw(7) << "Index" << std::setw(10) << "Name" << std::setw(7) << "Label"
        << std::setw(12) << "Default" << std::setw(12) << "Normalised" << (m_kestruneParameters ? "Range" : "")
        << '\n';
    for (VstInt32 index = 0; index < effect.numParameters(); ++index)
    {
        out << "  " << std::setw(7) << index << std::setw(10) << effect.parameterName(index) << std::setw(7)
            << effect.parameterLabel(index) << std::setw(12) << effect.parameterDisplay(index) << std::setw(12)
            << formatValue(effect.getParameter(index));
        if (m_kestruneParameters && index < VAZiro::kNumParameters)
        {
            const VAZiro::KestruneParameterInfo& info = VAZiro::kParameterInfo[index];
            if (info.kind == VAZiro::ParameterKind::Switch)
                out << "off below 0.5, on from 0.5";
            else
                out << formatValue(info.minimum) << " .. " << formatValue(info.maximum)
                    << (info.label != nullptr ? std::string(" ") + info.label : std::string());
        }
        out << '\n';
    }
}

}  // namespace kestrune
