#include "Plot.h"

#include "KestruneParameters.h"
#include "PlotScript.h"
#include "Progress.h"
#include "ToolError.h"

#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace kestrune
{

namespace
{

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The curve is measured at this rate with 1 kHz tones.
constexpr double kCurveRate = 48000.0;
constexpr double kToneHz = 1000.0;
constexpr VstInt32 kCurveBlock = 512;

std::string number(double value)
{
    if (std::isnan(value))
        return "nan";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.7g", value);
    return buffer;
}

// Escapes nothing: the data format is one "key value" pair per line, so values lose line breaks.
std::string oneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string temporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/kestrune-plot-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw ToolError("cannot create a temporary folder for the plot data: " + std::string(std::strerror(errno)));
    return buffer.data();
}

std::string pythonInterpreter()
{
    const char* configured = std::getenv("KESTRUNE_PYTHON");
    return configured != nullptr && *configured != 0 ? configured : KESTRUNE_PYTHON;
}

// Runs the interpreter with the script and arguments; returns its exit status and what it wrote
// to standard error.
int runScript(const std::vector<std::string>& arguments, std::string& errors)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw ToolError("cannot start the plotting script: " + std::string(std::strerror(errno)));

    const std::string python = pythonInterpreter();
    std::vector<std::string> words = {python, "-c", kPlotScript};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0)
        throw ToolError("cannot start the plotting script: " + std::string(std::strerror(errno)));
    if (child == 0)
    {
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0)
            ::dup2(devNull, STDOUT_FILENO);
        ::execvp(argv[0], argv.data());
        const std::string message = "cannot run " + python + ": " + std::strerror(errno) + "\n";
        const ssize_t ignored = ::write(STDERR_FILENO, message.data(), message.size());
        (void)ignored;
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
    {
        if (got > 0)
            errors.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return status;
}

std::string lastLine(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    std::string last;
    while (std::getline(lines, line))
    {
        if (!line.empty())
            last = line;
    }
    return last;
}

}  // namespace

// --- envelopes -----------------------------------------------------------------------------------

EnvelopeRecorder::EnvelopeRecorder(std::int64_t totalFrames, int sampleRate)
    : m_total(std::max<std::int64_t>(totalFrames, 1)), m_sampleRate(sampleRate),
      m_columns(static_cast<std::size_t>(std::min<std::int64_t>(kColumns, m_total)),
                Column{0, 0, 0, 0, 0, 0, kNaN, false})
{
}

void EnvelopeRecorder::observe(const RenderBlock& block)
{
    const std::int64_t columnCount = static_cast<std::int64_t>(m_columns.size());
    for (std::size_t i = 0; i < block.frames; ++i, ++m_position)
    {
        // A file may hold more frames than its header said; they go to the last column.
        const std::int64_t index = std::min(m_position * columnCount / m_total, columnCount - 1);
        Column& column = m_columns[static_cast<std::size_t>(index)];
        const float input[2] = {block.inputLeft[i], block.inputRight[i]};
        const float key[2] = {block.keyLeft[i], block.keyRight[i]};
        const float output[2] = {block.outputLeft[i], block.outputRight[i]};
        if (!column.used)
        {
            column = Column{input[0], input[0], key[0], key[0], output[0], output[0], kNaN, true};
        }
        for (int channel = 0; channel < 2; ++channel)
        {
            column.inputMin = std::min(column.inputMin, input[channel]);
            column.inputMax = std::max(column.inputMax, input[channel]);
            column.keyMin = std::min(column.keyMin, key[channel]);
            column.keyMax = std::max(column.keyMax, key[channel]);
            column.outputMin = std::min(column.outputMin, output[channel]);
            column.outputMax = std::max(column.outputMax, output[channel]);
        }
        if (block.gain != nullptr && !std::isnan(block.gain[i]))
            column.gainMin = std::isnan(column.gainMin) ? block.gain[i] : std::min(column.gainMin, block.gain[i]);
    }
}

// --- settings ------------------------------------------------------------------------------------

