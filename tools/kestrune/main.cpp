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
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void requirePng(const std::string& path, const char* option)
{
    if (extensionOf(path) != "png")
        throw UsageError(std::string(option) + " " + path + ": pictures are written as PNG; name a .png file");
}

void refuseToOverwrite(const std::string& output, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
    {
        if (!input.empty() && sameFile(output, input))
            throw UsageError("refusing to write " + output + " over the input file " + input);
    }
}

void runInfo(const InfoOptions& options)
{
    Effect effect(loadModule(options.plugin));
    effect.describe(std::cout);
}

// `render`, and `plot`, which is a render without audio output.
void runRender(const RenderOptions& options)
{
    const bool writesAudio = !options.output.empty();
    const bool drawsPicture = !options.plot.empty();
    const std::vector<std::string> inputs = {options.input, options.sidechain};
    if (drawsPicture)
    {
        requirePng(options.plot, writesAudio ? "--plot" : "-o");
        refuseToOverwrite(options.plot, inputs);
    }
    if (writesAudio)
    {
        refuseToOverwrite(options.output, inputs);
        if (drawsPicture && options.plot == options.output)
            throw UsageError("the audio output and the picture cannot both be " + options.output);
    }

    FileSource input(options.input, "input");
    std::unique_ptr<FileSource> sidechain;
    if (!options.sidechain.empty())
        sidechain = std::make_unique<FileSource>(options.sidechain, "sidechain");

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

    RenderSettings renderSettings{settings, options.blockSize, drawsPicture, options.quiet,
                                  writesAudio ? "render" : "plot"};
    Renderer renderer(effect, renderSettings);
    std::unique_ptr<AudioWriter> writer;
    std::unique_ptr<WriterSink> sink;
    if (writesAudio)
    {
        writer = std::make_unique<AudioWriter>(options.output, format, input.channels(), input.sampleRate());
        sink = std::make_unique<WriterSink>(*writer);
    }
    EnvelopeRecorder recorder(input.frames(), input.sampleRate());
    std::vector<RenderObserver*> observers;
    if (drawsPicture)
        observers.push_back(&recorder);
    renderer.run(input, feed.get(), sink.get(), observers);

    std::unique_ptr<AtomicFile> picture;
    if (drawsPicture)
    {
        RenderPicture description;
        description.title = effect.name() + ": " + fileName(options.input) +
                            (sidechain ? " keyed by " + fileName(options.sidechain) : std::string());
        description.settings = describeSettings(effect);
        description.hasThreshold = effect.hasKestruneParameters();
        description.keyedBySidechain = renderer.keyedBySidechain();
        if (description.hasThreshold)
            description.thresholdDb = effect.engineering(VAZiro::kThreshold);
        description.gain = renderer.gainMeasurement();
        picture = std::make_unique<AtomicFile>(options.plot);
        drawPlots({renderPlotJob(recorder, description, picture->temporaryPath())});
    }

    if (writer)
    {
        writer->commit();
        if (writer->clippedSamples() > 0)
            note(options.quiet, std::to_string(writer->clippedSamples()) + " samples beyond full scale were clipped in " +
                                    options.output + " (" + describeSampleFormat(format) + ")");
    }
    if (picture)
        picture->commit();
}

void runCurve(const CurveOptions& options)
{
    requirePng(options.output, "-o");
    Effect effect(loadModule(options.plugin));
    const std::vector<ParameterSetting> settings = resolveParameters(options.parameters, effect, false);
    AtomicFile picture(options.output);
    CurvePicture curve = measureTransferCurve(effect, settings, options.quiet);
    curve.title = "Static transfer curve of " + effect.name();
    drawPlots({curvePlotJob(curve, picture.temporaryPath())});
    picture.commit();
}

int run(int argc, char** argv)
{
    CommandLine commandLine;
    if (!commandLine.parse(argc, argv))
        return kExitSuccess;
    switch (commandLine.command())
    {
    case Command::Info:
        runInfo(commandLine.info());
        break;
    case Command::Render:
    case Command::Plot:
        runRender(commandLine.render());
        break;
    case Command::Curve:
        runCurve(commandLine.curve());
        break;
    case Command::Demo:
        runDemo(commandLine.demo());
        break;
    }
    return kExitSuccess;
}

}  // namespace
}  // namespace kestrune

namespace
{

// Where to read more after a usage error: the help of the command that was given, if any.
std::string helpHint(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string word = argv[i];
        for (const char* command : {"info", "render", "plot", "curve", "demo"})
        {
            if (word == command)
                return " (see kestrune " + word + " --help)";
        }
    }
    return " (see kestrune --help)";
}

}  // namespace

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
                     error.exitCode() == kestrune::kExitUsage ? helpHint(argc, argv).c_str() : "");
        return error.exitCode();
    }
    catch (const khost::HostError& error)
    {
        std::fprintf(stderr, "kestrune: error: %s\n", error.what());
        return kestrune::kExitFailure;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "kestrune: error: %s\n", error.what());
        return kestrune::kExitFailure;
    }
}
