#include "Cli.h"

#include "AudioFile.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <strings.h>
#include <utility>

namespace kestrune
{

namespace
{

using namespace VAZiro;

const char* const kProgramDescription =
    "Runs audio files through the Kestrune sidechain compressor (or another VST 2.4 effect with 2, 3 or 4 inputs "
    "and 2 outputs), loaded from its module exactly as a host loads it.";

const char* const kFooter =
    "Files: '-' names standard input or output (give -t TYPE for output); progress, notes and warnings go to "
    "standard error.\n"
    "Options may be given again: the last value counts.\n"
    "Exit codes: 0 success, 1 a processing error (a file, a format, the plug-in, a full disk), 2 a mistake on the "
    "command line, 130 interrupted by Ctrl-C (128 + the number of another signal that ended it).\n"
    "Run 'kestrune COMMAND --help' for the options of a command.";

// Where loadModule looks when --plugin is not given.
const char* const kDefaultModule =
    "the first Kestrune.so beside kestrune, in its installation, in the folders of VST_PATH or else in ~/.vst, "
    "/usr/local/lib/vst and /usr/lib/vst";

const char* const kGainHelp =
    "The gain reduction shown is measured, not computed: a second instance of the effect with the same "
    "settings, 0 dB makeup and the sidechain switched on is keyed by the same key (the sidechain, or the input "
    "itself) while a constant 1.0 runs through its main inputs, so its output is the gain the compressor "
    "applied, sample by sample. For effects without Kestrune's parameters it is estimated as output peak over "
    "input peak wherever the input is above -60 dBFS.";

const char* const kRenderDataHelp =
    "--data writes the numbers behind the picture as CSV: lines '# title: ...', '# settings: ...', "
    "'# threshold_db: ...', '# keyed_by_sidechain: 0|1', '# gain: probe|ratio|none', '# start_s: ...' and "
    "'# end_s: ...' (the stretch drawn), then the columns "
    "time_s, input_min, input_max, key_min, key_max, output_min, output_max (peak envelopes per pixel column, "
    "full scale 1.0) and gain_db (the smallest gain in the column, nan where none is known). plot.py, installed "
    "in share/kestrune, draws it: python3 plot.py [--size WxH] DATA.csv PICTURE.png|svg|pdf.";

const char* const kCurveDataHelp =
    "--data writes the numbers behind the picture as CSV: lines '# title: ...', '# settings: ...' and "
    "'# threshold_db: ...', then the columns input_db, steady_db (output level of the square wave), sine_db "
    "(output peak of the sine) and ideal_db (the hard-knee line, nan for other effects).";

// "--ratio: 'abc' is not a number", in place of the parser's wording. The text of the last value
// given is kept in typed under the option's name.
template <typename Number>
CLI::Option* addNumberOption(CLI::App& command, const std::string& name, Number& number, const std::string& help,
                             const std::string& typeName, std::map<std::string, std::string>& typed)
{
    return command.add_option(name, number, help)
        ->type_name(typeName)
        ->check([](const std::string& text) {
            char* end = nullptr;
            std::strtod(text.c_str(), &end);
            return text.empty() || *end != 0 ? "'" + text + "' is not a number" : std::string();
        })
        ->each([&typed, name](const std::string& text) { typed[name] = text; });
}

// An empty name would leave an output unwritten and say nothing of it.
CLI::Option* addFileOption(CLI::App& command, const std::string& name, std::string& file, const std::string& help,
                           const std::string& typeName)
{
    return command.add_option(name, file, help)->type_name(typeName)->check([](const std::string& text) {
        return text.empty() ? std::string("give a file name, not an empty text") : std::string();
    });
}

const char* const kSurplus = "surplus";

bool isOption(const std::string& word)
{
    return word.size() > 1 && word[0] == '-';
}

// Levenshtein's distance, one row at a time. CLI11 suggests no names, so this program does.
std::size_t editDistance(const std::string& word, const std::string& name)
{
    std::vector<std::size_t> row(name.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= word.size(); ++i)
    {
        std::size_t diagonal = std::exchange(row[0], i);
        for (std::size_t j = 1; j <= name.size(); ++j)
        {
            const std::size_t substitution = diagonal + (word[i - 1] != name[j - 1] ? 1 : 0);
            diagonal = std::exchange(row[j], std::min({row[j] + 1, row[j - 1] + 1, substitution}));
        }
    }
    return row.back();
}

// " (did you mean NAME?)" for the name nearest to word, within two edits (the first of equals); "" when none is.
std::string didYouMean(const std::string& word, const std::vector<std::string>& names)
{
    std::string best;
    std::size_t bestDistance = 3;
    for (const std::string& name : names)
    {
        const std::size_t distance = editDistance(word, name);
        if (distance < bestDistance)
        {
            bestDistance = distance;
            best = name;
        }
    }
    return best.empty() ? std::string() : " (did you mean " + best + "?)";
}

// The names of a command's options as typed: "--output", and with shortNames also "-o".
std::vector<std::string> optionNames(const CLI::App& command, bool shortNames)
{
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options())
    {
        for (const std::string& name : shortNames ? option->get_snames() : std::vector<std::string>())
            names.push_back("-" + name);
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
    }
    return names;
}

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
        addNumberOption(command, "--" + std::string(info.symbol), options.parameters.engineering[index],
                        meaningWithUnit(info) + ", " + rangeText(info) + " (default " +
                            formatValue(engineeringFromNormalised(index, parameterDefault(index))) + ")",
                        typeName, options.typed);
    }
    command.add_option("--param", assignments,
                       "set the parameter called NAME (in any case) to the normalised VALUE, 0..1; works for any "
                       "effect, may be given many times and comes after the options above (quote names with blanks: "
                       "--param 'use SC=1')")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void addCommonOptions(CLI::App& command, Options& options)
{
    command.add_option("--plugin", options.plugin,
                       std::string("VST 2.4 module to load instead of ") + kDefaultModule +
                           ": an effect with 2 outputs and 2 inputs (no sidechain), 3 (a mono sidechain, which a "
                           "stereo one is mixed down to) or 4")
        ->type_name("PATH");
    command.add_flag("-q,--quiet", options.quiet,
                     "no progress bar and no notes on standard error, only errors and warnings (the bar appears "
                     "only on a terminal and for more than 10 s of audio)");
}

