// The six host parameters in one place: index, name, unit label, default and the mapping between
// the host's normalised 0..1 value and the engineering value. The plug-in, its display, the tools
// and the tests all read this table.
#pragma once

#include "BLSimpleGain.h"

#include <array>
#include <cmath>
#include <cstddef>
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

// Ranges of the engineering values; the mappings below are written in terms of them.
constexpr float kAttackMinimum = 0.1f, kAttackMaximum = 100.0f;      // ms
constexpr float kReleaseMinimum = 0.1f, kReleaseMaximum = 500.0f;    // ms
constexpr float kRatioMinimum = 1.0f, kRatioMaximum = 10.0f;         // R of R:1
constexpr float kThresholdMinimum = -120.0f, kThresholdMaximum = 0.0f;  // dB
constexpr float kMakeupMinimum = -18.0f, kMakeupMaximum = 18.0f;     // dB

// The linear mappings are single precision with the floats nearest 99.9, 499.9, 9, 36 and 18:
// the spans of the ranges above are exactly those floats.
static_assert(kAttackMaximum - kAttackMinimum == 99.9f, "attack span");
static_assert(kReleaseMaximum - kReleaseMinimum == 499.9f, "release span");
static_assert(kRatioMaximum - kRatioMinimum == 9.0f, "ratio span");
static_assert(kMakeupMaximum - kMakeupMinimum == 36.0f && -kMakeupMinimum == 18.0f, "makeup span");

// Mappings from normalised v. Single precision, product first, except the threshold, which is
// computed in double and rounded once. -ffp-contract=off (CMake) keeps product and sum apart.
inline float attackFromNormalised(float v)                                       // ms
{
    return kAttackMinimum + v * (kAttackMaximum - kAttackMinimum);
}
inline float releaseFromNormalised(float v)                                      // ms
{
    return kReleaseMinimum + v * (kReleaseMaximum - kReleaseMinimum);
}
inline float ratioFromNormalised(float v)                                        // R of R:1
{
    return kRatioMinimum + v * (kRatioMaximum - kRatioMinimum);
}
inline bool useSidechainFromNormalised(float v) { return !(v < 0.5f); }
// v = 0 is -120 dB; above it 3 * lin2dB(v), so v = 0.01 reaches -120 dB again.
inline float thresholdFromNormalised(float v)                                    // dB
{
    if (v == 0.0f)
        return kThresholdMinimum;
    return static_cast<float>(lin2dB(static_cast<double>(v)) * 3.0);
}
inline float makeupFromNormalised(float v)                                       // dB
{
    return v * (kMakeupMaximum - kMakeupMinimum) - (-kMakeupMinimum);
}

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

// Starting point of the walk for the linear mappings: the straight line through the range's ends.
inline float linearGuess(float value, float minimum, float maximum)
{
    return (value - minimum) / (maximum - minimum);
}

// Clamps value to [minimum, maximum], then walks to the closest preimage of a linear mapping.
template <class Forward>
inline float linearPreimage(Forward forward, float value, float minimum, float maximum)
{
    value = clampToRange(value, minimum, maximum);
    return closestPreimage(forward, value, linearGuess(value, minimum, maximum));
}

}  // namespace detail

inline float attackToNormalised(float ms)
{
    return detail::linearPreimage(attackFromNormalised, ms, kAttackMinimum, kAttackMaximum);
}

inline float releaseToNormalised(float ms)
{
    return detail::linearPreimage(releaseFromNormalised, ms, kReleaseMinimum, kReleaseMaximum);
}

inline float ratioToNormalised(float ratio)
{
    return detail::linearPreimage(ratioFromNormalised, ratio, kRatioMinimum, kRatioMaximum);
}

inline float useSidechainToNormalised(bool on) { return on ? 1.0f : 0.0f; }

// -120 dB goes to 0, its exact preimage. The thresholds below -120 dB that v between 0 and 0.01
// reaches are not offered: the range stops at -120 dB. Above it the preimage is 10^(dB/60).
inline float thresholdToNormalised(float dB)
{
    dB = detail::clampToRange(dB, kThresholdMinimum, kThresholdMaximum);
    if (dB == kThresholdMinimum)
        return 0.0f;
    const float guess = static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 60.0));
    // v = 0 maps to -120 dB as well; the walk stays above it so a level just over -120 dB gets its
    // logarithmic preimage.
    return detail::closestPreimage(thresholdFromNormalised, dB, guess,
                                   std::numeric_limits<float>::denorm_min());
}

inline float makeupToNormalised(float dB)
{
    return detail::linearPreimage(makeupFromNormalised, dB, kMakeupMinimum, kMakeupMaximum);
}

// The switch as an engineering value: 0 off, 1 on; from 0.5 up counts as on.
inline float useSidechainValue(float v) { return useSidechainFromNormalised(v) ? 1.0f : 0.0f; }
inline float useSidechainValueToNormalised(float value) { return useSidechainToNormalised(!(value < 0.5f)); }

// --- the table ------------------------------------------------------------------------------------

