// The render loop: frames from a source (and a sidechain) go through the effect block by block and
// on to an audio file, the level meter and the envelopes. Rendering is independent of the block
// size: the effect sees the same frames in the same order whatever the blocks, and the sidechain is
// read and resampled in chunks of its own.
#pragma once

#include "AudioFile.h"
#include "Effect.h"
#include "Measure.h"

#include <samplerate.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace kestrune
{

// Two channels held in memory (both may be the same vector for mono material).
class MemorySource : public FrameSource
{
public:
    MemorySource(const std::vector<float>& left, const std::vector<float>& right, int sampleRate)
        : m_left(left), m_right(right), m_sampleRate(sampleRate)
    {
    }
    int sampleRate() const override { return m_sampleRate; }
    std::int64_t frames() const override { return static_cast<std::int64_t>(m_left.size()); }
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

struct RenderSettings
{
    std::vector<ParameterSetting> parameters;
    VstInt32 blockSize = 512;  // at least 1
    bool quiet = false;
    std::string label;  // shown by the progress bar
};

// What a render measured besides its audio.
struct RenderReport
{
    LevelMeter levels;
    PictureText picture;            // with envelopes only; the title is the caller's
    bool keyedBySidechain = false;  // the sidechain inputs keyed the compressor rather than the main input
    bool probed = false;            // the gain was measured through a probe instance, not estimated
};

// Applies the settings, starts the effect at main's rate and renders all of main into output (when
// given), keyed by key (when given; else the sidechain inputs hear silence). With envelopes, these
// are recorded with the gain the effect applied.
RenderReport render(Effect& effect, FrameSource& main, FrameSource* key, AudioWriter* output,
                    const RenderSettings& settings, EnvelopeRecorder* envelopes);

}  // namespace kestrune
