// The picture of the inline display: the recent gain reduction as a scrolling history and the
// current reduction as a bar at the right, 0 dB at the top row and kPictureRangeDB at the bottom
// row, drawn straight into 32-bit ARGB pixels (opaque, so premultiplied as they are).
#pragma once

#include <cstdint>

namespace VAZiro
{

constexpr float kPictureRangeDB = 24.0f;     // reduction at the bottom row; more stops there
constexpr float kPictureGridStepDB = 6.0f;   // a faint line every this many dB

struct PictureSize
{
    int width;
    int height;
};

// The size drawn for a host's width and height limit: the width itself (at most kMaxPictureWidth)
// and half of it in height, within the limit; 0 x 0 when either is 0.
constexpr int kMaxPictureWidth = 1024;
PictureSize reductionPictureSize(std::uint32_t width, std::uint32_t maxHeight);

// The row (0 at the top) where a reduction of reductionDB ends in a picture of height rows.
int rowOfReduction(float reductionDB, int height);

// Draws width x height pixels, rows stridePixels apart. history holds count reductions in dB,
// oldest first; the last is the current one, shown as the bar, and the ones before it fill the
// history from the right edge leftwards (older ones than fit are not drawn).
void drawReductionPicture(std::uint32_t* pixels, int width, int height, int stridePixels, const float* history,
                          int count);

}  // namespace VAZiro