std::string describeSettings(Effect& effect)
{
    char text[256];
    if (effect.hasKestruneParameters())
    {
        using namespace VAZiro;
        std::snprintf(text, sizeof text, "attack %g ms, release %g ms, ratio %g:1, threshold %g dB, makeup %g dB",
                      static_cast<double>(effect.engineering(kAttack)), static_cast<double>(effect.engineering(kRelease)),
                      static_cast<double>(effect.engineering(kRatio)), static_cast<double>(effect.engineering(kThreshold)),
                      static_cast<double>(effect.engineering(kMakeup)));
        return text;
    }
    std::string settings;
    khost::PluginInstance& instance = effect.instance();
    for (VstInt32 index = 0; index < instance.numParameters(); ++index)
    {
        std::string label = instance.parameterLabel(index);
        settings += (index == 0 ? "" : ", ") + instance.parameterName(index) + " " + instance.parameterDisplay(index) +
                    (label.empty() ? "" : " " + label);
    }
    return settings;
}

// --- the transfer curve --------------------------------------------------------------------------

CurvePicture measureTransferCurve(Effect& effect, const std::vector<ParameterSetting>& settings, bool quiet)
{
    std::vector<ParameterSetting> selfKeyed = settings;
    if (effect.hasKestruneParameters())
        selfKeyed.push_back({VAZiro::kUseSidechain, VAZiro::useSidechainToNormalised(false)});
    effect.apply(selfKeyed);
    effect.start(static_cast<float>(kCurveRate), kCurveBlock);

    CurvePicture picture;
    double ratio = 1.0;
    double makeupDb = 0.0;
    double steadySeconds = 2.0;
    double sineSeconds = 2.0;
    if (effect.hasKestruneParameters())
    {
        using namespace VAZiro;
        picture.hasThreshold = true;
        picture.thresholdDb = effect.engineering(kThreshold);
        ratio = effect.engineering(kRatio);
        makeupDb = effect.engineering(kMakeup);
        // From rest a steady key only rises, so the attack time alone sets the settling; the sine's
        // key falls at every zero crossing, so its envelope also needs the release to settle.
        const double attack = effect.engineering(kAttack) / 1000.0;
        const double release = effect.engineering(kRelease) / 1000.0;
        steadySeconds = 16.0 * attack + 0.02;
        sineSeconds = 12.0 * (attack + release) + 0.1;
    }
    picture.settings = describeSettings(effect);

    const std::size_t block = kCurveBlock;
    std::vector<float> left(block), right(block), silence(block), outLeft(block), outRight(block);
    const std::size_t halfPeriod = static_cast<std::size_t>(std::lround(kCurveRate / kToneHz / 2.0));
    const double measureSeconds = 0.02;

    // Output peak of the last measureSeconds of `seconds` of a tone at amplitude, from rest.
    auto measure = [&](float amplitude, bool square, double seconds) {
        effect.restart();
        const std::int64_t total = static_cast<std::int64_t>(std::ceil(seconds * kCurveRate));
        const std::int64_t measureFrom = total - static_cast<std::int64_t>(measureSeconds * kCurveRate);
        double peak = 0.0;
        for (std::int64_t start = 0; start < total; start += static_cast<std::int64_t>(block))
        {
            const std::size_t frames = static_cast<std::size_t>(std::min<std::int64_t>(block, total - start));
            for (std::size_t i = 0; i < frames; ++i)
            {
                const std::int64_t n = start + static_cast<std::int64_t>(i);
                const float sample =
                    square ? ((static_cast<std::size_t>(n) / halfPeriod) % 2 == 0 ? amplitude : -amplitude)
                           : static_cast<float>(amplitude * std::sin(2.0 * M_PI * kToneHz * static_cast<double>(n) /
                                                                     kCurveRate));
                left[i] = sample;
                right[i] = sample;
                silence[i] = 0.0f;
            }
            float* inputs[4] = {left.data(), right.data(), silence.data(), silence.data()};
            float* outputs[2] = {outLeft.data(), outRight.data()};
            effect.instance().process(inputs, outputs, static_cast<VstInt32>(frames));
            for (std::size_t i = 0; i < frames; ++i)
            {
                if (start + static_cast<std::int64_t>(i) >= measureFrom)
                    peak = std::max({peak, static_cast<double>(std::fabs(outLeft[i])),
                                     static_cast<double>(std::fabs(outRight[i]))});
            }
        }
        return toDb(peak);
    };

    const double secondsPerLevel = steadySeconds + sineSeconds;
    ProgressBar progress("curve", static_cast<std::int64_t>(81 * secondsPerLevel * kCurveRate), kCurveRate, quiet);
    for (int level = -80; level <= 0; ++level)
    {
        const float amplitude = static_cast<float>(std::pow(10.0, level / 20.0));
        CurvePoint point;
        point.inputDb = toDb(amplitude);
        point.steadyDb = measure(amplitude, true, steadySeconds);
        point.sineDb = measure(amplitude, false, sineSeconds);
        if (picture.hasThreshold)
        {
            const double over = point.inputDb - picture.thresholdDb;
            point.idealDb = (over > 0.0 ? picture.thresholdDb + over / ratio : point.inputDb) + makeupDb;
        }
        else
            point.idealDb = std::nan("");
        picture.points.push_back(point);
        progress.advance(static_cast<std::int64_t>(secondsPerLevel * kCurveRate));
    }
    return picture;
}

