// kestrune: runs audio files through the Kestrune plug-in (or another VST 2.4 effect) loaded from
// its module through the host library, draws what it did, and synthesises a demonstration.
#include "AtomicFile.h"
#include "AudioFile.h"
#include "Cleanup.h"
#include "Cli.h"
#include "Demo.h"
#include "Effect.h"
#include "Plot.h"
#include "Render.h"
#include "ToolError.h"

#include "KestruneParameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>

namespace kestrune
{
namespace
{

void note(bool quiet, const std::string& text)
{
    if (!quiet)
        std::fprintf(stderr, "kestrune: note: %s\n", text.c_str());
}

void warn(const std::string& text)
{
    std::fprintf(stderr, "kestrune: warning: %s\n", text.c_str());
}

std::string fileName(const std::string& path)
{
    return path == "-" ? "standard input" : std::filesystem::path(path).filename().string();
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

void requireExtension(const std::string& path, const char* option, const std::vector<std::string>& extensions)
{
    if (!path.empty() && std::find(extensions.begin(), extensions.end(), extensionOf(path)) == extensions.end())
        throw UsageError(std::string(option) + " " + path + ": name a ." + extensions[0] + " file" +
                         (extensions.size() > 1 ? "; pictures are PNG, SVG or PDF by their extension" : ""));
}

// The picture by its extension, and the CSV beside it.
void requirePictureFiles(const Options& options, const char* pictureOption)
{
    requireExtension(options.picture, pictureOption, {std::begin(kPictureExtensions), std::end(kPictureExtensions)});
    requireExtension(options.data, "--data", {"csv"});
}

// Every output of a run: none may be an input or another output ("-" is a stream, not a file).
void checkOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i)
    {
        if (outputs[i].empty() || outputs[i] == "-")
            continue;
        std::error_code error;
        for (const std::string& input : inputs)
        {
            if (!input.empty() && input != "-" && std::filesystem::equivalent(outputs[i], input, error))
                throw UsageError("refusing to write " + outputs[i] + " over the input file " + input);
        }
        for (std::size_t j = 0; j < i; ++j)
        {
            if (outputs[i] == outputs[j])
                throw UsageError("two outputs cannot both be " + outputs[i]);
        }
    }
}

// Settings of Kestrune that leave the audio as it is, and a switch that keys it from silence.
void adviseOnSettings(Effect& effect, const std::vector<ParameterSetting>& settings, bool keyFile, bool quiet)
{
    if (!effect.hasKestruneParameters())
        return;
    effect.apply(settings);
    if (effect.engineering(VAZiro::kUseSidechain) != 0.0f && !keyFile)
        warn("'use SC' is on without a --sidechain file: the compressor is keyed by silence and leaves the audio "
             "as it is");
    else if (effect.engineering(VAZiro::kRatio) == 1.0f && effect.engineering(VAZiro::kMakeup) == 0.0f)
        note(quiet, "ratio 1:1 and 0 dB makeup leave the audio as it is; compress with e.g. --ratio 4 --threshold -20");
    else if (effect.engineering(VAZiro::kRatio) > 1.0f && effect.engineering(VAZiro::kThreshold) == 0.0f)
        note(quiet, "with the threshold at 0 dBFS only peaks above full scale are compressed; lower it, e.g. "
                    "--threshold -20");
}

void runInfo(const Options& options)
{
    Effect effect(loadModule(options.plugin));
    effect.describe(std::cout);
}

// `render`, and `plot`, which is a render without audio output.
void runRender(const Options& options)
{
    const bool writesAudio = !options.output.empty();
    const bool records = !options.picture.empty() || !options.data.empty();
    requirePictureFiles(options, writesAudio ? "--plot" : "-o");
    if (!records && (options.start != 0.0 || options.end >= 0.0))
        throw UsageError("--start and --end choose the stretch that is drawn; give --plot");
    if (options.input == "-" && options.sidechain == "-")
        throw UsageError("the input and the sidechain cannot both come from standard input");
    checkOutputs({options.output, options.picture, options.data}, {options.input, options.sidechain});

    AudioReader input(options.input, "input");
    std::unique_ptr<AudioReader> sidechain;
    if (!options.sidechain.empty())
        sidechain = std::make_unique<AudioReader>(options.sidechain, "sidechain");

    int format = 0;
    std::unique_ptr<AudioWriter> writer;
    if (writesAudio)
    {
        std::string formatNote;
        format = chooseOutputFormat(options.output, options.type,
                                    options.format.empty() ? 0 : sampleFormatFromName(options.format), input.format(),
                                    input.channels(), input.sampleRate(), &formatNote);
        if (!formatNote.empty())
            note(options.quiet, formatNote);
        writer = std::make_unique<AudioWriter>(options.output, format, input.channels(), input.sampleRate());
    }

    // The stretch drawn, in frames.
    const double rate = input.sampleRate();
    std::int64_t first = 0;
    std::int64_t end = input.frames();
    if (records)
    {
        if (input.frames() < 0)
            throw ToolError("cannot draw " + fileName(options.input) + ": the stream does not say its length "
                            "beforehand; give a file or a WAV stream");
        first = std::llround(options.start * rate);
        if (first >= input.frames())
            throw UsageError("--start " + formatValue(options.start) + " lies past the end of the input (" +
                             seconds(input.frames() / rate) + ")");
        if (options.end >= 0.0)
            end = std::min<std::int64_t>(end, std::llround(options.end * rate));
        if (options.end * rate > input.frames())
            note(options.quiet, "the input ends at " + seconds(input.frames() / rate) + ", before --end " +
                                    formatValue(options.end));
    }

    Effect effect(loadModule(options.plugin));
    if (sidechain && !effect.hasSidechainInputs())
        throw UsageError("--sidechain: " + effect.name() + " has 2 inputs, none for a sidechain");
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, sidechain != nullptr);
    adviseOnSettings(effect, settings, sidechain != nullptr, options.quiet);

