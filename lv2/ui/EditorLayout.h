// Where the editor's parts sit in a window of a given size, in pixels. Drawing and pointer
// handling both read it, so a knob is hit where it is drawn.
#pragma once

#include "KestruneParameters.h"

namespace VAZiro
{

// Logical size of the editor at scale 1, and the smallest it lays out sensibly.
constexpr double kEditorWidth = 640.0, kEditorHeight = 360.0;
constexpr double kEditorMinimumWidth = 400.0, kEditorMinimumHeight = 240.0;

struct Rect
{
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;

    double right() const { return x + width; }
    double bottom() const { return y + height; }
    bool contains(double px, double py) const { return px >= x && px < right() && py >= y && py < bottom(); }
};

enum Meter : int
{
    kMeterReduction = 0,
    kMeterInput,
    kMeterOutput,
    kMeterCount
};

struct KnobLayout
{
    Rect cell;     // the knob's share of the row: a pointer anywhere in it turns the knob
    double centreX, centreY, radius;
    double nameY, valueY;  // baselines of the two texts, centred on centreX
};

struct EditorLayout
{
    double width, height, scale;
    Rect curve;                   // the plot area of the transfer curve, -60..0 dBFS both ways
    Rect meters[kMeterCount];     // the bars
    Rect levelLane, reductionLane;  // the history's two lanes
    KnobLayout knobs[kNumParameters];
};

// Lays the editor out in width x height pixels at a scale factor (1 at 96 dpi). Sizes below the
// minimum are laid out at the minimum, and the window shows the part that fits.
EditorLayout layoutEditor(double width, double height, double scale);

// The knob whose cell holds the point, or -1.
int knobAt(const EditorLayout& layout, double x, double y);

}  // namespace VAZiro
