#include "Render.h"

#include "KestruneParameters.h"
#include "Progress.h"
#include "ToolError.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune
{

namespace
{

// Frames the sidechain is read and resampled in, whatever the render's block size.
constexpr std::size_t kSidechainChunk = 4096;

// Inputs below this peak level give no gain estimate in the ratio measurement.
constexpr float kRatioFloor = 1e-3f;  // -60 dBFS

}  // namespace

// --- sources -------------------------------------------------------------------------------------

std::size_t MemorySource::read(float* left, float* right, std::size_t frames)
{
    const std::size_t count = std::min(frames, m_left.size() - m_position);
    std::copy_n(m_left.begin() + static_cast<std::ptrdiff_t>(m_position), count, left);
    std::copy_n(m_right.begin() + static_cast<std::ptrdiff_t>(m_position), count, right);
    m_position += count;
    return count;
}

// --- the sidechain -------------------------------------------------------------------------------

SidechainFeed::SidechainFeed(FrameSource& source, int targetRate)
    : m_source(source), m_sourceLeft(kSidechainChunk), m_sourceRight(kSidechainChunk),
      m_sourceFrames(2 * kSidechainChunk), m_chunk(2 * kSidechainChunk)
{
    if (source.sampleRate() != targetRate)
    {
        int error = 0;
        m_resampler = src_callback_new(&SidechainFeed::supply, SRC_SINC_MEDIUM_QUALITY, 2, &error, this);
        if (m_resampler == nullptr)
            throw ToolError(std::string("cannot resample the sidechain: ") + src_strerror(error));
        m_ratio = static_cast<double>(targetRate) / source.sampleRate();
    }
}

SidechainFeed::~SidechainFeed()
{
    if (m_resampler != nullptr)
        src_delete(m_resampler);
}

long SidechainFeed::supply(void* feed, float** data)
{
    // Called by libsamplerate: no exception may cross it, so a read error waits in m_sourceError.
    SidechainFeed& self = *static_cast<SidechainFeed*>(feed);
    std::size_t count = 0;
    try
    {
        count = self.m_source.read(self.m_sourceLeft.data(), self.m_sourceRight.data(), kSidechainChunk);
    }
    catch (...)
    {
        self.m_sourceError = std::current_exception();
    }
    for (std::size_t i = 0; i < count; ++i)
    {
        self.m_sourceFrames[2 * i] = self.m_sourceLeft[i];
        self.m_sourceFrames[2 * i + 1] = self.m_sourceRight[i];
    }
    *data = self.m_sourceFrames.data();
    return static_cast<long>(count);
}

void SidechainFeed::refill()
{
    m_chunkPosition = 0;
    m_chunkFrames = 0;
    if (m_ended)
        return;
    long produced = 0;
    if (m_resampler != nullptr)
        produced = src_callback_read(m_resampler, m_ratio, static_cast<long>(kSidechainChunk), m_chunk.data());
    else
    {
        float* frames = nullptr;
        produced = supply(this, &frames);
        std::copy_n(frames, 2 * produced, m_chunk.begin());
    }
    if (m_sourceError)
        std::rethrow_exception(m_sourceError);
    if (produced < 0 || (m_resampler != nullptr && src_error(m_resampler) != 0))
        throw ToolError(std::string("cannot resample the sidechain: ") + src_strerror(src_error(m_resampler)));
    m_chunkFrames = static_cast<std::size_t>(produced);
    m_ended = m_chunkFrames == 0;
}

void SidechainFeed::read(float* left, float* right, std::size_t frames)
{
    std::size_t done = 0;
    while (done < frames)
    {
        if (m_chunkPosition == m_chunkFrames)
        {
            refill();
            if (m_ended)
            {
                std::fill(left + done, left + frames, 0.0f);
                std::fill(right + done, right + frames, 0.0f);
                return;
            }
        }
        const std::size_t count = std::min(frames - done, m_chunkFrames - m_chunkPosition);
        for (std::size_t i = 0; i < count; ++i)
        {
            left[done + i] = m_chunk[2 * (m_chunkPosition + i)];
            right[done + i] = m_chunk[2 * (m_chunkPosition + i) + 1];
        }
        m_chunkPosition += count;
        done += count;
    }
}

// --- the render loop -----------------------------------------------------------------------------

Renderer::Renderer(Effect& effect, RenderSettings settings) : m_effect(effect), m_settings(std::move(settings))
{
    if (m_settings.blockSize < 1)
        throw UsageError("the block size must be at least 1 frame");
    if (m_settings.measureGain)
    {
        const bool probeable = m_effect.hasKestruneParameters() && m_effect.hasSidechainInputs();
        m_gainMeasurement = probeable ? GainMeasurement::Probe : GainMeasurement::Ratio;
    }
}

void Renderer::run(FrameSource& main, SidechainFeed* sidechain, AudioWriter* output,
                   const std::vector<RenderObserver*>& observers)
{
    const std::size_t block = static_cast<std::size_t>(m_settings.blockSize);
    const float sampleRate = static_cast<float>(main.sampleRate());

    m_effect.apply(m_settings.parameters);
    m_effect.start(sampleRate, m_settings.blockSize);
    // What keys the compressor: for Kestrune its switch decides (with no sidechain file it then
    // hears the silence on inputs 3 and 4); another effect is assumed to listen to a sidechain given.
    m_keyedBySidechain = m_effect.hasKestruneParameters()
                             ? m_effect.engineering(VAZiro::kUseSidechain) != 0.0f
                             : sidechain != nullptr;

    std::unique_ptr<Effect> probe;
    if (m_gainMeasurement == GainMeasurement::Probe)
    {
        probe = std::make_unique<Effect>(m_effect.module());
        std::vector<ParameterSetting> probeSettings = m_settings.parameters;
        probeSettings.push_back({VAZiro::kUseSidechain, VAZiro::useSidechainToNormalised(true)});
        probeSettings.push_back({VAZiro::kMakeup, VAZiro::makeupToNormalised(0.0f)});
        probe->apply(probeSettings);
        probe->start(sampleRate, m_settings.blockSize);
    }

    std::vector<float> inputLeft(block), inputRight(block), sideLeft(block), sideRight(block);
    std::vector<float> outputLeft(block), outputRight(block), gain(block), gainRight(block);
    std::vector<float> ones(block);

    ProgressBar progress(m_settings.label, main.frames(), sampleRate, m_settings.quiet);
    for (;;)
    {
        const std::size_t frames = main.read(inputLeft.data(), inputRight.data(), block);
        if (frames == 0)
            break;
        const VstInt32 count = static_cast<VstInt32>(frames);
        if (sidechain != nullptr)
        {
            sidechain->read(sideLeft.data(), sideRight.data(), frames);
            if (m_effect.instance().numInputs() == 3)  // a mono sidechain input hears both sides
                for (std::size_t i = 0; i < frames; ++i)
                    sideLeft[i] = sideRight[i] = 0.5f * (sideLeft[i] + sideRight[i]);
        }
        else  // an effect may write into its inputs: fresh silence every block
            for (std::vector<float>* side : {&sideLeft, &sideRight})
                std::fill(side->begin(), side->end(), 0.0f);
        float* keyLeft = m_keyedBySidechain ? sideLeft.data() : inputLeft.data();
        float* keyRight = m_keyedBySidechain ? sideRight.data() : inputRight.data();

        float* inputs[4] = {inputLeft.data(), inputRight.data(), sideLeft.data(), sideRight.data()};
        float* outputs[2] = {outputLeft.data(), outputRight.data()};
        m_effect.instance().process(inputs, outputs, count);

        if (probe)
        {
            std::fill(ones.begin(), ones.end(), 1.0f);
            float* probeInputs[4] = {ones.data(), ones.data(), keyLeft, keyRight};
            float* probeOutputs[2] = {gain.data(), gainRight.data()};
            probe->instance().process(probeInputs, probeOutputs, count);
        }
        else if (m_gainMeasurement == GainMeasurement::Ratio)
        {
            for (std::size_t i = 0; i < frames; ++i)
            {
                const float in = std::max(std::fabs(inputLeft[i]), std::fabs(inputRight[i]));
                const float out = std::max(std::fabs(outputLeft[i]), std::fabs(outputRight[i]));
                gain[i] = in >= kRatioFloor ? out / in : std::numeric_limits<float>::quiet_NaN();
            }
        }

        if (output != nullptr)
            output->writeStereo(outputLeft.data(), outputRight.data(), frames);
        const RenderBlock view{inputLeft.data(),  inputRight.data(),  keyLeft, keyRight,
                               outputLeft.data(), outputRight.data(),
                               m_gainMeasurement == GainMeasurement::None ? nullptr : gain.data(), frames};
        for (RenderObserver* observer : observers)
            observer->observe(view);
        progress.advance(static_cast<std::int64_t>(frames));
    }
    progress.finish();
}

}  // namespace kestrune