// What the pictures of plot, render --plot and curve share.
void addPictureOptions(CLI::App& command, Options& options)
{
    command.add_option("--size", options.size, "size of the picture in pixels, e.g. 1920x1080")
        ->type_name("WxH");
    addFileOption(command, "--data", options.data, "also write the numbers behind the picture, see below", "FILE.csv");
}

// What render and plot share: the input, its key, the parameters, the blocks and the picture.
void addRenderOptions(CLI::App& command, Options& options, std::vector<std::string>& assignments)
{
    addFileOption(command, "input", options.input, "audio file to process (mono or stereo), '-' for standard input",
                  "INPUT")
        ->required();
    addFileOption(command, "--sidechain", options.sidechain,
                  "key the compressor from FILE (mono or stereo) on the sidechain inputs and switch 'use SC' on; a "
                  "shorter file is padded with silence (with a note), a longer one cut, another sample rate resampled",
                  "FILE");
    addParameterOptions(command, options, assignments);
    // Ranges in words; the parser's own would print the largest double in full.
    addNumberOption(command, "--block", options.blockSize,
                    "frames per processing block, 1..65536 (default 512); the output does not depend on it", "N",
                    options.typed)
        ->check([](const std::string& text) {
            char* end = nullptr;
            const long frames = std::strtol(text.c_str(), &end, 10);
            return *end == 0 && frames >= 1 && frames <= 65536 ? std::string()
                                                               : "give a whole number of frames, 1..65536, not " + text;
        });
    addNumberOption(command, "--start", options.start, "draw from this time on (the render still starts at 0)",
                    "SECONDS", options.typed)
        ->check([](const std::string& text) {
            return std::strtod(text.c_str(), nullptr) >= 0.0 ? std::string() : "give 0 or more seconds, not " + text;
        });
    addNumberOption(command, "--end", options.end, "draw up to this time (default: the end)", "SECONDS",
                    options.typed)
        ->check([](const std::string& text) {
            return std::strtod(text.c_str(), nullptr) > 0.0 ? std::string() : "give more than 0 seconds, not " + text;
        });
    command.add_flag("--keep-partial", options.keepPartial,
                     "when an input or the sidechain ends before the length its header declares, still write what "
                     "arrived (the run fails all the same); without it nothing is written");
    addPictureOptions(command, options);
    addCommonOptions(command, options);
}

