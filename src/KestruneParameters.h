// The six host parameters in one place: index, name, unit label, default and the mapping between
// the host's normalised 0..1 value and the engineering value. The plug-in, its display, the tools
// and the tests all read this table.
#pragma once

#include "BLSimpleGain.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace VAZiro
{

enum KestruneParameter : int
{
    kAttack = 0,
    kRelease,
    kRatio,
    kUseSidechain,
    kThreshold,
    kMakeup,
    kNumParameters
};

struct KestruneParameterInfo
{
    const char* name;        // what the host shows, at most 8 characters
    const char* label;       // unit, or nullptr where the host's buffer is left as it is
    std::uint32_t defaultBits;  // default normalised value as its float bit pattern
    float minimum;           // engineering value at normalised 0
    float maximum;           // engineering value at normalised 1
};

// The attack and release defaults are the floats that map to exactly 10 ms and 100 ms.
constexpr KestruneParameterInfo kParameterInfo[kNumParameters] = {
    {"Attack", "ms", 0x3DCAF477u, 0.1f, 100.0f},
    {"Release", "ms", 0x3E4CA2DAu, 0.1f, 500.0f},
    {"Ratio", nullptr, 0x00000000u, 1.0f, 10.0f},
    {"use SC", nullptr, 0x00000000u, 0.0f, 1.0f},
    {"Thresh", "dB", 0x3F800000u, -120.0f, 0.0f},
    {"Makeup", "dB", 0x3F000000u, -18.0f, 18.0f},
};

inline float parameterDefault(int index)
{
    float value;
    std::memcpy(&value, &kParameterInfo[index].defaultBits, sizeof(value));
    return value;
}

// Mappings from normalised v. Single precision, product first, except the threshold, which is
// computed in double and rounded once.
inline float attackFromNormalised(float v) { return 0.1f + v * 99.9f; }          // ms
inline float releaseFromNormalised(float v) { return 0.1f + v * 499.9f; }        // ms
inline float ratioFromNormalised(float v) { return 1.0f + v * 9.0f; }            // R of R:1
inline bool useSidechainFromNormalised(float v) { return !(v < 0.5f); }
inline float thresholdFromNormalised(float v)                                    // dB
{
    if (v == 0.0f)
        return -120.0f;
    return static_cast<float>(lin2dB(static_cast<double>(v)) * 3.0);
}
inline float makeupFromNormalised(float v) { return v * 36.0f - 18.0f; }         // dB

// Inverse mappings, engineering value -> normalised v, for tools that take values in engineering
// units. Each returns the v in 0..1 whose forward mapping above lands closest to the requested
// value (the smaller v on a tie), so a value that has an exact preimage gets it back exactly.
// Values outside [minimum, maximum] of the table are clamped to the nearest end; a caller that
// must refuse them checks parameterInRange first.

namespace detail
{

// Walks from guess one float at a time towards the preimage of target. forward must be monotonic
// on lowest..1, so the distance to target falls, stays level over rounding plateaus and then
// rises; the walk stops at the rise. guess must lie within a few hundred floats of the answer.
template <class Forward>
inline float closestPreimage(Forward forward, float target, float guess, float lowest = 0.0f)
{
    const auto distance = [&](float v) {
        return std::fabs(static_cast<double>(forward(v)) - static_cast<double>(target));
    };
    if (!(guess >= lowest))
        guess = lowest;
    if (guess > 1.0f)
        guess = 1.0f;

    float best = guess;
    double bestDistance = distance(guess);
    const float directions[2] = {-1.0f, 2.0f};  // down towards 0, then up towards 1
    for (const float direction : directions)
    {
        float v = guess;
        for (int step = 0; step < 1024; ++step)
        {
            const float next = std::nextafter(v, direction);
            if (next < lowest || next > 1.0f)
                break;
            const double d = distance(next);
            if (d > bestDistance)
                break;
            if (d < bestDistance || (d == bestDistance && next < best))
            {
                best = next;
                bestDistance = d;
            }
            v = next;
        }
    }
    return best;
}

inline float clampToRange(float value, float minimum, float maximum)
{
    return value < minimum ? minimum : (value > maximum ? maximum : value);
}

// Starting point of the walk for the linear mappings: the straight line through the table's ends.
inline float linearGuess(int index, float value)
{
    const KestruneParameterInfo& info = kParameterInfo[index];
    return (value - info.minimum) / (info.maximum - info.minimum);
}

}  // namespace detail

inline float attackToNormalised(float ms)
{
    ms = detail::clampToRange(ms, kParameterInfo[kAttack].minimum, kParameterInfo[kAttack].maximum);
    return detail::closestPreimage(attackFromNormalised, ms, detail::linearGuess(kAttack, ms));
}

inline float releaseToNormalised(float ms)
{
    ms = detail::clampToRange(ms, kParameterInfo[kRelease].minimum, kParameterInfo[kRelease].maximum);
    return detail::closestPreimage(releaseFromNormalised, ms, detail::linearGuess(kRelease, ms));
}

inline float ratioToNormalised(float ratio)
{
    ratio = detail::clampToRange(ratio, kParameterInfo[kRatio].minimum, kParameterInfo[kRatio].maximum);
    return detail::closestPreimage(ratioFromNormalised, ratio, detail::linearGuess(kRatio, ratio));
}

inline float useSidechainToNormalised(bool on) { return on ? 1.0f : 0.0f; }

// -120 dB goes to 0, its exact preimage. The thresholds below -120 dB that v between 0 and 0.01
// reaches are not offered: the range stops at -120 dB. Above it the preimage is 10^(dB/60).
inline float thresholdToNormalised(float dB)
{
    dB = detail::clampToRange(dB, kParameterInfo[kThreshold].minimum, kParameterInfo[kThreshold].maximum);
    if (dB == kParameterInfo[kThreshold].minimum)
        return 0.0f;
    const float guess = static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 60.0));
    // v = 0 maps to -120 dB as well; the walk stays above it so a level just over -120 dB gets its
    // logarithmic preimage.
    return detail::closestPreimage(thresholdFromNormalised, dB, guess,
                                   std::numeric_limits<float>::denorm_min());
}

