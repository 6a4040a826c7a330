#include "Render.h"

#include "ToolError.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace kestrune
{

namespace
{

using VAZiro::lin2dB;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Frames the sidechain is read and resampled in, whatever the render's block size.
constexpr std::size_t kSidechainChunk = 4096;

// Inputs below this peak level give no gain estimate in the ratio measurement.
constexpr float kRatioFloor = 1e-3f;  // -60 dBFS

constexpr double kCurveRate = 48000.0;
constexpr double kToneHz = 1000.0;
constexpr std::size_t kCurveBlock = 512;
constexpr double kMeasureSeconds = 0.02;

// A progress bar on standard error for long renders. It is drawn only when standard error is a
// terminal, the run is not --quiet and the audio is longer than 10 s, so scripts, pipes and logs
// never see it. The line is cleared when the bar is destroyed.
class ProgressBar
{
public:
    ProgressBar(std::string label, std::int64_t totalFrames, double sampleRate, bool quiet)
        : m_label(std::move(label)), m_total(totalFrames), m_sampleRate(sampleRate),
          m_enabled(!quiet && ::isatty(STDERR_FILENO) != 0 && sampleRate > 0.0 &&
                    static_cast<double>(totalFrames) / sampleRate > 10.0)
    {
    }

    ~ProgressBar()
    {
        if (m_drawn)
        {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
    }

    // Counts frames rendered; redraws at most ten times a second.
    void advance(std::int64_t frames)
    {
        if (!m_enabled)
            return;
        m_done += frames;
        const auto now = std::chrono::steady_clock::now();
        if (m_drawn && now - m_lastDraw < std::chrono::milliseconds(100) && m_done < m_total)
            return;
        m_lastDraw = now;
        struct winsize terminal{};
        const bool sized = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &terminal) == 0 && terminal.ws_col > 0;
        const std::string line = formatProgressLine(m_label, static_cast<double>(m_done) / m_sampleRate,
                                                    static_cast<double>(m_total) / m_sampleRate,
                                                    sized ? terminal.ws_col : 80);
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

private:
    std::string m_label;
    std::int64_t m_total;
    std::int64_t m_done = 0;
    double m_sampleRate;
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// The output peak in dBFS at the end of `seconds` of a tone at amplitude, played from rest.
double settledPeakDb(Effect& effect, float amplitude, bool square, double seconds)
{
    effect.suspend();  // back to rest
    effect.resume();
    const std::int64_t total = static_cast<std::int64_t>(std::ceil(seconds * kCurveRate));
    const std::int64_t measureFrom = total - static_cast<std::int64_t>(kMeasureSeconds * kCurveRate);
    const std::int64_t halfPeriod = std::lround(kCurveRate / kToneHz / 2.0);
    std::vector<float> left(kCurveBlock), right(kCurveBlock), silence(kCurveBlock);
    std::vector<float> outLeft(kCurveBlock), outRight(kCurveBlock);
    double peak = 0.0;
    for (std::int64_t start = 0; start < total; start += static_cast<std::int64_t>(kCurveBlock))
    {
        const std::int64_t frames = std::min<std::int64_t>(kCurveBlock, total - start);
        for (std::int64_t i = 0, n = start; i < frames; ++i, ++n)
        {
            const double phase = 2.0 * M_PI * kToneHz * static_cast<double>(n) / kCurveRate;
            left[i] = right[i] = square ? (n / halfPeriod % 2 == 0 ? amplitude : -amplitude)
                                        : static_cast<float>(amplitude * std::sin(phase));
            silence[i] = 0.0f;  // an effect may write into its inputs
        }
        float* inputs[4] = {left.data(), right.data(), silence.data(), silence.data()};
        float* outputs[2] = {outLeft.data(), outRight.data()};
        effect.process(inputs, outputs, static_cast<VstInt32>(frames));
        for (std::int64_t i = std::max<std::int64_t>(0, measureFrom - start); i < frames; ++i)
            peak = std::max({peak, static_cast<double>(std::fabs(outLeft[i])),
                             static_cast<double>(std::fabs(outRight[i]))});
    }
    return lin2dB(peak);
}

// The settings of effect in one line ("attack 10 ms, ..." for Kestrune's parameters, every
// parameter's name and display text for another effect) and its threshold when it has one.
PictureText describeEffect(Effect& effect)
{
    PictureText picture;
    for (VstInt32 index = 0; index < effect.numParameters(); ++index)
    {
        std::string words;
        if (effect.hasKestruneParameters() && index < VAZiro::kNumParameters)
        {
            // The switch shows in the picture as what keyed the compressor.
            const VAZiro::KestruneParameterInfo& info = VAZiro::kParameterInfo[index];
            if (info.kind == VAZiro::ParameterKind::Number)
                words = info.symbol + (" " + formatValue(effect.engineering(index))) +
                        (*info.unit != 0 ? std::string(" ") + info.unit : std::string());
        }
        else
        {
            // Effects pad their texts with blanks.
            for (std::string text : {effect.parameterName(index), effect.parameterDisplay(index),
                                     effect.parameterLabel(index)})
            {
                text.erase(text.find_last_not_of(' ') + 1);
                text.erase(0, text.find_first_not_of(' '));
                if (!text.empty())
                    words += (words.empty() ? "" : " ") + text;
            }
        }
        if (!words.empty())
            picture.settings += (picture.settings.empty() ? "" : ", ") + words;
    }
    picture.hasThreshold = effect.hasKestruneParameters();
    picture.thresholdDb = picture.hasThreshold ? effect.engineering(VAZiro::kThreshold) : 0.0;
    return picture;
}

}  // namespace

std::string formatProgressLine(const std::string& label, double seconds, double totalSeconds, int width)
{
    const double fraction = totalSeconds > 0.0 ? std::clamp(seconds / totalSeconds, 0.0, 1.0) : 1.0;
    const std::string numbers = printed("%3d%%  %.1f of %.1f s", static_cast<int>(fraction * 100.0), seconds,
                                        totalSeconds);

    // label, two blanks, [bar], two blanks, numbers; the bar takes what is left and is left out
    // when fewer than 10 columns remain for it (the line is then cut to the width).
    const int barWidth = width - 1 - static_cast<int>(label.size() + numbers.size()) - 6;
    if (barWidth < 10)
    {
        const std::string line = label + "  " + numbers;
        return width > 1 ? line.substr(0, static_cast<std::size_t>(width - 1)) : line;
    }
    const int filled = static_cast<int>(fraction * barWidth);
    return label + "  [" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]  " + numbers;
}

// --- the sidechain -------------------------------------------------------------------------------

SidechainFeed::SidechainFeed(FrameSource& source, int targetRate) : m_source(source), m_chunk(2 * kSidechainChunk)
{
    if (source.sampleRate() == targetRate)
        return;
    int error = 0;
    m_resampler.reset(src_callback_new(&SidechainFeed::supply, SRC_SINC_MEDIUM_QUALITY, 2, &error, this));
    if (m_resampler == nullptr)
        throw ToolError(std::string("cannot resample the sidechain: ") + src_strerror(error));
    m_ratio = static_cast<double>(targetRate) / source.sampleRate();
    m_sourceFrames.resize(2 * kSidechainChunk);
}

long SidechainFeed::supply(void* feed, float** data)
{
    // Called by libsamplerate: no exception may cross it, so a read error waits in m_sourceError.
    SidechainFeed& self = *static_cast<SidechainFeed*>(feed);
    std::size_t count = 0;
    try
    {
        count = self.m_source.read(self.m_sourceFrames.data(), kSidechainChunk);
    }
    catch (...)
    {
        self.m_sourceError = std::current_exception();
    }
    *data = self.m_sourceFrames.data();
    return static_cast<long>(count);
}

void SidechainFeed::refill()
{
    long produced = 0;
    if (m_resampler == nullptr)
        produced = static_cast<long>(m_source.read(m_chunk.data(), kSidechainChunk));
    else
    {
        produced = src_callback_read(m_resampler.get(), m_ratio, static_cast<long>(kSidechainChunk), m_chunk.data());
        if (m_sourceError)
            std::rethrow_exception(m_sourceError);
        const int error = src_error(m_resampler.get());
        if (produced < 0 || error != 0)
            throw ToolError(std::string("cannot resample the sidechain: ") + src_strerror(error));
    }
    m_chunkPosition = 0;
    m_chunkFrames = static_cast<std::size_t>(produced);
    m_ended = produced == 0;
}

void SidechainFeed::read(float* left, float* right, std::size_t frames)
{
    for (std::size_t done = 0; done < frames;)
    {
        if (m_chunkPosition == m_chunkFrames && !m_ended)
            refill();
        if (m_ended)
        {
            std::fill(left + done, left + frames, 0.0f);
            std::fill(right + done, right + frames, 0.0f);
            return;
        }
        const std::size_t end = std::min(frames, done + m_chunkFrames - m_chunkPosition);
        for (; done < end; ++done, ++m_chunkPosition)
        {
            left[done] = m_chunk[2 * m_chunkPosition];
            right[done] = m_chunk[2 * m_chunkPosition + 1];
        }
    }
}

// --- levels and envelopes ------------------------------------------------------------------------

void LevelMeter::observe(const RenderBlock& block)
{
    for (std::size_t i = 0; i < block.frames; ++i)
    {
        m_input.add(block.inputLeft[i]);
        m_input.add(block.inputRight[i]);
        m_output.add(block.outputLeft[i]);
        m_output.add(block.outputRight[i]);
        if (block.gain != nullptr && !std::isnan(block.gain[i]))
            m_minimumGain = std::min(m_minimumGain, static_cast<double>(block.gain[i]));
    }
}

EnvelopeRecorder::EnvelopeRecorder(std::int64_t first, std::int64_t end, int sampleRate)
    : m_first(first), m_end(std::max(end, first + 1)), m_sampleRate(sampleRate),
      m_columns(static_cast<std::size_t>(std::min<std::int64_t>(kColumns, m_end - m_first)),
                Column{0, 0, 0, 0, 0, 0, kNaN, false})
{
}

void EnvelopeRecorder::observe(const RenderBlock& block)
{
    const std::int64_t columnCount = static_cast<std::int64_t>(m_columns.size());
    for (std::size_t i = 0; i < block.frames; ++i, ++m_position)
    {
        if (m_position < m_first || m_position >= m_end)
            continue;
        const std::int64_t index = (m_position - m_first) * columnCount / (m_end - m_first);
        Column& column = m_columns[static_cast<std::size_t>(index)];
        if (!column.used)
            column = Column{block.inputLeft[i], block.inputLeft[i], block.keyLeft[i], block.keyLeft[i],
                            block.outputLeft[i], block.outputLeft[i], kNaN, true};
        column.inputMin = std::min({column.inputMin, block.inputLeft[i], block.inputRight[i]});
        column.inputMax = std::max({column.inputMax, block.inputLeft[i], block.inputRight[i]});
        column.keyMin = std::min({column.keyMin, block.keyLeft[i], block.keyRight[i]});
        column.keyMax = std::max({column.keyMax, block.keyLeft[i], block.keyRight[i]});
        column.outputMin = std::min({column.outputMin, block.outputLeft[i], block.outputRight[i]});
        column.outputMax = std::max({column.outputMax, block.outputLeft[i], block.outputRight[i]});
        if (block.gain != nullptr && !std::isnan(block.gain[i]))
            column.gainMin = std::isnan(column.gainMin) ? block.gain[i] : std::min(column.gainMin, block.gain[i]);
    }
}

// --- the render loop -----------------------------------------------------------------------------

namespace
{

// The buffers of a render, a block long each, and the steps every block takes through them.
class RenderBlocks
{
public:
    RenderBlocks(std::size_t block, bool keyedBySidechain)
        : m_stereo(2 * block), m_inputLeft(block), m_inputRight(block), m_sideLeft(block), m_sideRight(block),
          m_outputLeft(block), m_outputRight(block), m_gain(block), m_gainRight(block), m_ones(block),
          m_keyLeft(keyedBySidechain ? m_sideLeft.data() : m_inputLeft.data()),
          m_keyRight(keyedBySidechain ? m_sideRight.data() : m_inputRight.data())
    {
    }

    // The next frames of main on the input channels; how many, 0 at the end.
    std::size_t readMain(FrameSource& main)
    {
        const std::size_t frames = main.read(m_stereo.data(), m_inputLeft.size());
        for (std::size_t i = 0; i < frames; ++i)
        {
            m_inputLeft[i] = m_stereo[2 * i];
            m_inputRight[i] = m_stereo[2 * i + 1];
        }
        return frames;
    }

    // The key on the sidechain inputs, both sides alike for a mono sidechain input; silence without one.
    void readSidechain(SidechainFeed* sidechain, std::size_t frames, bool monoInput)
    {
        if (sidechain == nullptr)
        {
            // An effect may write into its inputs: fresh silence every block.
            std::fill(m_sideLeft.begin(), m_sideLeft.end(), 0.0f);
            std::fill(m_sideRight.begin(), m_sideRight.end(), 0.0f);
            return;
        }
        sidechain->read(m_sideLeft.data(), m_sideRight.data(), frames);
        for (std::size_t i = 0; monoInput && i < frames; ++i)
            m_sideLeft[i] = m_sideRight[i] = 0.5f * (m_sideLeft[i] + m_sideRight[i]);
    }

    void process(Effect& effect, std::size_t frames)
    {
        float* inputs[4] = {m_inputLeft.data(), m_inputRight.data(), m_sideLeft.data(), m_sideRight.data()};
        float* outputs[2] = {m_outputLeft.data(), m_outputRight.data()};
        effect.process(inputs, outputs, static_cast<VstInt32>(frames));
    }

    // The gain applied, as the probe's output for a constant 1.0 keyed by the same key.
    void probeGain(Effect& probe, std::size_t frames)
    {
        std::fill(m_ones.begin(), m_ones.end(), 1.0f);
        float* inputs[4] = {m_ones.data(), m_ones.data(), m_keyLeft, m_keyRight};
        float* outputs[2] = {m_gain.data(), m_gainRight.data()};
        probe.process(inputs, outputs, static_cast<VstInt32>(frames));
    }

    // The gain applied, estimated as output peak over input peak where the input is loud enough.
    void estimateGain(std::size_t frames)
    {
        for (std::size_t i = 0; i < frames; ++i)
        {
            const float in = std::max(std::fabs(m_inputLeft[i]), std::fabs(m_inputRight[i]));
            const float out = std::max(std::fabs(m_outputLeft[i]), std::fabs(m_outputRight[i]));
            m_gain[i] = in >= kRatioFloor ? out / in : kNaN;
        }
    }

    void write(AudioWriter& output, std::size_t frames)
    {
        output.writeStereo(m_outputLeft.data(), m_outputRight.data(), frames);
    }

    RenderBlock view(std::size_t frames, bool withGain) const
    {
        return {m_inputLeft.data(),  m_inputRight.data(),  m_keyLeft, m_keyRight, m_outputLeft.data(),
                m_outputRight.data(), withGain ? m_gain.data() : nullptr, frames};
    }

private:
    std::vector<float> m_stereo, m_inputLeft, m_inputRight, m_sideLeft, m_sideRight;
    std::vector<float> m_outputLeft, m_outputRight, m_gain, m_gainRight, m_ones;
    float* m_keyLeft;  // what keys the compressor: the sidechain or the input
    float* m_keyRight;
};

// What a render knows before it starts: what keys the compressor, and how its gain is known.
RenderReport startReport(Effect& effect, bool keyFile, bool recordsEnvelopes)
{
    RenderReport report;
    // For Kestrune its switch decides (with no sidechain file it then hears the silence on inputs 3
    // and 4); another effect is assumed to listen to a sidechain given.
    report.keyedBySidechain =
        effect.hasKestruneParameters() ? effect.engineering(VAZiro::kUseSidechain) != 0.0f : keyFile;
    // The gain the effect applied, for the envelopes: measured through a probe instance, or estimated
    // from the peaks where that cannot be (see `kestrune plot --help`).
    report.probed = recordsEnvelopes && effect.hasKestruneParameters() && effect.hasSidechainInputs();
    return report;
}

// A second instance with the same settings, 0 dB makeup and the sidechain switched on: fed a
// constant 1.0 and keyed by the render's key, its output is the gain applied.
void startProbe(std::optional<Effect>& probe, Effect& effect, const RenderSettings& settings, float sampleRate)
{
    probe.emplace(effect.module());
    probe->apply(settings.parameters);
    probe->apply({{VAZiro::kUseSidechain, VAZiro::useSidechainToNormalised(true)},
                  {VAZiro::kMakeup, VAZiro::makeupToNormalised(0.0f)}});
    probe->resumeAt(sampleRate, settings.blockSize);
}

}  // namespace

RenderReport render(Effect& effect, FrameSource& main, FrameSource* key, AudioWriter* output,
                    const RenderSettings& settings, EnvelopeRecorder* envelopes)
{
    const float sampleRate = static_cast<float>(main.sampleRate());
    effect.apply(settings.parameters);
    effect.resumeAt(sampleRate, settings.blockSize);

    RenderReport report = startReport(effect, key != nullptr, envelopes != nullptr);
    std::optional<Effect> probe;
    if (report.probed)
        startProbe(probe, effect, settings, sampleRate);
    std::optional<SidechainFeed> sidechain;
    if (key != nullptr)
        sidechain.emplace(*key, main.sampleRate());

    RenderBlocks blocks(static_cast<std::size_t>(settings.blockSize), report.keyedBySidechain);
    ProgressBar progress(settings.label, main.frames(), sampleRate, settings.quiet);
    for (std::size_t frames; (frames = blocks.readMain(main)) > 0;)
    {
        blocks.readSidechain(sidechain ? &*sidechain : nullptr, frames, effect.numInputs() == 3);
        blocks.process(effect, frames);
        if (probe)
            blocks.probeGain(*probe, frames);
        else if (envelopes != nullptr)
            blocks.estimateGain(frames);
        if (output != nullptr)
            blocks.write(*output, frames);
        const RenderBlock view = blocks.view(frames, envelopes != nullptr);
        report.levels.observe(view);
        if (envelopes != nullptr)
            envelopes->observe(view);
        progress.advance(static_cast<std::int64_t>(frames));
    }
    if (envelopes != nullptr)
        report.picture = describeEffect(effect);
    return report;
}

// --- the transfer curve --------------------------------------------------------------------------

CurvePicture measureTransferCurve(Effect& effect, const std::vector<ParameterSetting>& settings, bool quiet)
{
    effect.apply(settings);
    if (effect.hasKestruneParameters())
        effect.apply({{VAZiro::kUseSidechain, VAZiro::useSidechainToNormalised(false)}});
    effect.resumeAt(static_cast<float>(kCurveRate), kCurveBlock);

    CurvePicture picture{describeEffect(effect), {}};
    double ratio = 1.0;
    double makeupDb = 0.0;
    double steadySeconds = 2.0;
    double sineSeconds = 2.0;
    if (picture.hasThreshold)
    {
        using namespace VAZiro;
        ratio = effect.engineering(kRatio);
        makeupDb = effect.engineering(kMakeup);
        // From rest a steady key only rises, so the attack time alone sets the settling; the sine's
        // key falls at every zero crossing, so its envelope also needs the release to settle.
        const double attack = effect.engineering(kAttack) / 1000.0;
        const double release = effect.engineering(kRelease) / 1000.0;
        steadySeconds = 16.0 * attack + 0.02;
        sineSeconds = 12.0 * (attack + release) + 0.1;
    }

    const double secondsPerLevel = steadySeconds + sineSeconds;
    ProgressBar progress("curve", static_cast<std::int64_t>(81 * secondsPerLevel * kCurveRate), kCurveRate, quiet);
    for (int level = -80; level <= 0; ++level)
    {
        const float amplitude = static_cast<float>(std::pow(10.0, level / 20.0));
        const double inputDb = lin2dB(amplitude);
        const double over = inputDb - picture.thresholdDb;
        const double idealDb = (over > 0.0 ? picture.thresholdDb + over / ratio : inputDb) + makeupDb;
        picture.points.push_back({inputDb, settledPeakDb(effect, amplitude, true, steadySeconds),
                                  settledPeakDb(effect, amplitude, false, sineSeconds),
                                  picture.hasThreshold ? idealDb : std::nan("")});
        progress.advance(static_cast<std::int64_t>(secondsPerLevel * kCurveRate));
    }
    return picture;
}

}  // namespace kestrune