// NAME=VALUE, split at the last '=', with VALUE a normalised number.
ParameterOptions::Assignment parseAssignment(const std::string& assignment)
{
    const std::size_t equals = assignment.rfind('=');
    if (equals == std::string::npos || equals == 0)
        throw UsageError("--param " + assignment + ": expected NAME=VALUE, e.g. --param 'use SC=1'");
    const std::string text = assignment.substr(equals + 1);
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != 0 || !std::isfinite(value))
        throw UsageError("--param " + assignment + ": '" + text + "' is not a number");
    if (value < 0.0f || value > 1.0f)
        throw UsageError("--param " + assignment + ": out of range; normalised values lie in 0..1");
    return {assignment.substr(0, equals), value, assignment};
}

// A number of pixels: digits only (no sign, blank or hexadecimal), at most 9 of them, so it cannot wrap.
std::optional<int> pixels(const std::string& digits)
{
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return std::nullopt;
    return std::stoi(digits);
}

// --size as the script takes it, "WIDTHxHEIGHT" with each 200..10000 pixels; empty stays empty.
std::string pictureSize(const std::string& size)
{
    if (size.empty())
        return size;
    const std::size_t x = size.find('x');
    const std::optional<int> width = x == std::string::npos ? std::nullopt : pixels(size.substr(0, x));
    const std::optional<int> height = x == std::string::npos ? std::nullopt : pixels(size.substr(x + 1));
    const auto fits = [](std::optional<int> n) { return n && *n >= 200 && *n <= 10000; };
    if (!fits(width) || !fits(height))
        throw UsageError("--size " + size + ": give WIDTHxHEIGHT in pixels, each 200..10000, e.g. 1600x900");
    return std::to_string(*width) + "x" + std::to_string(*height);
}

// The usage line without the hidden catch-all of surplus words (see parseCommandLine).
class UsageFormatter : public CLI::Formatter
{
public:
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        std::string usage = CLI::Formatter::make_usage(app, std::move(name));
        if (const CLI::Option* surplus = app->get_option_no_throw(kSurplus))
        {
            const std::string shown = " " + make_option_usage(surplus);
            if (const std::size_t at = usage.find(shown); at != std::string::npos)
                usage.erase(at, shown.size());
        }
        return usage;
    }
};

// What the parser left over: an option it does not know, or a word too many (surplus, the words
// after the command's own arguments). After "--", which the parser leaves among the extras, every
// word is an argument, whatever it starts with.
void rejectExtras(const CLI::App& command, const std::vector<std::string>& extras,
                  const std::vector<std::string>& surplus)
{
    const auto mark = std::find(extras.begin(), extras.end(), "--");
    const auto unknownOption = std::find_if(extras.begin(), mark, isOption);
    if (unknownOption != mark)
    {
        const std::string word = unknownOption->substr(0, unknownOption->find('='));
        throw UsageError(command.get_name() + ": unknown option " + word + didYouMean(word, optionNames(command, false)));
    }
    const auto argument = std::find_if(extras.begin(), extras.end(), [](const std::string& word) { return word != "--"; });
    if (!surplus.empty() || argument != extras.end())
        throw UsageError(command.get_name() + ": unexpected argument '" + (surplus.empty() ? *argument : surplus[0]) +
                         "'");
}

// The commands, each with its options, its help and examples.
void addInfoCommand(CLI::App& app, Options& options)
{
    CLI::App& info = *app.add_subcommand(
        "info", "Show what a host sees: names, vendor, version, category, unique ID, inputs and outputs, flags, "
                "program and every parameter with its label and default.");
    info.add_option("--plugin", options.plugin, std::string("VST 2.4 module to describe instead of ") + kDefaultModule)
        ->type_name("PATH");
    info.footer("Example: kestrune info");

}

