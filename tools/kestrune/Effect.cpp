#include "Effect.h"

#include "ToolError.h"

#include "AEffectX.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace kestrune
{

std::shared_ptr<khost::PluginModule> loadModule(const std::string& path)
{
    if (!path.empty())
        return khost::PluginModule::load(path);
    std::vector<std::filesystem::path> candidates = {KESTRUNE_BUILT_MODULE};
    if (const char* vstPath = std::getenv("VST_PATH"); vstPath != nullptr && *vstPath != 0)
    {
        std::istringstream list(vstPath);
        for (std::string folder; std::getline(list, folder, ':');)
            candidates.push_back(std::filesystem::path(folder) / "Kestrune.so");
    }
    else
    {
        if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0)
            candidates.push_back(std::string(home) + "/.vst/Kestrune.so");
        candidates.insert(candidates.end(), {"/usr/local/lib/vst/Kestrune.so", "/usr/lib/vst/Kestrune.so"});
    }
    std::string tried;
    for (const std::filesystem::path& candidate : candidates)
    {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return khost::PluginModule::load(candidate.string());
        tried += (tried.empty() ? "" : ", ") + candidate.string();
    }
    throw ToolError("no Kestrune module found (looked for " + tried + "); build it or give --plugin PATH");
}

Effect::Effect(std::shared_ptr<khost::PluginModule> module) : PluginInstance(module), m_module(module)
{
    if (numInputs() < 2 || numInputs() > 4 || numOutputs() != 2)
        throw ToolError(module->path() + ": the effect has " + std::to_string(numInputs()) + " inputs and " +
                        std::to_string(numOutputs()) + " outputs; kestrune drives effects with 2, 3 or 4 inputs "
                        "and 2 outputs");
    open();

    m_kestruneParameters = numParameters() >= VAZiro::kNumParameters;
    for (int index = 0; m_kestruneParameters && index < VAZiro::kNumParameters; ++index)
        m_kestruneParameters = parameterName(index) == VAZiro::kParameterInfo[index].name;
}

std::string Effect::name()
{
    const std::string own = queryText(effGetEffectName);
    return own.empty() ? std::filesystem::path(m_module->path()).filename().string() : own;
}

}  // namespace kestrune
