// The six parameters as the host sees them, written down once for every test from the published
// facts: indices, names, unit labels, default bit patterns and the mappings to engineering values.
// Shares no code with src/, so a wrong table there disagrees with this one.
#pragma once

#include "Bits.h"

#include <cmath>
#include <cstdint>

namespace kref
{

enum ParameterIndex : int
{
    kAttack = 0,
    kRelease,
    kRatio,
    kUseSidechain,
    kThreshold,
    kMakeup,
    kParameterCount
};

// Names and unit labels as the host shows them; nullptr where the effect writes no label.
constexpr const char* kNames[kParameterCount] = {"Attack", "Release", "Ratio", "use SC", "Thresh", "Makeup"};
constexpr const char* kLabels[kParameterCount] = {"ms", "ms", nullptr, nullptr, "dB", "dB"};

// Normalised defaults of a fresh instance as bit patterns; the attack and release bits map to
// 10 ms and 100 ms.
constexpr std::uint32_t kDefaultBits[kParameterCount] = {0x3DCAF477u, 0x3E4CA2DAu, 0x00000000u,
                                                         0x00000000u, 0x3F800000u, 0x3F000000u};

inline float defaultNormalised(int index)
{
    return kestrune_test::floatFromBits(kDefaultBits[index]);
}

// --- mappings from a normalised value (already clamped to 0..1) --------------------------------
// Single precision, float constants, the product before the sum; the threshold alone is computed
// in double and rounded to float once.

inline float attackMsFrom(float v)
{
    const float product = v * 99.9f;
    return 0.1f + product;
}

inline float releaseMsFrom(float v)
{
    const float product = v * 499.9f;
    return 0.1f + product;
}

inline float ratioFrom(float v)
{
    const float product = v * 9.0f;
    return 1.0f + product;
}

inline bool useSidechainFrom(float v)
{
    return !(v < 0.5f);
}

inline float thresholdDBFrom(float v)
{
    if (v == 0.0f)
        return -120.0f;
    const double level = std::log10(static_cast<double>(v));
    const double dB = 20.0 * level;
    return static_cast<float>(3.0 * dB);
}

inline float makeupDBFrom(float v)
{
    const float product = v * 36.0f;
    return product - 18.0f;
}

}  // namespace kref
