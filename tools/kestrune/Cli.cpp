#include "Cli.h"

#include "AudioFile.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace kestrune
{

namespace
{

using namespace VAZiro;

const char* const kProgramDescription =
    "Runs audio files through the Kestrune sidechain compressor (or another VST 2.4 effect with 2 or 4 inputs "
    "and 2 outputs), loaded from its module exactly as a host loads it.";

const char* const kFooter =
    "Exit codes: 0 success, 1 a file, format or plug-in problem, 2 a mistake on the command line.\n"
    "Run 'kestrune COMMAND --help' for the options of a command.";

const char* const kGainHelp =
    "The gain reduction shown is measured, not computed: a second instance of the effect with the same "
    "settings, 0 dB makeup and the sidechain switched on is keyed by the same key (the sidechain, or the input "
    "itself) while a constant 1.0 runs through its main inputs, so its output is the gain the compressor "
    "applied, sample by sample. For effects without Kestrune's parameters it is estimated as output peak over "
    "input peak wherever the input is above -60 dBFS.";

const char* const kRenderDataHelp =
    "--data writes the numbers behind the picture as CSV: lines '# title: ...', '# settings: ...', "
    "'# threshold_db: ...', '# keyed_by_sidechain: 0|1' and '# gain: probe|ratio|none', then the columns "
    "time_s, input_min, input_max, key_min, key_max, output_min, output_max (peak envelopes per pixel column, "
    "full scale 1.0) and gain_db (the smallest gain in the column, nan where none is known). plot.py, installed "
    "in share/kestrune, draws it: python3 plot.py DATA.csv PICTURE.png.";

const char* const kCurveDataHelp =
    "--data writes the numbers behind the picture as CSV: lines '# title: ...', '# settings: ...' and "
    "'# threshold_db: ...', then the columns input_db, steady_db (output level of the square wave), sine_db "
    "(output peak of the sine) and ideal_db (the hard-knee line, nan for other effects).";

// "attack time in ms": the meaning, with the unit unless it already names it.
std::string meaningWithUnit(const KestruneParameterInfo& info)
{
    const std::string meaning = info.meaning;
    if (*info.unit == 0 || meaning.find(info.unit) != std::string::npos)
        return meaning;
    return meaning + " in " + info.unit;
}

std::string rangeText(const KestruneParameterInfo& info)
{
    return formatValue(info.minimum) + ".." + formatValue(info.maximum);
}

std::string flagOf(const KestruneParameterInfo& info)
{
    return std::string("--") + info.symbol;
}

void addParameterOptions(CLI::App& command, Options& options, std::vector<std::string>& assignments)
{
    for (int index = 0; index < kNumParameters; ++index)
    {
        const KestruneParameterInfo& info = kParameterInfo[index];
        if (info.kind != ParameterKind::Number)
            continue;
        std::string typeName = *info.unit != 0 ? info.unit : "value";
        std::transform(typeName.begin(), typeName.end(), typeName.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        command
            .add_option(flagOf(info), options.parameters.engineering[index],
                        meaningWithUnit(info) + ", " + rangeText(info) + " (default " +
                            formatValue(engineeringFromNormalised(index, parameterDefault(index))) + ")")
            ->type_name(typeName);
    }
    command.add_option("--param", assignments,
                       "set the parameter called NAME to the normalised VALUE, 0..1; works for any effect and comes "
                       "after the options above (quote names with blanks: --param 'use SC=1')")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
}

void addCommonOptions(CLI::App& command, Options& options)
{
    command.add_option("--plugin", options.plugin,
                       "VST 2.4 module to load instead of the built Kestrune.so (an effect with 2 or 4 inputs and "
                       "2 outputs)")
        ->type_name("PATH");
    command.add_flag("-q,--quiet", options.quiet,
                     "no progress bar and no notes on standard error (the bar appears only on a terminal and for "
                     "more than 10 s of audio)");
}

// What render and plot share: the input, its key, the parameters and the blocks.
void addRenderOptions(CLI::App& command, Options& options, std::vector<std::string>& assignments)
{
    command.add_option("input", options.input, "audio file to process (mono or stereo)")
        ->required()
        ->type_name("INPUT");
    command.add_option("--sidechain", options.sidechain,
                       "key the compressor from FILE (mono or stereo) on inputs 3 and 4 and switch 'use SC' on; a "
                       "shorter file is padded with silence, a longer one cut, another sample rate resampled")
        ->type_name("FILE");
    addParameterOptions(command, options, assignments);
    command.add_option("--block", options.blockSize,
                       "frames per processing block, 1..65536 (default 512); the output does not depend on it")
        ->type_name("N")
        ->check(CLI::Range(1, 65536));
    command.add_option("--data", options.data, "also write the numbers behind the picture, see below")
        ->type_name("FILE.csv");
    addCommonOptions(command, options);
}

// NAME=VALUE, split at the last '=', with VALUE a normalised number.
std::pair<std::string, float> parseAssignment(const std::string& assignment)
{
    const std::size_t equals = assignment.rfind('=');
    if (equals == std::string::npos || equals == 0)
        throw UsageError("--param " + assignment + ": expected NAME=VALUE, e.g. --param 'use SC=1'");
    const std::string text = assignment.substr(equals + 1);
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != 0 || !std::isfinite(value))
        throw UsageError("--param " + assignment + ": '" + text + "' is not a number");
    if (value < 0.0f || value > 1.0f)
        throw UsageError("--param " + assignment + ": out of range; normalised values lie in 0..1");
    return {assignment.substr(0, equals), value};
}

}  // namespace

std::optional<Options> parseCommandLine(int argc, char** argv)
{
    Options options;
    std::vector<std::string> assignments;
    CLI::App app(kProgramDescription, "kestrune");
    app.set_version_flag("--version", std::string("kestrune ") + KESTRUNE_VERSION);
    app.require_subcommand(1);
    app.footer(kFooter);
    app.set_help_all_flag("--help-all", "print the help of every command");

    CLI::App& info = *app.add_subcommand(
        "info", "Show what a host sees: names, vendor, version, category, unique ID, inputs and outputs, flags, "
                "program and every parameter with its label and default.");
    info.add_option("--plugin", options.plugin, "VST 2.4 module to describe instead of the built Kestrune.so")
        ->type_name("PATH");
    info.footer("Example: kestrune info");

    CLI::App& render = *app.add_subcommand(
        "render",
        "Run INPUT through the effect at its own sample rate and write OUTPUT. Every format libsndfile reads "
        "is accepted (WAV, AIFF, FLAC, OGG, ...); OUTPUT's extension picks its format and the input's sample "
        "format is kept unless --format says otherwise (float WAV keeps every bit). Mono files feed both "
        "channels and mono input is written back as mono.");
    render.add_option("-o,--output", options.output, "file to write (never one of the inputs)")
        ->required()
        ->type_name("OUTPUT");
    render.add_option("--format", options.format,
                      "sample format of OUTPUT: " + CLI::detail::join(sampleFormatNames(), ", ") +
                          " (default: the input's when OUTPUT's format can hold it)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember(sampleFormatNames()));
    render.add_option("--plot", options.picture, "also draw the render as with 'kestrune plot'")
        ->type_name("FILE.png");
    addRenderOptions(render, options, assignments);
    render.footer(std::string(kRenderDataHelp) +
                  "\n\nExamples:\n"
                  "  kestrune render vocal.wav -o vocal-comp.wav --threshold -24 --ratio 4 --attack 5 --release 120\n"
                  "  kestrune render pad.flac -o pad-ducked.flac --sidechain kick.wav --threshold -30 --ratio 8\n"
                  "  kestrune render in.wav -o out.wav --param Ratio=0.5 --plugin other-effect.so");

    CLI::App& plot = *app.add_subcommand(
        "plot",
        "Render INPUT without writing audio and draw one picture: input and output waveforms (peak envelopes per "
        "pixel column), the sidechain key when there is one, and the gain reduction in dB over time as the "
        "effect applied it, with the threshold marked.");
    plot.add_option("-o,--output", options.picture, "PNG file to write")->required()->type_name("FILE.png");
    addRenderOptions(plot, options, assignments);
    plot.footer(std::string(kGainHelp) + "\n\n" + kRenderDataHelp +
                "\n\nExample: kestrune plot pad.wav --sidechain kick.wav --threshold -30 --ratio 8 -o ducking.png");

    CLI::App& curve = *app.add_subcommand(
        "curve",
        "Measure the static transfer curve through the effect, self-keyed, from -80 to 0 dBFS in 1 dB steps, and "
        "draw it beside the ideal hard-knee line. Each level is a steady 1 kHz square wave (constant magnitude, "
        "so a peak detector sees a steady key) played from rest until the envelope has settled; a 1 kHz sine is "
        "measured too and shows the detector's ripple.");
    curve.add_option("-o,--output", options.picture, "PNG file to write")->required()->type_name("FILE.png");
    addParameterOptions(curve, options, assignments);
    curve.add_option("--data", options.data, "also write the numbers behind the picture, see below")
        ->type_name("FILE.csv");
    addCommonOptions(curve, options);
    curve.footer(std::string(kCurveDataHelp) + "\n\nExample: kestrune curve --threshold -30 --ratio 4 -o curve.png");

    CLI::App& demo = *app.add_subcommand(
        "demo",
        "Synthesise a 16-second example (a bass-and-pad chord progression and a four-on-the-floor kick at 120 BPM), "
        "render it self-keyed and keyed by the kick, and write the WAV files, their pictures, the transfer curve "
        "and a summary (input and output RMS and peak, largest gain reduction) to DIR. Nothing is downloaded; "
        "every run writes the same audio.");
    demo.add_option("-o,--output", options.folder, "folder to write into, created when missing (default demo-out)")
        ->type_name("DIR");
    addCommonOptions(demo, options);
    demo.footer("Example: kestrune demo -o demo-out");

    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::Success& success)
    {
        app.exit(success);
        return std::nullopt;
    }
    catch (const CLI::ParseError& error)
    {
        throw UsageError(error.what());
    }

    const std::string name = app.get_subcommands().front()->get_name();
    options.command = static_cast<Command>(std::find(std::begin(kCommandNames), std::end(kCommandNames), name) -
                                           std::begin(kCommandNames));
    for (int index = 0; index < kNumParameters; ++index)
    {
        const std::optional<float>& value = options.parameters.engineering[index];
        if (value && !parameterInRange(index, *value))
            throw UsageError(flagOf(kParameterInfo[index]) + " " + formatValue(*value) + " is out of range: the " +
                             meaningWithUnit(kParameterInfo[index]) + " lies in " + rangeText(kParameterInfo[index]));
    }
    for (const std::string& assignment : assignments)
        options.parameters.assignments.push_back(parseAssignment(assignment));
    return options;
}

std::vector<ParameterSetting> resolveParameters(const ParameterOptions& options, Effect& effect, bool sidechainKeyed)
{
    std::vector<ParameterSetting> settings;
    for (int index = 0; index < kNumParameters; ++index)
    {
        if (!options.engineering[index])
            continue;
        if (!effect.hasKestruneParameters())
            throw UsageError(flagOf(kParameterInfo[index]) +
                             " needs an effect with Kestrune's parameters; set the parameters of " +
                             effect.modulePath() + " with --param NAME=VALUE (0..1)");
        settings.push_back({index, normalisedFromEngineering(index, *options.engineering[index])});
    }

    if (sidechainKeyed)
    {
        try
        {
            settings.push_back({effect.instance().parameterIndex(kParameterInfo[kUseSidechain].name),
                                useSidechainToNormalised(true)});
        }
        catch (const khost::HostError&)
        {
            // An effect without the switch is keyed by its sidechain inputs, if at all, on its own terms.
        }
    }

    for (const auto& [name, value] : options.assignments)
    {
        try
        {
            settings.push_back({effect.instance().parameterIndex(name), value});
        }
        catch (const khost::HostError& error)
        {
            throw UsageError("--param " + name + "=" + formatValue(value) + ": " + error.what());
        }
    }
    return settings;
}

}  // namespace kestrune