void addRenderCommand(CLI::App& app, Options& options, std::vector<std::string>& assignments)
{
    CLI::App& render = *app.add_subcommand(
        "render",
        "Run INPUT through the effect at its own sample rate and write OUTPUT. Every format libsndfile reads "
        "is accepted (WAV, AIFF, FLAC, OGG, ...); OUTPUT's extension, or -t, picks its format and the input's sample "
        "format is kept unless --format says otherwise (float WAV keeps every bit). Mono files feed both "
        "channels and mono input is written back as mono.");
    addFileOption(render, "-o,--output", options.output,
                  "file to write (never one of the inputs), '-' for standard output", "OUTPUT")
        ->required();
    render.add_option("-t,--type", options.type,
                      "format of OUTPUT by its usual extension, for standard output or a name without that "
                      "extension: " + writableExtensions())
        ->type_name("TYPE");
    render.add_option("--format", options.format,
                      "sample format of OUTPUT: " + CLI::detail::join(sampleFormatNames(), ", ") +
                          ", as far as OUTPUT's format takes it (default: the input's when it can)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember(sampleFormatNames()));
    addFileOption(render, "--plot", options.picture, "also draw the render as with 'kestrune plot'", "FILE");
    addRenderOptions(render, options, assignments);
    render.footer(std::string(kRenderDataHelp) +
                  "\n\nExamples:\n"
                  "  kestrune render vocal.wav -o vocal-comp.wav --threshold -24 --ratio 4 --attack 5 --release 120\n"
                  "  kestrune render pad.flac -o pad-ducked.flac --sidechain kick.wav --threshold -30 --ratio 8\n"
                  "  kestrune render in.wav -o out.wav --param ratio=0.5 --plugin other-effect.so\n"
                  "  sox in.flac -t wav - | kestrune render - -o - -t wav --ratio 4 --threshold -20 | sox - out.flac");

}

void addPlotCommand(CLI::App& app, Options& options, std::vector<std::string>& assignments)
{
    CLI::App& plot = *app.add_subcommand(
        "plot",
        "Render INPUT without writing audio and draw one picture: input and output waveforms (peak envelopes per "
        "pixel column; the input outlined behind the output), the key that the compressor compared with its "
        "threshold in dBFS (the sidechain, or the input itself) with the threshold line, and the gain reduction in "
        "dB over time as the effect applied it. The picture's extension picks PNG, SVG or PDF.");
    addFileOption(plot, "-o,--output", options.picture, "picture to write: FILE.png, FILE.svg or FILE.pdf", "FILE")
        ->required();
    addRenderOptions(plot, options, assignments);
    plot.footer(std::string(kGainHelp) + "\n\n" + kRenderDataHelp +
                "\n\nExamples:\n"
                "  kestrune plot pad.wav --sidechain kick.wav --threshold -30 --ratio 8 -o ducking.png\n"
                "  kestrune plot pad.wav --sidechain kick.wav --threshold -30 --start 4 --end 6 -o zoom.svg");

}

void addCurveCommand(CLI::App& app, Options& options, std::vector<std::string>& assignments)
{
    CLI::App& curve = *app.add_subcommand(
        "curve",
        "Measure the static transfer curve through the effect, self-keyed, from -80 to 0 dBFS in 1 dB steps, and "
        "draw it beside the ideal hard-knee line. Each level is a steady 1 kHz square wave (constant magnitude, "
        "so a peak detector sees a steady key) played from rest until the envelope has settled; a 1 kHz sine is "
        "measured too and shows the detector's ripple.");
    addFileOption(curve, "-o,--output", options.picture, "picture to write: FILE.png, FILE.svg or FILE.pdf", "FILE")
        ->required();
    addParameterOptions(curve, options, assignments);
    addPictureOptions(curve, options);
    addCommonOptions(curve, options);
    curve.footer(std::string(kCurveDataHelp) + "\n\nExample: kestrune curve --threshold -30 --ratio 4 -o curve.png");

}

void addDemoCommand(CLI::App& app, Options& options)
{
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

}

// What every command shares with the program: its version, and the words the parser leaves over.
void finishCommands(CLI::App& app, const std::string& version, std::vector<std::string>& surplus)
{
    for (CLI::App* command : app.get_subcommands({}))
    {
        command->set_version_flag("-V,--version", version);
        command->allow_extras();  // told below, in this program's words
        // Takes the words after the command's arguments, so that "--" always stays with the command
        // and ends its options (the parser would otherwise hand what follows to the program).
        command->add_option(kSurplus, surplus)->group("")->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    }
}

// The words the program itself was given and does not know, which the parser kept aside: a word
// that is no option names a command; an option before the command belongs after it.
void rejectProgramExtras(const CLI::App& app)
{
    const std::vector<std::string> extras = app.remaining();
    const auto command = std::find_if_not(extras.begin(), extras.end(), isOption);
    if (command != extras.end())
        throw UsageError("unknown command '" + *command + "'" + didYouMean(*command, kCommandNames));
    if (extras.empty())
        return;
    const std::string option = extras.front().substr(0, extras.front().find('='));
    if (!app.get_subcommands().empty())
        throw UsageError(option + " before '" + app.get_subcommands().front()->get_name() +
                         "': the options of a command go after it");
    throw UsageError("unknown option " + option + didYouMean(option, optionNames(app, true)));
}

// Parses argv into the options bound to app; false when --help or --version was answered.
bool parse(CLI::App& app, int argc, char** argv)
{
    try
    {
        app.parse(argc, argv);
        rejectProgramExtras(app);
        return true;
    }
    catch (const CLI::Success& success)
    {
        rejectProgramExtras(app);
        app.exit(success);
        return false;
    }
    catch (const CLI::ParseError& error)
    {
        rejectProgramExtras(app);
        if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && app.get_subcommands().empty())
            throw UsageError("no command given: say one of " + CLI::detail::join(kCommandNames, ", "));
        throw UsageError(error.what());
    }
}

