// The LV2 edition's ports: their indices, symbols and names. The plug-in and the generator of its
// Turtle description both read this, and the control inputs come from the parameter table in its
// order, so the binary and the description cannot disagree.
#pragma once

#include "KestruneParameters.h"

#include <cstdint>

namespace VAZiro
{

constexpr const char* kLv2PluginUri = "urn:brisk-lantern:kestrune";

// Sessions store ports by index, so no port ever moves: the first six parameters keep 6..11 and the
// meters 12..15; a parameter added to the table later takes the next index after the last meter.
constexpr int kFirstReleaseParameters = 6;

enum KestruneLv2Port : std::uint32_t
{
    kPortInLeft = 0,
    kPortInRight,
    kPortSideLeft,
    kPortSideRight,
    kPortOutLeft,
    kPortOutRight,
    kPortFirstControl,  // the first six parameters, in the table's order
    kPortGainReduction = kPortFirstControl + kFirstReleaseParameters,
    kPortKeyLevel,
    kPortInLevel,
    kPortOutLevel,
    kPortLaterControls,  // the parameters after the first six, in the table's order
    kPortCount = kPortLaterControls + (kNumParameters - kFirstReleaseParameters)
};

static_assert(kNumParameters >= kFirstReleaseParameters, "a parameter cannot leave: its port is in saved sessions");
static_assert(kPortFirstControl == 6 && kPortGainReduction == 12 && kPortKeyLevel == 13 && kPortInLevel == 14 &&
                  kPortOutLevel == 15,
              "ports keep the indices that saved sessions hold");

// The port of a parameter of the table, and the parameter of a port (-1 for a port that is none).
constexpr std::uint32_t controlPortOf(int parameter)
{
    return parameter < kFirstReleaseParameters
               ? kPortFirstControl + static_cast<std::uint32_t>(parameter)
               : kPortLaterControls + static_cast<std::uint32_t>(parameter - kFirstReleaseParameters);
}

constexpr int parameterOfPort(std::uint32_t port)
{
    if (port >= kPortFirstControl && port < kPortGainReduction)
        return static_cast<int>(port - kPortFirstControl);
    if (port < kPortLaterControls || port - kPortLaterControls >= static_cast<std::uint32_t>(kNumParameters))
        return -1;
    const int later = static_cast<int>(port - kPortLaterControls);
    return later < kNumParameters - kFirstReleaseParameters ? kFirstReleaseParameters + later : -1;
}

static_assert(controlPortOf(kAttack) == 6 && controlPortOf(kMakeup) == 11 && parameterOfPort(11) == kMakeup &&
                  parameterOfPort(kPortGainReduction) == -1 && parameterOfPort(controlPortOf(kNumParameters - 1)) ==
                                                                     kNumParameters - 1,
              "every parameter has its port and no port two parameters");

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

// The meters: control outputs in dB, each written once per run.
struct KestruneLv2MeterPort
{
    std::uint32_t index;
    const char* symbol;
    const char* name;
    const char* comment;
    float minimum;  // dB
    float maximum;  // dB
};

// Levels are peaks in dBFS; a level below the floor (silence included) reads as the floor.
constexpr float kLevelFloor = -120.0f;
constexpr float kLevelCeiling = 24.0f;
// The gain reduction is the largest of the last block in dB, positive, at most this.
constexpr float kGainReductionMaximum = 120.0f;

constexpr KestruneLv2MeterPort kLv2MeterPorts[] = {
    {kPortGainReduction, "gain_reduction", "Gain reduction",
     "largest gain reduction of the last block, makeup excluded; 0 is none", 0.0f, kGainReductionMaximum},
    {kPortKeyLevel, "key_level", "Key level",
     "peak of the key compared with the threshold during the last block (the main pair, or the sidechain pair "
     "with use SC on), dBFS",
     kLevelFloor, kLevelCeiling},
    {kPortInLevel, "in_level", "Input level", "peak of the main pair during the last block, dBFS", kLevelFloor,
     kLevelCeiling},
    {kPortOutLevel, "out_level", "Output level", "peak of the outputs during the last block, dBFS", kLevelFloor,
     kLevelCeiling},
};

static_assert(sizeof kLv2AudioPorts / sizeof kLv2AudioPorts[0] == kPortFirstControl &&
                  sizeof kLv2MeterPorts / sizeof kLv2MeterPorts[0] == kPortLaterControls - kPortGainReduction,
              "every audio port and meter is described");

}  // namespace VAZiro
