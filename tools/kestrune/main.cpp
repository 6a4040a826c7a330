// kestrune: runs audio files through the Kestrune plug-in (or another VST 2.4 effect) loaded from
// its module through the host library, draws what it did, and synthesises a demonstration.
#include "AtomicFile.h"
#include "AudioFile.h"
#include "Cli.h"
#include "Demo.h"
#include "Effect.h"
#include "Plot.h"
#include "Process.h"
#include "Render.h"
#include "ToolError.h"

#include "KestruneParameters.h"

#include "AEffectX.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>

namespace kestrune
{
namespace
{

void note(bool quiet, const std::string& text)
{
    if (!quiet && !text.empty())
        std::fprintf(stderr, "kestrune: note: %s\n", text.c_str());
}

std::string fileName(const std::string& path)
{
    return path == "-" ? "standard input" : std::filesystem::path(path).filename().string();
}

std::string seconds(double value)
{
    return printed("%.1f s", value);
}

// The picture by its extension and the CSV beside it.
void checkPictureNames(const Options& options, const char* pictureOption)
{
    const std::string extension = extensionOf(options.picture);
    if (!options.picture.empty() &&
        std::count(std::begin(kPictureExtensions), std::end(kPictureExtensions), extension) == 0)
        throw UsageError(std::string(pictureOption) + " " + options.picture + ": name a ." + kPictureExtensions[0] +
                         " file; pictures are PNG, SVG or PDF by their extension");
    if (!options.data.empty() && extensionOf(options.data) != "csv")
        throw UsageError("--data " + options.data + ": name a .csv file");
}

// The files of a run: the names of the picture and its data, one stream at most on standard input, and no
// output that is an input, a folder or another output ("-" is a stream, not a file).
void checkFiles(const Options& options, const char* pictureOption)
{
    checkPictureNames(options, pictureOption);
    if (options.input == "-" && options.sidechain == "-")
        throw UsageError("the input and the sidechain cannot both come from standard input");
    const std::vector<std::string> outputs = {options.output, options.picture, options.data};
    for (auto output = outputs.begin(); output != outputs.end(); ++output)
    {
        if (output->empty() || *output == "-")
            continue;
        std::error_code error;
        if (std::filesystem::is_directory(*output, error))
            throw ToolError("cannot write " + *output + ": it is a folder");
        for (const std::string& input : {options.input, options.sidechain})
        {
            if (!input.empty() && input != "-" && std::filesystem::equivalent(*output, input, error))
                throw UsageError("refusing to write " + *output + " over the input file " + input);
        }
        if (std::find(outputs.begin(), output, *output) != output)
            throw UsageError("two outputs cannot both be " + *output);
    }
}

// What did not arrive of the input and the sidechain, "" when all did. Without --keep-partial that
// ends the run before anything is written.
std::string checkShortfall(const AudioReader& input, const AudioReader* sidechain, bool keepPartial)
{
    const std::string key = sidechain != nullptr ? sidechain->shortfall() : std::string();
    std::string lost = input.shortfall();
    lost += (lost.empty() || key.empty() ? "" : "; ") + key;
    if (!lost.empty() && !keepPartial)
        throw ToolError(lost + "; nothing was written (--keep-partial writes what arrived)");
    return lost;
}

// Puts the pictures in place (those that were drawn), then fails for an input that fell short.
void commitPictures(Pictures& pictures, const std::string& shortfall)
{
    const std::string kept = shortfall + "; what arrived was written, as --keep-partial asks";
    try
    {
        pictures.commit();
    }
    catch (const ToolError& failure)
    {
        if (shortfall.empty())
            throw;
        throw ToolError(kept + "; " + failure.what());
    }
    if (!shortfall.empty())
        throw ToolError(kept);
}

// Settings of Kestrune that leave the audio as it is, and a switch that keys it from silence.
void adviseOnSettings(Effect& effect, const std::vector<ParameterSetting>& settings, bool keyFile, bool quiet)
{
    if (!effect.hasKestruneParameters())
        return;
    effect.apply(settings);
    if (effect.engineering(VAZiro::kUseSidechain) != 0.0f && !keyFile)
        std::fputs("kestrune: warning: 'use SC' is on without a --sidechain file: the compressor is keyed by silence "
                   "and leaves the audio as it is\n", stderr);
    else if (effect.engineering(VAZiro::kRatio) == 1.0f && effect.engineering(VAZiro::kMakeup) == 0.0f)
        note(quiet, "ratio 1:1 and 0 dB makeup leave the audio as it is; compress with e.g. --ratio 4 --threshold -20");
    else if (effect.engineering(VAZiro::kRatio) > 1.0f && effect.engineering(VAZiro::kThreshold) == 0.0f)
        note(quiet, "with the threshold at 0 dBFS only peaks above full scale are compressed; lower it, e.g. "
                    "--threshold -20");
}

// "'Kstr' (0x4B737472)", or the number alone when its bytes are not printable characters.
std::string uniqueIdText(VstInt32 uniqueId)
{
    const auto id = static_cast<std::uint32_t>(uniqueId);
    const std::string hexId = printed("0x%08X", static_cast<unsigned>(id));
    const std::string characters = {static_cast<char>(id >> 24), static_cast<char>(id >> 16),
                                    static_cast<char>(id >> 8), static_cast<char>(id)};
    const bool printable =
        std::all_of(characters.begin(), characters.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
    return printable ? "'" + characters + "' (" + hexId + ")" : hexId;
}

// "1 (effect)": the category's number and its name.
std::string categoryText(VstIntPtr category)
{
    static const char* const categories[] = {"unknown", "effect", "instrument", "analysis", "mastering",
                                             "spatialiser", "room effect", "surround effect", "restoration",
                                             "offline process", "shell", "generator"};
    const char* const name = category >= 0 && category < static_cast<VstIntPtr>(std::size(categories))
                                 ? categories[category]
                                 : "not a known category";
    return std::to_string(category) + " (" + name + ")";
}

// "17 (editor, replacing)": the flags' number and the names of the bits set.
std::string flagsText(VstInt32 flags)
{
    static const std::pair<VstInt32, const char*> flagNames[] = {
        {effFlagsHasEditor, "editor"},           {effFlagsCanReplacing, "replacing"},
        {effFlagsProgramChunks, "program chunks"}, {effFlagsIsSynth, "instrument"},
        {effFlagsNoSoundInStop, "no sound in stop"}, {effFlagsCanDoubleReplacing, "double replacing"},
    };
    std::string names;
    for (const auto& [bit, name] : flagNames)
    {
        if ((flags & bit) != 0)
            names += (names.empty() ? "" : ", ") + std::string(name);
    }
    return std::to_string(flags) + " (" + (names.empty() ? "none" : names) + ")";
}

// The identity, layout and flags, one "Key  value" line each.
void printIdentity(Effect& effect)
{
    static const char* const layouts[] = {" (main L/R)", " (main L/R, mono sidechain)", " (main L/R, sidechain L/R)"};
    const auto line = [](const char* key, const std::string& value) {
        std::cout << std::left << std::setw(16) << key << value << '\n';
    };
    line("Module", effect.module()->path());
    line("Effect", effect.queryText(effGetEffectName));
    line("Vendor", effect.queryText(effGetVendorString));
    line("Product", effect.queryText(effGetProductString));
    line("Vendor version", std::to_string(effect.dispatch(effGetVendorVersion)));
    line("Category", categoryText(effect.dispatch(effGetPlugCategory)));
    line("Unique ID", uniqueIdText(effect.uniqueId()));
    line("Inputs", std::to_string(effect.numInputs()) + layouts[effect.numInputs() - 2]);
    line("Outputs", std::to_string(effect.numOutputs()));
    line("Flags", flagsText(effect.flags()));
    line("Programs", std::to_string(effect.numPrograms()) + ", current: " + effect.queryText(effGetProgramName));
    line("Parameters", std::to_string(effect.numParameters()));
}

// Every parameter as the host shows it, with the range of Kestrune's own.
void printParameters(Effect& effect)
{
    std::cout << "\n  " << std::setw(7) << "Index" << std::setw(10) << "Name" << std::setw(7) << "Label"
              << std::setw(12) << "Default" << std::setw(12) << "Normalised"
              << (effect.hasKestruneParameters() ? "Range" : "") << '\n';
    for (VstInt32 index = 0; index < effect.numParameters(); ++index)
    {
        std::cout << "  " << std::setw(7) << index << std::setw(10) << effect.parameterName(index) << std::setw(7)
                  << effect.parameterLabel(index) << std::setw(12) << effect.parameterDisplay(index)
                  << std::setw(12) << formatValue(effect.getParameter(index));
        if (effect.hasKestruneParameters() && index < VAZiro::kNumParameters)
        {
            const VAZiro::KestruneParameterInfo& info = VAZiro::kParameterInfo[index];
            if (info.kind == VAZiro::ParameterKind::Switch)
                std::cout << "off below 0.5, on from 0.5";
            else
                std::cout << formatValue(info.minimum) << " .. " << formatValue(info.maximum)
                          << (info.label != nullptr ? std::string(" ") + info.label : std::string());
        }
        std::cout << '\n';
    }
}

// What a host sees: the identity, layout and flags, and every parameter.
void runInfo(const Options& options)
{
    Effect effect(loadModule(options.plugin));
    printIdentity(effect);
    printParameters(effect);
}

// The frames drawn: from first up to end.
struct Stretch
{
    std::int64_t first;
    std::int64_t end;
};

// --start and --end in frames of the input, which must say its length.
Stretch stretchDrawn(const Options& options, const AudioReader& input)
{
    if (input.frames() < 0)
        throw ToolError("cannot draw " + fileName(options.input) + ": the stream does not say its length "
                        "beforehand; give a file or a WAV stream");
    const double rate = input.sampleRate();
    // Times past the end are compared before rounding, which they would overflow.
    const double frames = static_cast<double>(input.frames());
    Stretch stretch{options.start * rate < frames ? std::llround(options.start * rate) : input.frames(),
                    input.frames()};
    if (stretch.first >= input.frames())
        throw UsageError("--start " + typedValue(options, "--start", options.start) + " lies past the end of the input (" +
                         seconds(input.frames() / rate) + ")");
    if (options.end >= 0.0 && options.end * rate < frames)
        stretch.end = std::llround(options.end * rate);
    if (options.end * rate > frames)
        note(options.quiet, "the input ends at " + seconds(input.frames() / rate) + ", before --end " +
                                typedValue(options, "--end", options.end));
    return stretch;
}

// The audio a render writes, in the format chosen for it; no writer for plot.
struct AudioOutput
{
    std::unique_ptr<AudioWriter> writer;
    int format = 0;
};

AudioOutput openAudioOutput(const Options& options, const AudioReader& input)
{
    if (options.output.empty())
        return {};
    std::string formatNote;
    const int format = chooseOutputFormat(options.output, options.type, sampleFormatFromName(options.format),
                                          input.format(), input.channels(), input.sampleRate(), &formatNote);
    note(options.quiet, formatNote);
    return {std::make_unique<AudioWriter>(options.output, format, input.channels(), input.sampleRate()), format};
}

// Puts the audio in place, with a note of the samples clipped on the way.
void commitAudio(AudioOutput& output, const Options& options)
{
    if (!output.writer)
        return;
    output.writer->commit();
    if (output.writer->clippedSamples() > 0)
        note(options.quiet, std::to_string(output.writer->clippedSamples()) + " samples beyond full scale were clipped " +
                                "in " + displayName(options.output) + " (" + describeSampleFormat(output.format) + ")");
}

// The effect's settings from the options, once it is known to take the sidechain given.
std::vector<ParameterSetting> settingsFor(Effect& effect, const Options& options, bool keyFile)
{
    if (keyFile && !effect.hasSidechainInputs())
        throw UsageError("--sidechain: " + effect.name() + " has 2 inputs, none for a sidechain");
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, keyFile);
    adviseOnSettings(effect, settings, keyFile, options.quiet);
    return settings;
}

// What the effect will hear of the sidechain besides the file itself: resampled, padded with silence.
void noteSidechainFit(const Options& options, const AudioReader& input, const AudioReader& sidechain)
{
    if (sidechain.sampleRate() != input.sampleRate())
        note(options.quiet, "resampling the sidechain from " + std::to_string(sidechain.sampleRate()) +
                                " Hz to the input's " + std::to_string(input.sampleRate()) + " Hz");
    const double inputSeconds = input.frames() / static_cast<double>(input.sampleRate());
    const double keySeconds = static_cast<double>(sidechain.frames()) / sidechain.sampleRate();
    if (input.frames() >= 0 && sidechain.frames() >= 0 && inputSeconds - keySeconds > 0.001)
        note(options.quiet, "the sidechain lasts " + seconds(keySeconds) + " and the input " + seconds(inputSeconds) +
                                ": the rest is keyed by silence");
}

// `render`, and `plot`, which is a render without audio output.
void runRender(const Options& options)
{
    const bool records = !options.picture.empty() || !options.data.empty();
    if (!records && (options.start != 0.0 || options.end >= 0.0))
        throw UsageError("--start and --end choose the stretch that is drawn; give --plot");
    checkFiles(options, options.output.empty() ? "-o" : "--plot");

    AudioReader input(options.input, "input");
    std::unique_ptr<AudioReader> sidechain;
    if (!options.sidechain.empty())
        sidechain = std::make_unique<AudioReader>(options.sidechain, "sidechain");
    AudioOutput output = openAudioOutput(options, input);
    const Stretch stretch = records ? stretchDrawn(options, input) : Stretch{0, input.frames()};

    Effect effect(loadModule(options.plugin));
    const std::vector<ParameterSetting> settings = settingsFor(effect, options, sidechain != nullptr);
    if (sidechain)
        noteSidechainFit(options, input, *sidechain);

    EnvelopeRecorder envelopes(stretch.first, stretch.end, input.sampleRate());
    RenderReport report = render(effect, input, sidechain.get(), output.writer.get(),
                                 {settings, options.blockSize, options.quiet, output.writer ? "render" : "plot"},
                                 records ? &envelopes : nullptr);
    const std::string shortfall = checkShortfall(input, sidechain.get(), options.keepPartial);
    Pictures pictures;
    if (records)
    {
        report.picture.title = effect.name() + ": " + fileName(options.input) +
                               (sidechain ? " keyed by " + fileName(options.sidechain) : std::string());
        pictures.add(options.picture, options.data, renderData(envelopes, report));
        pictures.draw(options.size);
    }
    commitAudio(output, options);
    commitPictures(pictures, shortfall);
}

void runCurve(const Options& options)
{
    checkFiles(options, "-o");
    Effect effect(loadModule(options.plugin));
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, false);
    adviseOnSettings(effect, settings, true, options.quiet);
    CurvePicture curve = measureTransferCurve(effect, settings, options.quiet);
    curve.title = "Static transfer curve of " + effect.name();
    Pictures pictures;
    pictures.add(options.picture, options.data, curveData(curve));
    pictures.draw(options.size);
    pictures.commit();
}

void run(const Options& options)
{
    if (options.command == "info")
        runInfo(options);
    else if (options.command == "curve")
        runCurve(options);
    else if (options.command == "demo")
        runDemo(options);
    else
        runRender(options);  // and plot, a render without audio output
}

// Where to read more after a usage error: the help of the command that was given, if any.
std::string helpHint(int argc, char** argv)
{
    const auto command = std::find_first_of(argv + 1, argv + argc, kCommandNames.begin(), kCommandNames.end());
    return command != argv + argc ? std::string(" (see kestrune ") + *command + " --help)" : " (see kestrune --help)";
}

}  // namespace
}  // namespace kestrune

int main(int argc, char** argv)
{
    kestrune::guardStandardDescriptors();
    kestrune::cleanUpOnSignals();
    try
    {
        // Nothing to run when --help or --version was answered.
        if (const std::optional<kestrune::Options> options = kestrune::parseCommandLine(argc, argv))
            kestrune::run(*options);
        // What was printed (info, the demo's summary, help, the version) is only done once it is out.
        kestrune::finishStandardOutput();
        return 0;
    }
    catch (const kestrune::ToolError& error)
    {
        std::fprintf(stderr, "kestrune: error: %s%s\n", error.what(),
                     error.exitCode == kestrune::kExitUsage ? kestrune::helpHint(argc, argv).c_str() : "");
        return error.exitCode;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "kestrune: error: %s\n", error.what());
        return kestrune::kExitFailure;
    }
}
