#include "EditorControls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace VAZiro
{

namespace
{

bool isTime(int index)
{
    return std::strcmp(kParameterInfo[index].unit, "ms") == 0;
}

bool isLevel(int index)
{
    return std::strcmp(kParameterInfo[index].unit, "dB") == 0;
}

double clamp01(double v)
{
    return std::min(std::max(v, 0.0), 1.0);
}

}  // namespace

double knobPosition(int index, float value)
{
    const KestruneParameterInfo& info = kParameterInfo[index];
    const double low = info.minimum, high = info.maximum;
    const double v = std::min(std::max(static_cast<double>(value), low), high);
    if (isTime(index))
        return clamp01(std::log(v / low) / std::log(high / low));
    return clamp01((v - low) / (high - low));
}

float knobValue(int index, double position)
{
    const KestruneParameterInfo& info = kParameterInfo[index];
    const double low = info.minimum, high = info.maximum;
    position = clamp01(position);
    double value = isTime(index) ? low * std::pow(high / low, position) : low + position * (high - low);
    if (info.kind == ParameterKind::Switch)
        value = position < 0.5 ? 0.0 : 1.0;
    // The ends exactly, whatever the rounding of the power on the way.
    return static_cast<float>(std::min(std::max(value, low), high));
}

float wheelStep(int index, float value, int notches, bool fine)
{
    const KestruneParameterInfo& info = kParameterInfo[index];
    if (info.kind == ParameterKind::Switch)
        return notches > 0 ? 1.0f : notches < 0 ? 0.0f : value;
    if (isTime(index))
        return knobValue(index, knobPosition(index, value) + notches * (fine ? 0.001 : 0.01));
    const double step = isLevel(index) ? (fine ? 0.1 : 0.5) : (fine ? 0.01 : 0.1);
    // Onto the grid of the step, so notches land on round values: the first notch up from between
    // two grid values reaches the one above, the first down the one below.
    const double onGrid = value / step;
    const double from = notches > 0 ? std::floor(onGrid + 1e-6) : std::ceil(onGrid - 1e-6);
    const double stepped = (from + notches) * step;
    return static_cast<float>(std::min(std::max(stepped, static_cast<double>(info.minimum)),
                                       static_cast<double>(info.maximum)));
}

std::string parameterText(int index, float value)
{
    const KestruneParameterInfo& info = kParameterInfo[index];
    char text[32];
    if (info.kind == ParameterKind::Switch)
        return value < 0.5f ? "off" : "on";
    if (isTime(index))
    {
        // Three significant digits, as far as the range needs them (9.996 prints as 10.0).
        const double v = value;
        const int decimals = v < 9.995 ? 2 : v < 99.95 ? 1 : 0;
        std::snprintf(text, sizeof text, "%.*f ms", decimals, v);
    }
    else if (isLevel(index))
        std::snprintf(text, sizeof text, "%.1f dB", static_cast<double>(value));
    else
        std::snprintf(text, sizeof text, "%.1f:1", static_cast<double>(value));
    // A value that rounds to zero from below shows as 0.0, not -0.0.
    std::string result = text;
    if (result.rfind("-0.0 ", 0) == 0 || result == "-0.0:1")
        result.erase(0, 1);
    return result;
}

}  // namespace VAZiro
