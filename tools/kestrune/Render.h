// The render loop: frames from a source (and a sidechain) go through the effect block by block and
// on to an audio file and to observers. Rendering is independent of the block size: the effect sees
// the same frames in the same order whatever the blocks, and the sidechain is read and resampled
// in chunks of its own.
#pragma once

#include "AudioFile.h"
#include "Effect.h"

#include <samplerate.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kestrune
{

// Two channels held in memory (both may be the same vector for mono material).
class MemorySource : public FrameSource
{
public:
    MemorySource(const std::vector<float>& left, const std::vector<float>& right, int sampleRate, int channels)
        : m_left(left), m_right(right), m_sampleRate(sampleRate), m_channels(channels)
    {
    }
    int sampleRate() const override { return m_sampleRate; }
    std::int64_t frames() const override { return static_cast<std::int64_t>(m_left.size()); }
    int channels() const override { return m_channels; }
    std::size_t read(float* left, float* right, std::size_t frames) override
    {
        const std::size_t count = std::min(frames, m_left.size() - m_position);
        std::copy_n(m_left.data() + m_position, count, left);
        std::copy_n(m_right.data() + m_position, count, right);
        m_position += count;
        return count;
    }

private:
    const std::vector<float>& m_left;
    const std::vector<float>& m_right;
    int m_sampleRate;
    int m_channels;
    std::size_t m_position = 0;
};

// The sidechain as the effect needs it: at the main signal's rate (resampled with libsamplerate
// when the rates differ) and exactly as long as the main signal (silence after its end).
class SidechainFeed
{
public:
    SidechainFeed(FrameSource& source, int targetRate);
    // libsamplerate calls back with the feed's address.
    SidechainFeed(const SidechainFeed&) = delete;
    SidechainFeed& operator=(const SidechainFeed&) = delete;

    bool resampled() const { return m_resampler != nullptr; }
    // Always delivers `frames` frames.
    void read(float* left, float* right, std::size_t frames);

private:
    static long supply(void* feed, float** data);
    void refill();

    FrameSource& m_source;
    std::unique_ptr<SRC_STATE, SRC_STATE* (*)(SRC_STATE*)> m_resampler{nullptr, src_delete};
    double m_ratio = 1.0;
    std::exception_ptr m_sourceError;
    std::vector<float> m_interleaved;     // source frames on their way into libsamplerate
    std::vector<float> m_resampledChunk;  // interleaved, as libsamplerate writes it
    std::vector<float> m_chunkLeft;       // the frames read ahead, at the target rate
    std::vector<float> m_chunkRight;
    std::size_t m_chunkFrames = 0;
    std::size_t m_chunkPosition = 0;
    bool m_ended = false;
};

// One block as the observers see it. The key is what the effect compared with its threshold:
// the sidechain when sidechain-keyed, the input otherwise.
struct RenderBlock
{
    const float* inputLeft;
    const float* inputRight;
    const float* keyLeft;
    const float* keyRight;
    const float* outputLeft;
    const float* outputRight;
    const float* gain;  // linear gain the effect applied, NaN where unknown; null when not measured
    std::size_t frames;
};

class RenderObserver
{
public:
    virtual ~RenderObserver() = default;
    virtual void observe(const RenderBlock& block) = 0;
};

// How the gain the effect applied is known:
// - Probe: a second instance with the same settings, 0 dB makeup and the sidechain switched on is
//   keyed by the same key (the sidechain, or the input itself) and processes a constant 1.0 on the
//   main inputs. Its output is the compressor's gain, sample by sample, exactly as applied. Needs
//   an effect with Kestrune's parameters and four inputs.
// - Ratio: output peak over input peak of each frame where the input is above -60 dBFS, an
//   estimate for any other effect (NaN elsewhere).
enum class GainMeasurement
{
    None,
    Probe,
    Ratio
};

struct RenderSettings
{
    std::vector<ParameterSetting> parameters;
    VstInt32 blockSize = 512;  // at least 1
    bool measureGain = false;
    bool quiet = false;
    std::string label = "render";  // shown by the progress bar
};

class Renderer
{
public:
    Renderer(Effect& effect, RenderSettings settings) : m_effect(effect), m_settings(std::move(settings)) {}

    // After run(): how the gain was measured, and whether the sidechain inputs keyed the compressor
    // rather than the main input.
    GainMeasurement gainMeasurement() const { return m_gainMeasurement; }
    bool keyedBySidechain() const { return m_keyedBySidechain; }

    // Applies the parameters, starts the effect at the main source's rate and renders all of it.
    // sidechain and output may be null.
    void run(FrameSource& main, SidechainFeed* sidechain, AudioWriter* output,
             const std::vector<RenderObserver*>& observers);

private:
    Effect& m_effect;
    RenderSettings m_settings;
    GainMeasurement m_gainMeasurement = GainMeasurement::None;
    bool m_keyedBySidechain = false;
};

}  // namespace kestrune
