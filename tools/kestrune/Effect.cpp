#include "Effect.h"

#include "Process.h"
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
    // Only places as trusted as the program itself, then the user's and the system's: whoever can
    // put a module beside the program or in its prefix can replace the program too. A module
    // beside it is how the build tree's program finds the module of its build.
    const std::filesystem::path folder = programFolder();
    const std::filesystem::path installed = KESTRUNE_INSTALLED_VST_DIR;
    std::vector<std::filesystem::path> candidates = {
        folder / "Kestrune.so",
        (installed.is_absolute() ? installed : folder.parent_path() / installed) / "Kestrune.so"};
    if (const char* vstPath = std::getenv("VST_PATH"); vstPath != nullptr && *vstPath != 0)
    {
        std::istringstream list(vstPath);
        for (std::string entry; std::getline(list, entry, ':');)
            candidates.push_back(std::filesystem::path(entry) / "Kestrune.so");
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
