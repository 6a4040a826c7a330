#include "EditorLayout.h"

#include <algorithm>

namespace VAZiro
{

EditorLayout layoutEditor(double width, double height, double scale)
{
    if (!(scale > 0.0))
        scale = 1.0;
    width = std::max(width, kEditorMinimumWidth * scale);
    height = std::max(height, kEditorMinimumHeight * scale);
    const double s = scale;
    const double margin = 10.0 * s;

    EditorLayout layout{};
    layout.width = width;
    layout.height = height;
    layout.scale = s;

    // The knobs along the bottom, the pictures above them.
    const double knobRow = std::clamp(height * 0.3, 80.0 * s, 110.0 * s);
    const double picturesBottom = height - knobRow;

    // The curve is square, with its scale's numbers to the left and below.
    const double curveTop = margin + 6.0 * s;
    const double side = std::min(picturesBottom - 14.0 * s - curveTop, width * 0.4);
    layout.curve = {margin + 26.0 * s, curveTop, side, side};

    // Gain reduction with its numbers to its left; input and output share one column of numbers.
    const double bar = 12.0 * s;
    double x = layout.curve.right() + 16.0 * s + 20.0 * s;
    layout.meters[kMeterReduction] = {x, curveTop, bar, side};
    x += bar + 12.0 * s + 22.0 * s;
    layout.meters[kMeterInput] = {x, curveTop, bar, side};
    x += bar + 4.0 * s;
    layout.meters[kMeterOutput] = {x, curveTop, bar, side};
    x += bar + 18.0 * s;

    const double historyWidth = std::max(width - margin - x, 0.0);
    const double gap = 8.0 * s;
    const double levelHeight = (side - gap) * 0.58;
    layout.levelLane = {x, curveTop, historyWidth, levelHeight};
    layout.reductionLane = {x, curveTop + levelHeight + gap, historyWidth, side - gap - levelHeight};

    const double cellWidth = (width - 2.0 * margin) / kNumParameters;
    const double rowTop = picturesBottom + 2.0 * s;
    const double rowHeight = height - margin - rowTop;
    const double radius = std::max(std::min(cellWidth * 0.28, (rowHeight - 44.0 * s) / 2.0), 6.0 * s);
    for (int index = 0; index < kNumParameters; index++)
    {
        KnobLayout& knob = layout.knobs[index];
        knob.cell = {margin + index * cellWidth, rowTop, cellWidth, rowHeight};
        knob.centreX = knob.cell.x + cellWidth / 2.0;
        knob.nameY = rowTop + 11.0 * s;
        knob.centreY = knob.nameY + 14.0 * s + radius;  // the ring clears the name's descenders
        knob.radius = radius;
        knob.valueY = knob.centreY + radius + 13.0 * s;
    }
    return layout;
}

int knobAt(const EditorLayout& layout, double x, double y)
{
    for (int index = 0; index < kNumParameters; index++)
        if (layout.knobs[index].cell.contains(x, y))
            return index;
    return -1;
}

}  // namespace VAZiro
