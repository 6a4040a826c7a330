#include "Measure.h"

#include "KestruneParameters.h"
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

// The curve is measured at this rate with 1 kHz tones.
constexpr double kCurveRate = 48000.0;
constexpr double kToneHz = 1000.0;
constexpr VstInt32 kCurveBlock = 512;

}  // namespace

// --- levels --------------------------------------------------------------------------------------

void Level::add(float sample)
{
    m_squares += static_cast<double>(sample) * sample;
    m_peak = std::max(m_peak, static_cast<double>(std::fabs(sample)));
    ++m_count;
}

double Level::rmsDb() const
{
    return lin2dB(std::sqrt(m_squares / static_cast<double>(std::max<std::int64_t>(m_count, 1))));
}

double Level::peakDb() const
{
    return lin2dB(m_peak);
}

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

double LevelMeter::maxGainReductionDb() const
{
    return m_minimumGain >= 1.0 ? 0.0 : -lin2dB(m_minimumGain);
}

// --- envelopes -----------------------------------------------------------------------------------

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
    std::string settings;
    khost::PluginInstance& instance = effect.instance();
    for (VstInt32 index = 0; index < instance.numParameters(); ++index)
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
            for (std::string text : {instance.parameterName(index), instance.parameterDisplay(index),
                                     instance.parameterLabel(index)})
            {
                text.erase(text.find_last_not_of(' ') + 1);
                text.erase(0, text.find_first_not_of(' '));
                if (!text.empty())
                    words += (words.empty() ? "" : " ") + text;
            }
        }
        if (!words.empty())
            settings += (settings.empty() ? "" : ", ") + words;
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
        effect.instance().suspend();  // back to rest
        effect.instance().resume();
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
        return lin2dB(peak);
    };

    const double secondsPerLevel = steadySeconds + sineSeconds;
    ProgressBar progress("curve", static_cast<std::int64_t>(81 * secondsPerLevel * kCurveRate), kCurveRate, quiet);
    for (int level = -80; level <= 0; ++level)
    {
        const float amplitude = static_cast<float>(std::pow(10.0, level / 20.0));
        CurvePoint point;
        point.inputDb = lin2dB(amplitude);
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

}  // namespace kestrune
