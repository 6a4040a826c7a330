// The inline display's picture as a user sees it, read back pixel by pixel: the bar ends at the row
// of its reduction on a 0..24 dB scale from the top, the history scrolls one column per moment, and
// every width a mixer strip may have is drawn inside its own pixels. Lit pixels are told from the
// dark background by their red channel; no picture is compared with a stored one.
#include "ReductionPicture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace
{

using VAZiro::drawReductionPicture;
using VAZiro::reductionPictureSize;

constexpr std::uint32_t kGuard = 0x12345678u;

// A picture in a buffer with a guard band on the right of each row and below the last.
struct Canvas
{
    int width, height, stride;
    std::vector<std::uint32_t> pixels;

    Canvas(int w, int h) : width(w), height(h), stride(w + 7), pixels(static_cast<std::size_t>(stride) * (h + 2), kGuard) {}
    void draw(const std::vector<float>& history)
    {
        drawReductionPicture(pixels.data(), width, height, stride, history.data(), static_cast<int>(history.size()));
    }
    bool lit(int x, int y) const { return ((pixels[static_cast<std::size_t>(y * stride + x)] >> 16) & 0xFF) > 200; }
    // The last lit row of a column, -1 when none.
    int lowestLit(int x) const
    {
        int found = -1;
        for (int y = 0; y < height; y++)
            if (lit(x, y))
                found = y;
        return found;
    }
    bool guardsIntact() const
    {
        for (int y = 0; y < height + 2; y++)
            for (int x = (y < height ? width : 0); x < stride; x++)
                if (pixels[static_cast<std::size_t>(y * stride + x)] != kGuard)
                    return false;
        return true;
    }
    bool opaque() const
    {
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                if ((pixels[static_cast<std::size_t>(y * stride + x)] >> 24) != 0xFF)
                    return false;
        return true;
    }
};

// The row where a reduction should end: 0 dB at the top row, 24 dB at the bottom one.
double expectedRow(double dB, int height)
{
    return std::min(dB, 24.0) / 24.0 * (height - 1);
}

TEST(ReductionPicture, BarEndsAtTheRowOfTheCurrentReductionAtEveryWidth)
{
    for (const int width : {16, 40, 120, 300})
    {
        const VAZiro::PictureSize size = reductionPictureSize(static_cast<std::uint32_t>(width), 80);
        ASSERT_EQ(size.width, width);
        ASSERT_GE(size.height, 8);
        ASSERT_LE(size.height, 80);
        for (const float dB : {3.0f, 12.0f, 24.0f, 40.0f})
        {
            SCOPED_TRACE(std::to_string(width) + " wide, " + std::to_string(dB) + " dB");
            Canvas canvas(size.width, size.height);
            canvas.draw({0.0f, 0.0f, dB});
            const int barColumn = width - 1;
            EXPECT_TRUE(canvas.lit(barColumn, 0));
            EXPECT_NEAR(canvas.lowestLit(barColumn), expectedRow(dB, size.height), 1.5);
            EXPECT_TRUE(canvas.guardsIntact());
            EXPECT_TRUE(canvas.opaque());
        }
        // No reduction, no bar.
        Canvas idle(size.width, size.height);
        idle.draw({0.0f});
        EXPECT_EQ(idle.lowestLit(width - 1), -1);
    }
}

TEST(ReductionPicture, HistoryScrollsLeftOneColumnPerMoment)
{
    const VAZiro::PictureSize size = reductionPictureSize(200, 60);
    std::vector<float> history;
    for (int i = 0; i < 300; i++)
        history.push_back(i % 40 < 20 ? 6.0f + static_cast<float>(i % 7) : 0.0f);
    Canvas before(size.width, size.height);
    before.draw(history);
    history.push_back(18.0f);
    Canvas after(size.width, size.height);
    after.draw(history);

    // The history ends two columns left of the bar, which is at least 2 wide; compare well inside.
    int compared = 0;
    int reducing = 0;
    for (int x = 1; x < size.width * 3 / 4; x++)
    {
        ASSERT_EQ(after.lowestLit(x - 1), before.lowestLit(x)) << "column " << x;
        compared++;
        reducing += before.lowestLit(x) > 0 ? 1 : 0;
    }
    EXPECT_GT(reducing, compared / 4) << "the history must show reductions for the comparison to mean anything";
    // The newest moment shows at the right edge of the history, at its row.
    const int barWidth = std::max(2, size.width / 10);
    EXPECT_NEAR(after.lowestLit(size.width - barWidth - 2), expectedRow(18.0, size.height), 1.5);
}

TEST(ReductionPicture, SizeFollowsTheHostsLimits)
{
    EXPECT_EQ(reductionPictureSize(0, 50).width, 0);
    EXPECT_EQ(reductionPictureSize(100, 0).height, 0);
    EXPECT_EQ(reductionPictureSize(100, 20).height, 20);
    EXPECT_EQ(reductionPictureSize(5000, 50).width, VAZiro::kMaxPictureWidth);
    // A tiny picture draws without writing outside itself.
    Canvas tiny(1, 1);
    tiny.draw({12.0f});
    EXPECT_TRUE(tiny.guardsIntact());
}

}  // namespace
