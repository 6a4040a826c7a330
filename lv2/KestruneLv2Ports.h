// The LV2 edition's ports: their indices, symbols and names. The plug-in and the generator of its
// Turtle description both read this, and the control inputs come from the parameter table in its
// order, so the binary and the description cannot disagree.
#pragma once

#include "KestruneParameters.h"

#include <cstdint>

namespace VAZiro
{

constexpr const char* kLv2PluginUri = "urn:brisk-lantern:kestrune";

enum KestruneLv2Port : std::uint32_t
{
    kPortInLeft = 0,
    kPortInRight,
    kPortSideLeft,
    kPortSideRight,
    kPortOutLeft,
    kPortOutRight,
    kPortFirstControl,  // the parameters, in the table's order
    kPortGainReduction = kPortFirstControl + kNumParameters,
    kPortKeyLevel,
    kPortInLevel,
    kPortOutLevel,
    kPortCount
};

struct KestruneLv2AudioPort
{
    std::uint32_t index;
    const char* symbol;
    const char* name;
    bool output;
    bool sidechain;
};

constexpr KestruneLv2AudioPort kLv2AudioPorts[] = {
    {kPortInLeft, "in_l", "Left in", false, false},
    {kPortInRight, "in_r", "Right in", false, false},
    {kPortSideLeft, "sc_l", "Sidechain left", false, true},
    {kPortSideRight, "sc_r", "Sidechain right", false, true},
    {kPortOutLeft, "out_l", "Left out", true, false},
    {kPortOutRight, "out_r", "Right out", true, false},
};

// The meter: the largest reduction of the last block in dB, positive, at most this.
constexpr const char* kGainReductionSymbol = "gain_reduction";
constexpr const char* kGainReductionName = "Gain reduction";
constexpr float kGainReductionMaximum = 120.0f;

}  // namespace VAZiro
