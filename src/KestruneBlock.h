// The audio path of one block, shared by every plug-in edition of Kestrune: the settings a block
// runs with, how they reach the compressor, and the frame loop. Audio thread only: nothing here
// allocates, locks or waits.
#pragma once

#include "BLSimpleComp.h"
#include "KestruneParameters.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace VAZiro
{

// The settings in engineering units, one per parameter, as one block sees them.
struct KestruneSettings
{
    float attack;       // ms
    float release;      // ms
    float ratio;        // R of R:1
    bool useSidechain;  // key from the sidechain pair
    float threshold;    // dB
    float makeup;       // dB
};
static_assert(detail::fieldCount<KestruneSettings>(0) == kNumParameters, "one setting per parameter");

// Settings from one value per parameter in table order (the switch as a bool); the only way they
// are filled by position, so a list that leaves a parameter out does not compile.
template <class... Values>
constexpr KestruneSettings settingsOf(Values... values) noexcept
{
    static_assert(sizeof...(Values) == kNumParameters, "one value per parameter, in table order");
    return {values...};
}

// The compressor's settings and the block's makeup factor, kept up to date from KestruneSettings
// at the start of each block. A setting that did not change costs one comparison; one that did
// recomputes only its own coefficient. Owned by the audio thread.
class KestruneBlockState
{
public:
    // The compressor is configured with settings and sampleRate at once; its envelope is untouched.
    KestruneBlockState(BLSimpleComp& compressor, const KestruneSettings& settings, double sampleRate)
        : m_compressor(compressor), m_applied(settings), m_sampleRate(sampleRate),
          m_makeupGain(dB2lin(settings.makeup))
    {
        m_compressor.setSampleRate(sampleRate);
        m_compressor.setAttackTime(settings.attack);
        m_compressor.setReleaseTime(settings.release);
        m_compressor.setRatio(1.0 / static_cast<double>(settings.ratio));  // takes the slope 1/R, not R
        m_compressor.setThreshold(settings.threshold);
        m_quietKeyLimit = quietKeyLimitFor(m_compressor.quietLevelLimit());
    }

    // Every value sent to the compressor is the float widened to double; the ratio goes as its
    // inverse, the slope above the threshold. sampleRate must be finite and above 0.
    void update(const KestruneSettings& settings, double sampleRate)
    {
        if (sampleRate != m_sampleRate)
        {
            m_sampleRate = sampleRate;
            m_compressor.setSampleRate(sampleRate);
        }
        if (settings.attack != m_applied.attack)
            m_compressor.setAttackTime(settings.attack);
        if (settings.release != m_applied.release)
            m_compressor.setReleaseTime(settings.release);
        if (settings.ratio != m_applied.ratio)
            m_compressor.setRatio(1.0 / static_cast<double>(settings.ratio));  // the slope 1/R
        if (settings.threshold != m_applied.threshold)
        {
            m_compressor.setThreshold(settings.threshold);
            m_quietKeyLimit = quietKeyLimitFor(m_compressor.quietLevelLimit());
        }
        if (settings.makeup != m_applied.makeup)
            m_makeupGain = dB2lin(settings.makeup);
        m_applied = settings;
    }

    const KestruneSettings& settings() const { return m_applied; }
    double makeupGain() const { return m_makeupGain; }
    // Key magnitudes (floats) below this have a level below the compressor's quietLevelLimit().
    float quietKeyLimit() const { return m_quietKeyLimit; }
    BLSimpleComp& compressor() { return m_compressor; }

private:
    // The largest float whose level, widened and offset, still lies below levelLimit; levels round
    // monotonically, so every key below it does too.
    static float quietKeyLimitFor(double levelLimit)
    {
        if (!(levelLimit > DC_OFFSET))
            return 0.0f;
        float key = static_cast<float>(levelLimit - DC_OFFSET);
        while (key > 0.0f && !(static_cast<double>(key) + DC_OFFSET < levelLimit))
            key = std::nextafter(key, 0.0f);
        return key;
    }

    BLSimpleComp& m_compressor;
    KestruneSettings m_applied;
    double m_sampleRate;  // Hz
    double m_makeupGain;  // linear factor of m_applied.makeup
    float m_quietKeyLimit = 0.0f;
};

// What the metered path measures of a block besides its audio. Peaks are magnitudes as the samples
// carry them (linear, 1.0 is full scale); a NaN sample counts above infinity.
struct KestruneBlockMeters
{
    double lowestGain = 1.0;  // lowest factor the compressor applied, makeup excluded; 1 for none
    float keyPeak = 0.0f;     // of the key the compressor compared with its threshold
    float inPeak = 0.0f;      // of the main pair
    float outPeak = 0.0f;     // of the outputs
};

namespace detail
{

// A float's magnitude as an integer: for magnitudes the bit patterns order as the values do, and
// integer maxima vectorise where float ones would need fast-math (which the audio never gets).
inline std::int32_t magnitudeBits(float value) noexcept
{
    std::int32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits & 0x7FFFFFFF;
}

// magnitudeBits of a value that is already a magnitude (its sign bit clear).
inline std::int32_t bitsOfMagnitude(float magnitude) noexcept
{
    std::int32_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    return bits;
}

inline float fromMagnitudeBits(std::int32_t bits) noexcept
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline std::int32_t largerBits(std::int32_t a, std::int32_t b) noexcept
{
    return a < b ? b : a;
}

// Frames per pass. A whole chunk has a count known at compile time, so the compiler vectorises
// its element-wise passes; the scratch arrays below are a few kB of stack.
constexpr int kChunkFrames = 256;
using WholeChunk = std::integral_constant<int, kChunkFrames>;
// A chunk takes the loud pass while at most this share of its keys is quiet: a quiet key then
// costs its logarithm, which is less than the per-frame checks of the other pass as long as few
// keys are (bass that crosses zero makes a few in almost every chunk).
constexpr int kLoudPassQuietShare = 4;

// out = ((double)in * gain) * makeup, rounded to float: the product order of the frame loop. A
// makeup of exactly 1.0 is left out: x * 1.0 is x.
template <class Count>
inline void scaleChannel(const float* in, double gain, double makeup, float* out, Count frames) noexcept
{
    if (makeup == 1.0)
        for (int i = 0; i < frames; i++)
            out[i] = static_cast<float>(static_cast<double>(in[i]) * gain);
    else
        for (int i = 0; i < frames; i++)
            out[i] = static_cast<float>(static_cast<double>(in[i]) * gain * makeup);
}

// With kMetered it also takes the largest magnitude it writes into peakBits (as magnitudeBits);
// without, peakBits is left alone.
template <bool kMetered, class Count>
inline void scaleChannel(const float* in, const double* gains, double makeup, float* out, Count frames,
                         std::int32_t& peakBits) noexcept
{
    const int n = frames;
    std::int32_t peak = peakBits;
    // Eight frames per iteration: the vectorised converts and products of four pairs share one
    // count and one branch.
    if (makeup == 1.0)
    {
#pragma GCC unroll 8
        for (int i = 0; i < n; i++)
        {
            const float value = static_cast<float>(static_cast<double>(in[i]) * gains[i]);
            out[i] = value;
            if constexpr (kMetered)
                peak = largerBits(peak, magnitudeBits(value));
        }
    }
    else
    {
#pragma GCC unroll 8
        for (int i = 0; i < n; i++)
        {
            const float value = static_cast<float>(static_cast<double>(in[i]) * gains[i] * makeup);
            out[i] = value;
            if constexpr (kMetered)
                peak = largerBits(peak, magnitudeBits(value));
        }
    }
    if constexpr (kMetered)
        peakBits = peak;
}

// One chunk of at most kChunkFrames frames. Everything the chunk reads is copied first, so an
// output may be the same buffer as any input. A key is the larger magnitude of its pair, the second
// winning only when strictly larger (a NaN in the first stays): in float, exactly as in double,
// since widening is exact and keeps the order. With kMetered it returns the lowest factor of the
// chunk (a NaN factor is passed over, as a comparison would) and adds the chunk's peaks to peaks;
// otherwise it returns 1 and peaks may be null.
template <bool kSidechain, bool kMetered, class Count>
inline double processChunk(BLSimpleComp& compressor, double makeup, float quietKeyLimit, const float* in1,
                           const float* in2, const float* sc1, const float* sc2, float* out1, float* out2,
                           Count frames, KestruneBlockMeters* peaks) noexcept
{
    float left[kChunkFrames];
    float right[kChunkFrames];
    double levels[kChunkFrames];
    int quiet = 0;
    std::int32_t keyPeak = 0;
    std::int32_t mainPeak = 0;  // self-keyed, the key's peak is the main pair's
    const int n = frames;
    // The copies stay in this loop, which reads the input anyway: -fno-tree-loop-distribute-patterns
    // (CMake) keeps GCC from taking them out into block moves that read it a second time. Two frames
    // per iteration halve the loop's counting.
#pragma GCC unroll 2
    for (int i = 0; i < n; i++)
    {
        const float main1 = in1[i];
        const float main2 = in2[i];
        left[i] = main1;
        right[i] = main2;
        const float rect1 = std::fabs(kSidechain ? sc1[i] : main1);
        const float rect2 = std::fabs(kSidechain ? sc2[i] : main2);
        const float key = (rect1 < rect2) ? rect2 : rect1;
        levels[i] = static_cast<double>(key) + DC_OFFSET;
        quiet += (key < quietKeyLimit) ? 1 : 0;
        if constexpr (kMetered)
        {
            keyPeak = largerBits(keyPeak, bitsOfMagnitude(key));
            if constexpr (kSidechain)
                mainPeak = largerBits(mainPeak, largerBits(magnitudeBits(main1), magnitudeBits(main2)));
        }
    }
    if constexpr (kMetered)
    {
        if constexpr (!kSidechain)
            mainPeak = keyPeak;
        peaks->keyPeak = fromMagnitudeBits(largerBits(magnitudeBits(peaks->keyPeak), keyPeak));
        peaks->inPeak = fromMagnitudeBits(largerBits(magnitudeBits(peaks->inPeak), mainPeak));
    }

    double lowest = 1.0;
    double gain;
    if (quiet == frames && compressor.quietGain(frames, gain))
    {
        scaleChannel(left, gain, makeup, out1, frames);
        scaleChannel(right, gain, makeup, out2, frames);
        if constexpr (kMetered)
        {
            // One factor for the chunk, and rounding keeps the order of magnitudes: the loudest
            // input sample gives the loudest output sample.
            const float outPeak = static_cast<float>(static_cast<double>(fromMagnitudeBits(mainPeak)) * gain * makeup);
            peaks->outPeak = fromMagnitudeBits(largerBits(magnitudeBits(peaks->outPeak), magnitudeBits(outPeak)));
            if (gain < lowest)
                lowest = gain;
        }
        return lowest;
    }
    double gains[kChunkFrames];
    if (quiet == frames)
        compressor.restGains(gains, frames);
    else
        compressor.gains(levels, gains, frames, quiet <= n / kLoudPassQuietShare);
    std::int32_t outPeak = 0;
    scaleChannel<kMetered>(left, gains, makeup, out1, frames, outPeak);
    scaleChannel<kMetered>(right, gains, makeup, out2, frames, outPeak);
    if constexpr (kMetered)
    {
        peaks->outPeak = fromMagnitudeBits(largerBits(magnitudeBits(peaks->outPeak), outPeak));
        for (int i = 0; i < n; i++)
            lowest = (gains[i] < lowest) ? gains[i] : lowest;
    }
    return lowest;
}

template <bool kSidechain, bool kMetered>
inline double processFrames(BLSimpleComp& compressor, double makeup, float quietKeyLimit, const float* in1,
                            const float* in2, const float* sc1, const float* sc2, float* out1, float* out2,
                            std::int32_t frames, KestruneBlockMeters* peaks) noexcept
{
    double lowest = 1.0;
    std::int32_t done = 0;
    for (; frames - done >= kChunkFrames; done += kChunkFrames)
    {
        const double chunkLowest = processChunk<kSidechain, kMetered>(compressor, makeup, quietKeyLimit, in1 + done,
                                                                      in2 + done, sc1 + done, sc2 + done, out1 + done,
                                                                      out2 + done, WholeChunk(), peaks);
        lowest = (chunkLowest < lowest) ? chunkLowest : lowest;
    }
    if (done < frames)
    {
        const double chunkLowest = processChunk<kSidechain, kMetered>(
            compressor, makeup, quietKeyLimit, in1 + done, in2 + done, sc1 + done, sc2 + done, out1 + done,
            out2 + done, static_cast<int>(frames - done), peaks);
        lowest = (chunkLowest < lowest) ? chunkLowest : lowest;
    }
    return lowest;
}

template <bool kMetered>
inline double processBlock(KestruneBlockState& state, const float* in1, const float* in2, const float* sc1,
                           const float* sc2, float* out1, float* out2, std::int32_t frames,
                           KestruneBlockMeters* peaks) noexcept
{
    BLSimpleComp& compressor = state.compressor();
    const double makeup = state.makeupGain();
    const float quietKeyLimit = state.quietKeyLimit();
    if (state.settings().useSidechain)
        return processFrames<true, kMetered>(compressor, makeup, quietKeyLimit, in1, in2, sc1, sc2, out1, out2,
                                             frames, peaks);
    return processFrames<false, kMetered>(compressor, makeup, quietKeyLimit, in1, in2, in1, in2, out1, out2,
                                          frames, peaks);
}

} // namespace detail

// Runs frames through the compressor with the state's current settings: the same output, bit for
// bit, as BLSimpleComp::process frame by frame and the makeup after it. sc1 and sc2 are read only
// when the sidechain keys the compressor. An output may be the same buffer as any input (buffers
// that overlap at an offset are not supported).
inline void processKestruneBlock(KestruneBlockState& state, const float* in1, const float* in2,
                                 const float* sc1, const float* sc2, float* out1, float* out2,
                                 std::int32_t frames) noexcept
{
    detail::processBlock<false>(state, in1, in2, sc1, sc2, out1, out2, frames, nullptr);
}

// processKestruneBlock that also meters the block for editions that show it: meters takes in the
// lowest gain and the peaks of these frames (it may hold earlier ones: a longer block in pieces;
// a fresh KestruneBlockMeters reads 1 and silence, as do 0 frames). The audio is the same bit for
// bit.
inline void processKestruneBlockMetered(KestruneBlockState& state, const float* in1, const float* in2,
                                        const float* sc1, const float* sc2, float* out1, float* out2,
                                        std::int32_t frames, KestruneBlockMeters& meters) noexcept
{
    const double lowest = detail::processBlock<true>(state, in1, in2, sc1, sc2, out1, out2, frames, &meters);
    meters.lowestGain = (lowest < meters.lowestGain) ? lowest : meters.lowestGain;
}

}  // namespace VAZiro
