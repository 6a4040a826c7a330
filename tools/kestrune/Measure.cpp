#include "Measure.h"

#include "Progress.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune
{

namespace
{

using VAZiro::lin2dB;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The curve is measured at this rate with 1 kHz tones, and each level's output peak over the last
// 20 ms of its tone.
constexpr double kCurveRate = 48000.0;
constexpr double kToneHz = 1000.0;
constexpr std::size_t kCurveBlock = 512;
constexpr double kMeasureSeconds = 0.02;

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

}  // namespace

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

// --- the settings and the transfer curve ---------------------------------------------------------

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
    if (picture.hasThreshold)
        picture.thresholdDb = effect.engineering(VAZiro::kThreshold);
    return picture;
}

CurvePicture measureTransferCurve(Effect& effect, const std::vector<ParameterSetting>& settings, bool quiet)
{
    std::vector<ParameterSetting> selfKeyed = settings;
    if (effect.hasKestruneParameters())
        selfKeyed.push_back({VAZiro::kUseSidechain, VAZiro::useSidechainToNormalised(false)});
    effect.apply(selfKeyed);
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