// What the parser cannot check alone: ranges, assignments, the stretch drawn and the picture's size.
void checkValues(Options& options, const std::vector<std::string>& assignments)
{
    for (int index = 0; index < kNumParameters; ++index)
    {
        const std::optional<float>& value = options.parameters.engineering[index];
        if (value && !parameterInRange(index, *value))
        {
            const KestruneParameterInfo& info = kParameterInfo[index];
            const std::string option = "--" + std::string(info.symbol);
            throw UsageError(option + " " + typedValue(options, option, *value) + " is out of range: the " +
                             meaningWithUnit(info) + " lies in " + rangeText(info));
        }
    }
    for (const std::string& assignment : assignments)
        options.parameters.assignments.push_back(parseAssignment(assignment));
    if (options.end >= 0.0 && options.end <= options.start)
        throw UsageError("--end " + typedValue(options, "--end", options.end) + " must lie after --start " +
                         typedValue(options, "--start", options.start));
    options.size = pictureSize(options.size);
}

}  // namespace

std::optional<Options> parseCommandLine(int argc, char** argv)
{
    Options options;
    std::vector<std::string> assignments;
    std::vector<std::string> surplus;
    const std::string version = std::string("kestrune ") + KESTRUNE_VERSION;
    CLI::App app(kProgramDescription, "kestrune");
    app.formatter(std::make_shared<UsageFormatter>());  // before the commands, which take it over
    app.set_version_flag("-V,--version", version);
    app.require_subcommand(1);
    app.allow_extras();  // told by rejectProgramExtras, in this program's words
    app.footer(kFooter);
    app.set_help_all_flag("--help-all", "print the help of every command");
    // A repeated option takes its last value, as in sox and most tools; subcommands inherit this.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    addInfoCommand(app, options);
    addRenderCommand(app, options, assignments);
    addPlotCommand(app, options, assignments);
    addCurveCommand(app, options, assignments);
    addDemoCommand(app, options);
    finishCommands(app, version, surplus);
    if (!parse(app, argc, argv))
        return std::nullopt;

    CLI::App& command = *app.get_subcommands().front();
    rejectExtras(command, command.remaining(), surplus);
    options.command = command.get_name();
    checkValues(options, assignments);
    return options;
}

std::string typedValue(const Options& options, const std::string& option, double value)
{
    const auto found = options.typed.find(option);
    return found != options.typed.end() ? found->second : formatValue(value);
}

std::vector<ParameterSetting> resolveParameters(const ParameterOptions& options, Effect& effect, bool sidechainKeyed)
{
    std::vector<ParameterSetting> settings;
    for (int index = 0; index < kNumParameters; ++index)
    {
        if (!options.engineering[index])
            continue;
        if (!effect.hasKestruneParameters())
            throw UsageError("--" + std::string(kParameterInfo[index].symbol) +
                             " needs an effect with Kestrune's parameters; set the parameters of " +
                             effect.module()->path() + " with --param NAME=VALUE (0..1)");
        settings.push_back({index, normalisedFromEngineering(index, *options.engineering[index])});
    }

    if (sidechainKeyed)
    {
        try
        {
            settings.push_back({effect.parameterIndex(kParameterInfo[kUseSidechain].name),
                                useSidechainToNormalised(true)});
        }
        catch (const khost::HostError&)
        {
            // An effect without the switch is keyed by its sidechain inputs, if at all, on its own terms.
        }
    }

    const VstInt32 count = effect.numParameters();
    for (const auto& [name, value, text] : options.assignments)
    {
        VstInt32 index = 0;
        while (index < count && ::strcasecmp(effect.parameterName(index).c_str(), name.c_str()) != 0)
            ++index;
        try
        {
            // No name matched in any case: the exact lookup fails with the list of known names.
            settings.push_back({index < count ? index : effect.parameterIndex(name), value});
        }
        catch (const khost::HostError& error)
        {
            throw UsageError("--param " + text + ": " + error.what());
        }
    }
    return settings;
}

}  // namespace kestrune
