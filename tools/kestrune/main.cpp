// kestrune: runs audio files through the Kestrune plug-in (or another VST 2.4 effect) loaded from
// its module through the host library, draws what it did, and synthesises a demonstration.
#include "AtomicFile.h"
#include "AudioFile.h"
#include "Cli.h"
#include "Demo.h"
#include "Effect.h"
#include "Plot.h"
#include "Render.h"
#include "ToolError.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>

namespace kestrune
{
namespace
{

void note(bool quiet, const std::string& text)
{
    if (!quiet)
        std::fprintf(stderr, "kestrune: note: %s\n", text.c_str());
}

std::string fileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

void requireExtension(const std::string& path, const char* option, const char* extension)
{
    if (!path.empty() && extensionOf(path) != extension)
        throw UsageError(std::string(option) + " " + path + ": name a ." + extension + " file" +
                         (extension == std::string("png") ? "; pictures are written as PNG" : ""));
}

// Every output of a run: none may be an input or another output.
void checkOutputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i)
    {
        std::error_code error;
        for (const std::string& input : inputs)
        {
            if (!outputs[i].empty() && !input.empty() && std::filesystem::equivalent(outputs[i], input, error))
                throw UsageError("refusing to write " + outputs[i] + " over the input file " + input);
        }
        for (std::size_t j = 0; j < i; ++j)
        {
            if (!outputs[i].empty() && outputs[i] == outputs[j])
                throw UsageError("two outputs cannot both be " + outputs[i]);
        }
    }
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
    requireExtension(options.picture, writesAudio ? "--plot" : "-o", "png");
    requireExtension(options.data, "--data", "csv");
    checkOutputs({options.output, options.picture, options.data}, {options.input, options.sidechain});

    AudioReader input(options.input, "input");
    std::unique_ptr<AudioReader> sidechain;
    if (!options.sidechain.empty())
        sidechain = std::make_unique<AudioReader>(options.sidechain, "sidechain");

    int format = 0;
    if (writesAudio)
    {
        std::string formatNote;
        format = chooseOutputFormat(options.output, options.format.empty() ? 0 : sampleFormatFromName(options.format),
                                    input.format(), input.channels(), input.sampleRate(), &formatNote);
        if (!formatNote.empty())
            note(options.quiet, formatNote);
    }

    Effect effect(loadModule(options.plugin));
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, sidechain != nullptr);

    std::unique_ptr<SidechainFeed> feed;
    if (sidechain)
    {
        feed = std::make_unique<SidechainFeed>(*sidechain, input.sampleRate());
        if (feed->resampled())
            note(options.quiet, "resampling the sidechain from " + std::to_string(sidechain->sampleRate()) +
                                    " Hz to the input's " + std::to_string(input.sampleRate()) + " Hz");
    }

    Renderer renderer(effect, {settings, options.blockSize, records, options.quiet, writesAudio ? "render" : "plot"});
    std::unique_ptr<AudioWriter> writer;
    if (writesAudio)
        writer = std::make_unique<AudioWriter>(options.output, format, input.channels(), input.sampleRate());
    EnvelopeRecorder recorder(input.frames(), input.sampleRate());
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
        drawPlots({plot.get()});
    }

    if (writer)
    {
        writer->commit();
        if (writer->clippedSamples() > 0)
            note(options.quiet, std::to_string(writer->clippedSamples()) + " samples beyond full scale were clipped in " +
                                    options.output + " (" + describeSampleFormat(format) + ")");
    }
    if (plot)
        plot->commit();
}

void runCurve(const Options& options)
{
    requireExtension(options.picture, "-o", "png");
    requireExtension(options.data, "--data", "csv");
    checkOutputs({options.picture, options.data}, {});
    Effect effect(loadModule(options.plugin));
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, false);
    CurvePicture curve = measureTransferCurve(effect, settings, options.quiet);
    curve.title = "Static transfer curve of " + effect.name();
    PlotFiles plot(options.picture, options.data, curve);
    drawPlots({&plot});
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
        for (const char* command : kCommandNames)
        {
            if (argv[i] == std::string(command))
                return std::string(" (see kestrune ") + command + " --help)";
        }
    }
    return " (see kestrune --help)";
}

}  // namespace
}  // namespace kestrune

int main(int argc, char** argv)
{
    kestrune::removeTemporaryFilesOnSignals();
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
