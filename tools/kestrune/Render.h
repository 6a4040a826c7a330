// Driving the effect: the render loop, with the levels and the peak envelopes it measures, the
// static transfer curve and the settings in words. Rendering is independent of the block size: the
// effect sees the same frames in the same order whatever the blocks, and the sidechain is read and
// resampled in chunks of its own.
#pragma once

#include "AudioFile.h"
#include "Effect.h"
#include "KestruneParameters.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
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
    std::size_t read(float* stereo, std::size_t count) override
    {
        const std::size_t done = std::min(count, m_left.size() - m_position);
        for (std::size_t i = 0; i < done; ++i, ++m_position)
        {
            stereo[2 * i] = m_left[m_position];
            stereo[2 * i + 1] = m_right[m_position];
        }
        return done;
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
    std::vector<float> m_sourceFrames;  // on their way into libsamplerate
    std::vector<float> m_chunk;         // the frames read ahead, at the target rate
    std::size_t m_chunkFrames = 0;
    std::size_t m_chunkPosition = 0;
    bool m_ended = false;
};

// One block of a render. The key is what the effect compared with its threshold: the sidechain
// when sidechain-keyed, the input otherwise.
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

// RMS and peak level of the samples added so far; -inf dB before any sample or for silence.
class Level
{
public:
    void add(float sample)
    {
        m_squares += static_cast<double>(sample) * sample;
        m_peak = std::max(m_peak, static_cast<double>(std::fabs(sample)));
        ++m_count;
    }
    double rmsDb() const
    {
        return VAZiro::lin2dB(std::sqrt(m_squares / static_cast<double>(std::max<std::int64_t>(m_count, 1))));
    }
    double peakDb() const { return VAZiro::lin2dB(m_peak); }

private:
    double m_squares = 0.0;
    double m_peak = 0.0;
    std::int64_t m_count = 0;
};

// Levels of input and output over both channels, and the largest gain reduction.
class LevelMeter
{
public:
    void observe(const RenderBlock& block);

    const Level& input() const { return m_input; }
    const Level& output() const { return m_output; }
    // Largest reduction as a positive number of dB; 0 when no gain was measured.
    double maxGainReductionDb() const { return m_minimumGain >= 1.0 ? 0.0 : -VAZiro::lin2dB(m_minimumGain); }

private:
    Level m_input;
    Level m_output;
    double m_minimumGain = 1.0;
};

// Peak envelopes per pixel column of input, key and output (minimum and maximum over both
// channels) and the smallest gain in each column, for the frames from first up to end.
class EnvelopeRecorder
{
public:
    static constexpr int kColumns = 1600;

    EnvelopeRecorder(std::int64_t first, std::int64_t end, int sampleRate);
    void observe(const RenderBlock& block);

    struct Column
    {
        float inputMin, inputMax, keyMin, keyMax, outputMin, outputMax;
        float gainMin;  // linear; NaN when no gain is known in the column
        bool used;
    };
    const std::vector<Column>& columns() const { return m_columns; }
    double startSeconds() const { return static_cast<double>(m_first) / m_sampleRate; }
    // Where the frames observed end, which is before the stretch's end when the input fell short.
    double endSeconds() const
    {
        return static_cast<double>(std::clamp(m_position, m_first + 1, m_end)) / m_sampleRate;
    }
    double columnSeconds() const
    {
        return static_cast<double>(m_end - m_first) / m_sampleRate / static_cast<double>(m_columns.size());
    }

private:
    std::int64_t m_first;
    std::int64_t m_end;
    int m_sampleRate;
    std::int64_t m_position = 0;
    std::vector<Column> m_columns;
};

// What a picture says besides its numbers.
struct PictureText
{
    std::string title;
    std::string settings;  // one line describing the parameters
    bool hasThreshold = false;
    double thresholdDb = 0.0;
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

struct CurvePoint
{
    double inputDb;
    double steadyDb;  // output level for a square wave (constant magnitude: a steady key)
    double sineDb;    // output peak level for a 1 kHz sine
    double idealDb;   // the hard-knee line; NaN for effects without Kestrune's parameters
};

struct CurvePicture : PictureText
{
    std::vector<CurvePoint> points;
};

// Measures the static transfer curve from -80 to 0 dBFS in 1 dB steps, self-keyed, at 48 kHz: for
// each level the effect starts from rest, runs until its envelope has settled and the output peak
// of the last 20 ms is taken.
CurvePicture measureTransferCurve(Effect& effect, const std::vector<ParameterSetting>& settings, bool quiet);

// One line of the progress bar for a terminal `width` columns wide, e.g.
// "render  [#######-------------]  35%  5.6 of 16.0 s". Never wider than width - 1.
std::string formatProgressLine(const std::string& label, double seconds, double totalSeconds, int width);

}  // namespace kestrune
