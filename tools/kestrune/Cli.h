// The command line of kestrune: subcommands, their options with units and ranges (the parameter
// options come from the plug-in's parameter table), and the turning of parameter options into the
// normalised values the effect takes.
#pragma once

#include "Effect.h"

#include "KestruneParameters.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune
{

// Parameters as given: engineering values by table index (--SYMBOL for each numeric parameter;
// --sidechain sets the switch) and the NAME=VALUE assignments of normalised values, in order.
struct ParameterOptions
{
    std::optional<float> engineering[VAZiro::kNumParameters];
    struct Assignment
    {
        std::string name;
        float value;
        std::string text;  // NAME=VALUE as typed
    };
    std::vector<Assignment> assignments;
};

inline const std::vector<std::string> kCommandNames = {"info", "render", "plot", "curve", "demo"};

// What the command line said; each command reads its part.
struct Options
{
    std::string command;  // one of kCommandNames
    std::string plugin;   // --plugin, empty for the default module
    bool quiet = false;
    std::string input;
    std::string sidechain;
    std::string output;   // render: the audio file, "-" for standard output
    std::string type;     // -t: the output's format by its usual extension, e.g. "wav"
    std::string picture;  // render --plot, plot -o, curve -o: PNG, SVG or PDF
    std::string data;     // --data: the numbers behind the picture as CSV
    std::string size;     // --size: the picture's WIDTHxHEIGHT in pixels, empty for the default
    bool keepPartial = false;  // --keep-partial: write what arrived of an input cut short
    double start = 0.0;   // --start and --end: the stretch drawn, in seconds; end < 0 for the end
    double end = -1.0;
    std::string format;
    std::string folder = "demo-out";
    int blockSize = 512;
    ParameterOptions parameters;
    // The numeric options as typed, by name ("--threshold" -> "-120.00001"): messages show what the
    // user wrote, not the number it became.
    std::map<std::string, std::string> typed;
};

// What the user typed for a numeric option, or value written out when the option was not given.
std::string typedValue(const Options& options, const std::string& option, double value);

// Returns the options, or nothing when --help or --version was answered. Throws UsageError for
// anything the command line gets wrong that can be told without loading the plug-in or a file.
std::optional<Options> parseCommandLine(int argc, char** argv);

// The normalised settings for an effect: the engineering options through the inverse mappings
// (only for an effect with Kestrune's parameters), "use SC" switched on when sidechainKeyed and
// the effect has that parameter, then the assignments by name. Throws UsageError for engineering
// options on another effect and for an unknown parameter name.
std::vector<ParameterSetting> resolveParameters(const ParameterOptions& options, Effect& effect, bool sidechainKeyed);

}  // namespace kestrune
