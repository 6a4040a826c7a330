#include "ReductionPicture.h"

#include <algorithm>
#include <cmath>

namespace VAZiro
{

namespace
{

constexpr std::uint32_t kBackground = 0xFF1C1C1Cu;
constexpr std::uint32_t kGrid = 0xFF3A3A3Au;
constexpr std::uint32_t kHistoryFill = 0xFF6E2A1Cu;
constexpr std::uint32_t kHistoryLine = 0xFFFF6A3Du;
constexpr std::uint32_t kBar = 0xFFFFA030u;

void fillRectangle(std::uint32_t* pixels, int stridePixels, int left, int top, int right, int bottom,
                   std::uint32_t colour)
{
    for (int y = top; y <= bottom; y++)
        std::fill(pixels + y * stridePixels + left, pixels + y * stridePixels + right + 1, colour);
}

}  // namespace

PictureSize reductionPictureSize(std::uint32_t width, std::uint32_t maxHeight)
{
    if (width == 0 || maxHeight == 0)
        return {0, 0};
    const int w = static_cast<int>(std::min<std::uint32_t>(width, kMaxPictureWidth));
    const int h = static_cast<int>(std::min<std::uint32_t>(maxHeight, static_cast<std::uint32_t>(std::max(w / 2, 1))));
    return {w, h};
}

int rowOfReduction(float reductionDB, int height)
{
    if (!(reductionDB > 0.0f))
        return 0;
    const float fraction = std::min(reductionDB / kPictureRangeDB, 1.0f);
    return static_cast<int>(std::lround(fraction * static_cast<float>(height - 1)));
}

void drawReductionPicture(std::uint32_t* pixels, int width, int height, int stridePixels, const float* history,
                          int count)
{
    if (width <= 0 || height <= 0)
        return;
    fillRectangle(pixels, stridePixels, 0, 0, width - 1, height - 1, kBackground);
    // A bar a tenth of the width (at least 2 pixels) at the right, one column apart from the history.
    const int barWidth = std::min(width, std::max(2, width / 10));
    const int historyWidth = std::max(0, width - barWidth - 1);
    for (float dB = kPictureGridStepDB; dB < kPictureRangeDB; dB += kPictureGridStepDB)
    {
        const int row = rowOfReduction(dB, height);
        if (historyWidth > 0)
            fillRectangle(pixels, stridePixels, 0, row, historyWidth - 1, row, kGrid);
    }
    if (count <= 0)
        return;

    // The history as a filled area under a polyline, the newest value beside the bar.
    const int shown = std::min(count, historyWidth);
    int previousRow = -1;
    for (int i = 0; i < shown; i++)
    {
        const int x = historyWidth - shown + i;
        const int row = rowOfReduction(history[count - shown + i], height);
        if (row > 0)
            fillRectangle(pixels, stridePixels, x, 0, x, row - 1, kHistoryFill);
        const int from = previousRow < 0 ? row : std::min(previousRow, row);
        const int to = previousRow < 0 ? row : std::max(previousRow, row);
        fillRectangle(pixels, stridePixels, x, from, x, to, kHistoryLine);
        previousRow = row;
    }

    const float current = history[count - 1];
    if (current > 0.0f)
        fillRectangle(pixels, stridePixels, width - barWidth, 0, width - 1, rowOfReduction(current, height), kBar);
}

}  // namespace VAZiro