inline float makeupToNormalised(float dB)
{
    dB = detail::clampToRange(dB, kParameterInfo[kMakeup].minimum, kParameterInfo[kMakeup].maximum);
    return detail::closestPreimage(makeupFromNormalised, dB, detail::linearGuess(kMakeup, dB));
}

// By index: the engineering value as a float ("use SC" as 0 or 1) and its inverse.
inline float engineeringFromNormalised(int index, float v)
{
    switch (index)
    {
    case kAttack: return attackFromNormalised(v);
    case kRelease: return releaseFromNormalised(v);
    case kRatio: return ratioFromNormalised(v);
    case kUseSidechain: return useSidechainFromNormalised(v) ? 1.0f : 0.0f;
    case kThreshold: return thresholdFromNormalised(v);
    case kMakeup: return makeupFromNormalised(v);
    default: return 0.0f;
    }
}

inline float normalisedFromEngineering(int index, float value)
{
    switch (index)
    {
    case kAttack: return attackToNormalised(value);
    case kRelease: return releaseToNormalised(value);
    case kRatio: return ratioToNormalised(value);
    case kUseSidechain: return useSidechainToNormalised(!(value < 0.5f));
    case kThreshold: return thresholdToNormalised(value);
    case kMakeup: return makeupToNormalised(value);
    default: return 0.0f;
    }
}

// Whether an engineering value lies in the parameter's range [minimum, maximum] (NaN does not).
inline bool parameterInRange(int index, float value)
{
    return value >= kParameterInfo[index].minimum && value <= kParameterInfo[index].maximum;
}

}  // namespace VAZiro
