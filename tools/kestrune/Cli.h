// The command line of kestrune: subcommands, their options with units and ranges, and the turning
// of parameter options into the normalised values the effect takes.
#pragma once

#include "Effect.h"

#include "KestruneParameters.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace kestrune
{

// Parameters as given: engineering values by table index (the sidechain switch is not among them;
// --sidechain sets it) and NAME=VALUE assignments of normalised values, in order.
struct ParameterOptions
{
    std::optional<float> engineering[VAZiro::kNumParameters];
    std::vector<std::string> assignments;
};

struct InfoOptions
{
    std::string plugin;
};

struct RenderOptions
{
    std::string input;
    std::string output;
    std::string sidechain;
    std::string plot;
    std::string format;
    ParameterOptions parameters;
    int blockSize = 512;
    std::string plugin;
    bool quiet = false;
};

struct CurveOptions
{
    std::string output;
    ParameterOptions parameters;
    std::string plugin;
    bool quiet = false;
};

struct DemoOptions
{
    std::string folder = "demo-out";
    std::string plugin;
    bool quiet = false;
};

enum class Command
{
    Info,
    Render,
    Plot,
    Curve,
    Demo
};

class CommandLine
{
public:
    CommandLine();

    // Parses the arguments. Returns true when a command is to run; false when --help or --version
    // was answered. Throws UsageError for anything the command line gets wrong that can be told
    // without loading the plug-in or reading a file.
    bool parse(int argc, char** argv);

    Command command() const { return m_command; }
    const InfoOptions& info() const { return m_info; }
    // `render` and `plot` share one set of options; `plot` leaves output empty and puts its
    // picture in plot.
    const RenderOptions& render() const { return m_render; }
    const CurveOptions& curve() const { return m_curve; }
    const DemoOptions& demo() const { return m_demo; }

private:
    struct ParameterFlags
    {
        float values[VAZiro::kNumParameters] = {};
        CLI::Option* options[VAZiro::kNumParameters] = {};
        std::vector<std::string> assignments;
    };

    void addParameterOptions(CLI::App& command, ParameterFlags& flags);
    static ParameterOptions collect(const ParameterFlags& flags);

    CLI::App m_app;
    CLI::App* m_infoCommand = nullptr;
    CLI::App* m_renderCommand = nullptr;
    CLI::App* m_plotCommand = nullptr;
    CLI::App* m_curveCommand = nullptr;
    CLI::App* m_demoCommand = nullptr;
    ParameterFlags m_renderFlags;
    ParameterFlags m_plotFlags;
    ParameterFlags m_curveFlags;
    RenderOptions m_plotOptions;
    Command m_command = Command::Info;
    InfoOptions m_info;
    RenderOptions m_render;
    CurveOptions m_curve;
    DemoOptions m_demo;
};

// The normalised settings for an effect: the engineering options through the inverse mappings
// (only for an effect with Kestrune's parameters), "use SC" switched on when sidechainKeyed and
// the effect has that parameter, then the assignments by name. Throws UsageError for engineering
// options on another effect and for an unknown parameter name.
std::vector<ParameterSetting> resolveParameters(const ParameterOptions& options, Effect& effect, bool sidechainKeyed);

}  // namespace kestrune