    std::unique_ptr<SidechainFeed> feed;
    if (sidechain)
    {
        feed = std::make_unique<SidechainFeed>(*sidechain, input.sampleRate());
        if (feed->resampled())
            note(options.quiet, "resampling the sidechain from " + std::to_string(sidechain->sampleRate()) +
                                    " Hz to the input's " + std::to_string(input.sampleRate()) + " Hz");
        const double inputSeconds = input.frames() / rate;
        const double keySeconds = static_cast<double>(sidechain->frames()) / sidechain->sampleRate();
        if (input.frames() >= 0 && sidechain->frames() >= 0 && inputSeconds - keySeconds > 0.001)
            note(options.quiet, "the sidechain lasts " + seconds(keySeconds) + " and the input " +
                                    seconds(inputSeconds) + ": the rest is keyed by silence");
    }

    Renderer renderer(effect, {settings, options.blockSize, records, options.quiet, writesAudio ? "render" : "plot"});
    EnvelopeRecorder recorder(first, end, input.sampleRate());
    std::vector<RenderObserver*> observers;
    if (records)
        observers.push_back(&recorder);
    renderer.run(input, feed.get(), writer.get(), observers);

    std::unique_ptr<PlotFiles> plot;
    if (records)
    {
        const std::string title = effect.name() + ": " + fileName(options.input) +
                                  (sidechain ? " keyed by " + fileName(options.sidechain) : std::string());
        plot = std::make_unique<PlotFiles>(options.picture, options.data, recorder,
                                           describeRender(effect, renderer, title));
        drawPlots({plot.get()}, options.size);
    }

    if (writer)
    {
        writer->commit();
        if (writer->clippedSamples() > 0)
            note(options.quiet, std::to_string(writer->clippedSamples()) + " samples beyond full scale were clipped in " +
                                    displayName(options.output) + " (" + describeSampleFormat(format) + ")");
    }
    if (plot)
        plot->commit();
}

void runCurve(const Options& options)
{
    requirePictureFiles(options, "-o");
    checkOutputs({options.picture, options.data}, {});
    Effect effect(loadModule(options.plugin));
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, false);
    adviseOnSettings(effect, settings, true, options.quiet);
    CurvePicture curve = measureTransferCurve(effect, settings, options.quiet);
    curve.title = "Static transfer curve of " + effect.name();
    PlotFiles plot(options.picture, options.data, curve);
    drawPlots({&plot}, options.size);
    plot.commit();
}

int run(int argc, char** argv)
{
    const std::optional<Options> options = parseCommandLine(argc, argv);
    if (!options)
        return kExitSuccess;
    switch (options->command)
    {
    case Command::Info:
        runInfo(*options);
        break;
    case Command::Render:
    case Command::Plot:
        runRender(*options);
        break;
    case Command::Curve:
        runCurve(*options);
        break;
    case Command::Demo:
        runDemo(*options);
        break;
    }
    return kExitSuccess;
}

// Where to read more after a usage error: the help of the command that was given, if any.
std::string helpHint(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::find(std::begin(kCommandNames), std::end(kCommandNames), std::string_view(argv[i])) !=
            std::end(kCommandNames))
            return std::string(" (see kestrune ") + argv[i] + " --help)";
    }
    return " (see kestrune --help)";
}

}  // namespace
}  // namespace kestrune

int main(int argc, char** argv)
{
    kestrune::cleanUpOnSignals();
    try
    {
        return kestrune::run(argc, argv);
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