// --- drawing -------------------------------------------------------------------------------------

PlotJob renderPlotJob(const EnvelopeRecorder& recorder, const RenderPicture& picture, const std::string& pngPath)
{
    std::ostringstream data;
    data << "kind render\n"
         << "title " << oneLine(picture.title) << '\n'
         << "settings " << oneLine(picture.settings) << '\n'
         << "keyed_by_sidechain " << (picture.keyedBySidechain ? 1 : 0) << '\n'
         << "threshold_db " << (picture.hasThreshold ? number(picture.thresholdDb) : "nan") << '\n'
         << "gain "
         << (picture.gain == GainMeasurement::Probe ? "probe"
                                                    : picture.gain == GainMeasurement::Ratio ? "ratio" : "none")
         << '\n'
         << "columns time input_min input_max key_min key_max output_min output_max gain_db\n";
    const auto& columns = recorder.columns();
    const double frames = static_cast<double>(std::max<std::int64_t>(recorder.framesSeen(), 1));
    for (std::size_t c = 0; c < columns.size(); ++c)
    {
        const EnvelopeRecorder::Column& column = columns[c];
        if (!column.used)
            continue;
        const double time = frames * (static_cast<double>(c) + 0.5) / static_cast<double>(columns.size()) /
                            recorder.sampleRate();
        data << number(time) << ' ' << number(column.inputMin) << ' ' << number(column.inputMax) << ' '
             << number(column.keyMin) << ' ' << number(column.keyMax) << ' ' << number(column.outputMin) << ' '
             << number(column.outputMax) << ' ' << number(std::isnan(column.gainMin) ? kNaN : toDb(column.gainMin))
             << '\n';
    }
    return {data.str(), pngPath};
}

PlotJob curvePlotJob(const CurvePicture& picture, const std::string& pngPath)
{
    std::ostringstream data;
    data << "kind curve\n"
         << "title " << oneLine(picture.title) << '\n'
         << "settings " << oneLine(picture.settings) << '\n'
         << "threshold_db " << (picture.hasThreshold ? number(picture.thresholdDb) : "nan") << '\n'
         << "columns input_db steady_db sine_db ideal_db\n";
    for (const CurvePoint& point : picture.points)
        data << number(point.inputDb) << ' ' << number(point.steadyDb) << ' ' << number(point.sineDb) << ' '
             << number(point.idealDb) << '\n';
    return {data.str(), pngPath};
}

void drawPlots(const std::vector<PlotJob>& jobs)
{
    const std::string folder = temporaryFolder();
    std::vector<std::string> dataFiles;
    std::vector<std::string> arguments;
    auto cleanUp = [&] {
        for (const std::string& file : dataFiles)
            ::unlink(file.c_str());
        ::rmdir(folder.c_str());
    };
    try
    {
        for (std::size_t i = 0; i < jobs.size(); ++i)
        {
            const std::string file = folder + "/plot" + std::to_string(i) + ".txt";
            dataFiles.push_back(file);
            std::ofstream out(file);
            out << jobs[i].dataText;
            if (!out.flush())
                throw ToolError("cannot write the plot data to " + file);
            arguments.push_back(file);
            arguments.push_back(jobs[i].pngPath);
        }
        std::string errors;
        const int status = runScript(arguments, errors);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        {
            const std::string reason = lastLine(errors);
            if (reason.find("No module named 'matplotlib'") != std::string::npos)
                throw ToolError("plotting needs matplotlib for " + pythonInterpreter() +
                                " (Debian: apt-get install python3-matplotlib)");
            throw ToolError("plotting failed: " + (reason.empty() ? std::string("the script ended abnormally") : reason));
        }
    }
    catch (...)
    {
        cleanUp();
        throw;
    }
    cleanUp();
}

}  // namespace kestrune
