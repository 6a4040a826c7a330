// The signals and settings every speed measurement of the audio path shares: 48 kHz, blocks of 512
// frames, threshold -30 dB, 4:1, attack 10 ms, release 100 ms, and four kinds of key: music that
// keeps the key above the threshold in every frame, music whose bass crosses zero, silence, and
// music that stops (the release tail). Everything is synthesised from a seed; the same seed gives
// the same samples on every machine (mt19937_64 is defined bit for bit, the conversions are our
// own).
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace kbench
{

constexpr float kSampleRate = 48000.0f;
constexpr int kBlock = 512;
constexpr float kThresholdDB = -30.0f;
constexpr float kRatio = 4.0f;
constexpr float kAttackMs = 10.0f;
constexpr float kReleaseMs = 100.0f;
constexpr std::uint64_t kMusicSeed = 0x4D555349u;
constexpr std::uint64_t kSidechainSeed = 0x4B49434Bu;

struct StereoSignal
{
    std::vector<float> left;
    std::vector<float> right;
    std::size_t frames() const { return left.size(); }
};

// A stereo mix that never lets the key, the larger magnitude of the pair, fall to -30 dBFS: a bass
// line in quadrature (sine left, cosine right) whose amplitude a stays within 0.28 .. 0.40 keeps
// max(|L|, |R|) at a / sqrt(2) or more, and everything riding on it (a pad chord, noise bursts like
// a hi-hat) stays within 0.15 together, so the key never drops below 0.198 - 0.15 = 0.048
// (-26.4 dBFS). Notes change every half second, chosen from a seeded progression.
//
// With bassCrossesZero the mix is the way a bass-heavy track is made: the bass in phase on both
// sides (sine left and right), the hi-hat in the centre and the pad a third as loud. The key then
// dips below the threshold around the bass's zero crossings: about 5 % of the frames, up to a few
// dozen at a time, in almost every block.
inline StereoSignal makeMusic(std::size_t frames, std::uint64_t seed, bool bassCrossesZero = false)
{
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kRoots[] = {55.0, 43.65, 65.41, 49.0, 58.27, 73.42};  // Hz, bass notes
    std::mt19937_64 engine(seed);
    const auto uniform = [&engine] { return static_cast<double>(engine() >> 11) * 0x1.0p-53; };

    StereoSignal music;
    music.left.resize(frames);
    music.right.resize(frames);
    const double rate = kSampleRate;
    const std::size_t noteFrames = static_cast<std::size_t>(rate / 2);
    double bassPhase = 0.0;
    double padPhase[3] = {0.0, 0.0, 0.0};
    double root = kRoots[0];
    double hatLevel = 0.0;
    const double padVoice = bassCrossesZero ? 0.01 : 0.03;
    for (std::size_t i = 0; i < frames; i++)
    {
        const std::size_t inNote = i % noteFrames;
        if (inNote == 0)
            root = kRoots[static_cast<int>(uniform() * 6.0)];
        // Each note starts loud and decays towards its floor: 0.40 down to 0.28.
        const double t = static_cast<double>(inNote) / rate;
        const double bassAmplitude = 0.28 + 0.12 * std::exp(-6.0 * t);
        bassPhase += 2.0 * kPi * 2.0 * root / rate;  // one octave above the root
        // Pad: root, fifth and tenth two octaves up, 0.09 together, slightly detuned between sides.
        const double ratios[3] = {4.0, 6.0, 10.0};
        double pad = 0.0;
        for (int p = 0; p < 3; p++)
        {
            padPhase[p] += 2.0 * kPi * root * ratios[p] / rate;
            pad += padVoice * std::sin(padPhase[p]);
        }
        // Hi-hat: a noise burst on every eighth of a 120 BPM bar, 0.06 at most.
        if (i % (noteFrames / 2) == 0)
            hatLevel = 0.06;
        hatLevel *= 0.9995;
        const double noiseLeft = hatLevel * (2.0 * uniform() - 1.0);
        const double noiseRight = bassCrossesZero ? noiseLeft : hatLevel * (2.0 * uniform() - 1.0);
        music.left[i] = static_cast<float>(bassAmplitude * std::sin(bassPhase) + pad + noiseLeft);
        const double bassRight = bassCrossesZero ? std::sin(bassPhase) : std::cos(bassPhase);
        music.right[i] = static_cast<float>(bassAmplitude * bassRight + 0.9 * pad + noiseRight);
    }
    return music;
}

inline StereoSignal makeSilence(std::size_t frames)
{
    StereoSignal silence;
    silence.left.assign(frames, 0.0f);
    silence.right.assign(frames, 0.0f);
    return silence;
}

// Frames whose key (larger magnitude of the pair) lies below thresholdDB: 0 for the music above.
inline std::size_t framesBelow(const StereoSignal& signal, double thresholdDB)
{
    const double level = std::pow(10.0, thresholdDB / 20.0);
    std::size_t count = 0;
    for (std::size_t i = 0; i < signal.frames(); i++)
    {
        const double key = std::fmax(std::fabs(signal.left[i]), std::fabs(signal.right[i]));
        if (!(key > level))
            count++;
    }
    return count;
}

}  // namespace kbench
