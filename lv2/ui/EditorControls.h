// How the editor's knobs turn the parameter table's values into a dial position and back, how far
// a drag or a wheel step moves them, and how they print their values.
#pragma once

#include "KestruneParameters.h"

#include <string>

namespace VAZiro
{

// Dial position 0..1 of an engineering value. Times turn logarithmically, so 1 ms and 10 ms lie as
// far apart as 10 ms and 100 ms; levels and the ratio turn linearly. Values outside the range sit
// at its ends.
double knobPosition(int index, float value);
// The engineering value at a dial position (clamped to 0..1).
float knobValue(int index, double position);

// Dragging by this many pixels at scale 1 turns a dial from one end to the other; Shift makes it
// ten times finer.
constexpr double kKnobTravelPixels = 200.0;
constexpr double kFineFactor = 0.1;

// The value one wheel notch up (notches > 0) or down from value, clamped to the range: levels in
// 0.5 dB (0.1 dB fine), the ratio in 0.1 (0.01 fine), times in 1/100 of the dial (1/1000 fine).
float wheelStep(int index, float value, int notches, bool fine);

// The value as the host shows it: "-18.0 dB", "10.0 ms", "4.0:1", "on".
std::string parameterText(int index, float value);

// A switch's value after a click.
inline float toggled(float value) { return value < 0.5f ? 1.0f : 0.0f; }

inline float defaultEngineering(int index)
{
    return engineeringFromNormalised(index, parameterDefault(index));
}

}  // namespace VAZiro
