// The six host parameters in one place: index, name, unit label, default and the mapping between
// the host's normalised 0..1 value and the engineering value. The plug-in, its display, the tools
// and the tests all read this table.
#pragma once

#include "BLSimpleGain.h"

#include <cstdint>
#include <cstring>

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

}  // namespace VAZiro