enum class ParameterKind
{
    Number,  // shown as its engineering value
    Switch   // shown as "true" or "false"
};

struct KestruneParameterInfo
{
    const char* name;        // what the VST host shows, at most 8 characters
    const char* label;       // VST unit label, or nullptr where the host's buffer is left as it is
    const char* symbol;      // identifier for the LV2 port and the command line (--symbol)
    const char* unit;        // unit of the engineering value, "" where it has none
    const char* meaning;     // one line for help texts and port comments
    ParameterKind kind;
    std::uint32_t defaultBits;  // default normalised value as its float bit pattern
    float minimum;           // engineering value at normalised 0
    float maximum;           // engineering value at normalised 1
    float (*fromNormalised)(float v);       // normalised -> engineering
    float (*toNormalised)(float value);     // engineering -> closest normalised, clamped
};

// The attack and release defaults are the floats that map to exactly 10 ms and 100 ms.
constexpr KestruneParameterInfo kParameterInfo[] = {
    {"Attack", "ms", "attack", "ms", "attack time", ParameterKind::Number, 0x3DCAF477u,
     kAttackMinimum, kAttackMaximum, attackFromNormalised, attackToNormalised},
    {"Release", "ms", "release", "ms", "release time", ParameterKind::Number, 0x3E4CA2DAu,
     kReleaseMinimum, kReleaseMaximum, releaseFromNormalised, releaseToNormalised},
    {"Ratio", nullptr, "ratio", "", "compression ratio R of R:1", ParameterKind::Number, 0x00000000u,
     kRatioMinimum, kRatioMaximum, ratioFromNormalised, ratioToNormalised},
    {"use SC", nullptr, "use_sc", "", "key from the sidechain inputs instead of the main pair",
     ParameterKind::Switch, 0x00000000u, 0.0f, 1.0f, useSidechainValue, useSidechainValueToNormalised},
    {"Thresh", "dB", "threshold", "dB", "threshold on the key level in dBFS", ParameterKind::Number,
     0x3F800000u, kThresholdMinimum, kThresholdMaximum, thresholdFromNormalised, thresholdToNormalised},
    {"Makeup", "dB", "makeup", "dB", "makeup gain", ParameterKind::Number, 0x3F000000u,
     kMakeupMinimum, kMakeupMaximum, makeupFromNormalised, makeupToNormalised},
};
static_assert(sizeof(kParameterInfo) / sizeof(kParameterInfo[0]) == kNumParameters,
              "the table has one row per parameter");

// --- lists with one entry per parameter ---------------------------------------------------------
// Every other list that names each parameter is built through these, so that a parameter added to
// the enum above fails to build until each list names it.

// One entry of such a list: the parameter it belongs to and what the list holds for it.
template <class T>
struct ParameterEntry
{
    KestruneParameter index;
    T value;
};

// The values of a list of entries, indexed by parameter. The list must name every parameter once,
// in table order: a count that differs stops the build at the static_assert, an entry out of place
// at the throw, which a constant expression cannot evaluate. Call it where the result is constexpr.
template <class T, std::size_t kCount>
constexpr std::array<T, kNumParameters> byParameter(const ParameterEntry<T> (&entries)[kCount])
{
    static_assert(kCount == kNumParameters, "the list names every parameter once");
    std::array<T, kNumParameters> values{};
    for (std::size_t i = 0; i < kCount; i++)
    {
        if (entries[i].index != static_cast<KestruneParameter>(i))
            throw "the list names the parameters out of table order";
        values[i] = entries[i].value;
    }
    return values;
}

namespace detail
{

// Stands for any one field of an aggregate in fieldCount().
struct AnyField
{
    template <class T>
    constexpr operator T() const noexcept
    {
        return T();
    }
};

// The number of fields of an aggregate of scalars: the most initialisers its braces take. The
// overload for int adds one more while the braces still take it.
template <class Aggregate, class... Fields>
constexpr std::size_t fieldCount(long)
{
    return sizeof...(Fields);
}

// Braces that leave fields out are the point here; clang would warn of them even unevaluated.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wmissing-field-initializers"
#endif
template <class Aggregate, class... Fields>
constexpr auto fieldCount(int) -> decltype(Aggregate{Fields()..., AnyField()}, std::size_t())
{
    return fieldCount<Aggregate, Fields..., AnyField>(0);
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

}  // namespace detail

inline float parameterDefault(int index)
{
    float value;
    std::memcpy(&value, &kParameterInfo[index].defaultBits, sizeof(value));
    return value;
}

// By index: the engineering value as a float ("use SC" as 0 or 1) and its inverse.
inline float engineeringFromNormalised(int index, float v)
{
    return kParameterInfo[index].fromNormalised(v);
}

inline float normalisedFromEngineering(int index, float value)
{
    return kParameterInfo[index].toNormalised(value);
}

// Whether an engineering value lies in the parameter's range [minimum, maximum] (NaN does not).
inline bool parameterInRange(int index, float value)
{
    return value >= kParameterInfo[index].minimum && value <= kParameterInfo[index].maximum;
}

}  // namespace VAZiro
