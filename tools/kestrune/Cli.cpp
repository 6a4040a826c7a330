#include "Cli.h"

#include "AudioFile.h"
#include "ToolError.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrune
{

namespace
{

using namespace VAZiro;

struct EngineeringOption
{
    int index;
    const char* flag;
    const char* typeName;
    const char* meaning;
};

const EngineeringOption kEngineeringOptions[] = {
    {kAttack, "--attack", "MS", "attack time in ms"},
    {kRelease, "--release", "MS", "release time in ms"},
    {kRatio, "--ratio", "R", "compression ratio R:1"},
    {kThreshold, "--threshold", "DB", "threshold on the key level in dBFS"},
    {kMakeup, "--makeup", "DB", "makeup gain in dB"},
};

std::string formatValue(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

std::string rangeText(int index)
{
    return formatValue(kParameterInfo[index].minimum) + ".." + formatValue(kParameterInfo[index].maximum);
}

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

void addPluginOption(CLI::App& command, std::string& plugin)
{
    command.add_option("--plugin", plugin,
                       "VST 2.4 module to load instead of the built Kestrune.so (an effect with 2 or 4 inputs and "
                       "2 outputs)")
        ->type_name("PATH");
}

void addQuietFlag(CLI::App& command, bool& quiet)
{
    command.add_flag("-q,--quiet", quiet,
                     "no progress bar and no notes on standard error (the bar appears only on a terminal and for "
                     "more than 10 s of audio)");
}

// Splits NAME=VALUE at the last '=' and checks that VALUE is a normalised number.
void checkAssignment(const std::string& assignment)
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
}

}  // namespace

CommandLine::CommandLine() : m_app(kProgramDescription, "kestrune")
{
    m_app.set_version_flag("--version", std::string("kestrune ") + KESTRUNE_VERSION);
    m_app.require_subcommand(1);
    m_app.footer(kFooter);
    m_app.set_help_all_flag("--help-all", "print the help of every command");

    m_infoCommand = m_app.add_subcommand(
        "info", "Show what a host sees: names, vendor, version, category, unique ID, inputs and outputs, flags, "
                "program and every parameter with its label and default.");
    addPluginOption(*m_infoCommand, m_info.plugin);
    m_infoCommand->footer("Example: kestrune info");

    m_renderCommand = m_app.add_subcommand(
        "render",
        "Run INPUT through the effect at its own sample rate and write OUTPUT. Every format libsndfile reads "
        "is accepted (WAV, AIFF, FLAC, OGG, ...); OUTPUT's extension picks its format and the input's sample "
        "format is kept unless --format says otherwise (float WAV keeps every bit). Mono files feed both "
        "channels and mono input is written back as mono.");
    m_renderCommand->add_option("input", m_render.input, "audio file to process (mono or stereo)")
        ->required()
        ->type_name("INPUT");
    m_renderCommand->add_option("-o,--output", m_render.output, "file to write (never one of the inputs)")
        ->required()
        ->type_name("OUTPUT");
    m_renderCommand->add_option("--format", m_render.format,
                                "sample format of OUTPUT: " + CLI::detail::join(sampleFormatNames(), ", ") +
                                    " (default: the input's when OUTPUT's format can hold it)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember(sampleFormatNames()));
    m_renderCommand->add_option("--sidechain", m_render.sidechain,
                                "key the compressor from FILE (mono or stereo) on inputs 3 and 4 and switch 'use SC' "
                                "on; a shorter file is padded with silence, a longer one cut, another sample rate "
                                "resampled")
        ->type_name("FILE");
    addParameterOptions(*m_renderCommand, m_renderFlags);
    m_renderCommand->add_option("--block", m_render.blockSize,
                                "frames per processing block, 1..65536 (default 512); the output does not depend "
                                "on it")
        ->type_name("N")
        ->check(CLI::Range(1, 65536));
    m_renderCommand->add_option("--plot", m_render.plot, "also draw the render as with 'kestrune plot'")
        ->type_name("FILE.png");
    addPluginOption(*m_renderCommand, m_render.plugin);
    addQuietFlag(*m_renderCommand, m_render.quiet);
    m_renderCommand->footer(
        "Examples:\n"
        "  kestrune render vocal.wav -o vocal-comp.wav --threshold -24 --ratio 4 --attack 5 --release 120\n"
        "  kestrune render pad.flac -o pad-ducked.flac --sidechain kick.wav --threshold -30 --ratio 8\n"
        "  kestrune render in.wav -o out.wav --param Ratio=0.5 --plugin other-effect.so");

    m_plotCommand = m_app.add_subcommand(
        "plot",
        "Render INPUT without writing audio and draw one picture: input and output waveforms (peak envelopes per "
        "pixel column), the sidechain key when there is one, and the gain reduction in dB over time as the "
        "effect applied it, with the threshold marked.");
    m_plotCommand->add_option("input", m_plotOptions.input, "audio file to process (mono or stereo)")
        ->required()
        ->type_name("INPUT");
    m_plotCommand->add_option("-o,--output", m_plotOptions.plot, "PNG file to write")->required()->type_name("FILE.png");
    m_plotCommand->add_option("--sidechain", m_plotOptions.sidechain, "key the compressor from FILE, as for render")
        ->type_name("FILE");
    addParameterOptions(*m_plotCommand, m_plotFlags);
    m_plotCommand->add_option("--block", m_plotOptions.blockSize, "frames per processing block, 1..65536 (default 512)")
        ->type_name("N")
        ->check(CLI::Range(1, 65536));
    addPluginOption(*m_plotCommand, m_plotOptions.plugin);
    addQuietFlag(*m_plotCommand, m_plotOptions.quiet);
    m_plotCommand->footer(std::string(kGainHelp) +
                          "\n\nExample: kestrune plot pad.wav --sidechain kick.wav --threshold -30 --ratio 8 -o "
                          "ducking.png");

    m_curveCommand = m_app.add_subcommand(
        "curve",
        "Measure the static transfer curve through the effect, self-keyed, from -80 to 0 dBFS in 1 dB steps, and "
        "draw it beside the ideal hard-knee line. Each level is a steady 1 kHz square wave (constant magnitude, "
        "so a peak detector sees a steady key) played from rest until the envelope has settled; a 1 kHz sine is "
        "measured too and shows the detector's ripple.");
    m_curveCommand->add_option("-o,--output", m_curve.output, "PNG file to write")->required()->type_name("FILE.png");
    addParameterOptions(*m_curveCommand, m_curveFlags);
    addPluginOption(*m_curveCommand, m_curve.plugin);
    addQuietFlag(*m_curveCommand, m_curve.quiet);
    m_curveCommand->footer("Example: kestrune curve --threshold -30 --ratio 4 -o curve.png");

    m_demoCommand = m_app.add_subcommand(
        "demo",
        "Synthesise a 16-second example (a bass-and-pad chord progression and a four-on-the-floor kick at 120 BPM), "
        "render it self-keyed and keyed by the kick, and write the WAV files, their pictures, the transfer curve "
        "and a summary (input and output RMS and peak, largest gain reduction) to DIR. Nothing is downloaded; "
        "every run writes the same audio.");
    m_demoCommand->add_option("-o,--output", m_demo.folder, "folder to write into, created when missing (default demo-out)")
        ->type_name("DIR");
    addPluginOption(*m_demoCommand, m_demo.plugin);
    addQuietFlag(*m_demoCommand, m_demo.quiet);
    m_demoCommand->footer("Example: kestrune demo -o demo-out");
}

void CommandLine::addParameterOptions(CLI::App& command, ParameterFlags& flags)
{
    for (const EngineeringOption& option : kEngineeringOptions)
    {
        const float fallback = engineeringFromNormalised(option.index, parameterDefault(option.index));
        flags.options[option.index] =
            command
                .add_option(option.flag, flags.values[option.index],
                            std::string(option.meaning) + ", " + rangeText(option.index) + " (default " +
                                formatValue(fallback) + ")")
                ->type_name(option.typeName);
    }
    command.add_option("--param", flags.assignments,
                       "set the parameter called NAME to the normalised VALUE, 0..1; works for any effect and comes "
                       "after the options above (quote names with blanks: --param 'use SC=1')")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
}

ParameterOptions CommandLine::collect(const ParameterFlags& flags)
{
    ParameterOptions options;
    for (const EngineeringOption& option : kEngineeringOptions)
    {
        if (flags.options[option.index] == nullptr || flags.options[option.index]->count() == 0)
            continue;
        const float value = flags.values[option.index];
        if (!parameterInRange(option.index, value))
            throw UsageError(std::string(option.flag) + " " + formatValue(value) + " is out of range: the " +
                             option.meaning + " lies in " + rangeText(option.index));
        options.engineering[option.index] = value;
    }
    for (const std::string& assignment : flags.assignments)
        checkAssignment(assignment);
    options.assignments = flags.assignments;
    return options;
}

bool CommandLine::parse(int argc, char** argv)
{
    try
    {
        m_app.parse(argc, argv);
    }
    catch (const CLI::Success& success)
    {
        m_app.exit(success);
        return false;
    }
    catch (const CLI::ParseError& error)
    {
        throw UsageError(error.what());
    }

    if (m_infoCommand->parsed())
        m_command = Command::Info;
    else if (m_renderCommand->parsed())
    {
        m_command = Command::Render;
        m_render.parameters = collect(m_renderFlags);
    }
    else if (m_plotCommand->parsed())
    {
        m_command = Command::Plot;
        m_render = m_plotOptions;
        m_render.parameters = collect(m_plotFlags);
    }
    else if (m_curveCommand->parsed())
    {
        m_command = Command::Curve;
        m_curve.parameters = collect(m_curveFlags);
    }
    else
        m_command = Command::Demo;
    return true;
}

std::vector<ParameterSetting> resolveParameters(const ParameterOptions& options, Effect& effect, bool sidechainKeyed)
{
    std::vector<ParameterSetting> settings;
    for (int index = 0; index < kNumParameters; ++index)
    {
        if (!options.engineering[index])
            continue;
        if (!effect.hasKestruneParameters())
        {
            const char* flag = "";
            for (const EngineeringOption& option : kEngineeringOptions)
                flag = option.index == index ? option.flag : flag;
            throw UsageError(std::string(flag) + " needs an effect with Kestrune's parameters; set the parameters of " +
                             effect.modulePath() + " with --param NAME=VALUE (0..1)");
        }
        settings.push_back({index, normalisedFromEngineering(index, *options.engineering[index])});
    }

    if (sidechainKeyed)
    {
        const VstInt32 sidechainSwitch = effect.findParameter(kParameterInfo[kUseSidechain].name);
        if (sidechainSwitch >= 0)
            settings.push_back({sidechainSwitch, useSidechainToNormalised(true)});
    }

    for (const std::string& assignment : options.assignments)
    {
        const std::size_t equals = assignment.rfind('=');
        const std::string name = assignment.substr(0, equals);
        const float value = std::strtof(assignment.c_str() + equals + 1, nullptr);
        try
        {
            settings.push_back({effect.instance().parameterIndex(name), value});
        }
        catch (const khost::HostError& error)
        {
            throw UsageError(std::string("--param ") + assignment + ": " + error.what());
        }
    }
    return settings;
}

}  // namespace kestrune
