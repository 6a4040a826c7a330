// The editor drawn offscreen on cairo image surfaces at chosen port values, read back pixel by
// pixel as a user would look at it: where the meter's fill ends against its ticks, which pixels the
// transfer curve passes through, where the history's peaks lie, which texts each knob shows.
// Expected positions come from the closed forms of the hard-knee curve and the scales' spans.
#include "EditorDrawing.h"
#include "EditorLayout.h"
#include "EditorState.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{

using namespace VAZiro;

// Antialiasing spreads an edge over a pixel; a position read from pixels may lie this far off.
constexpr double kPixelTolerance = 2.0;

struct Pixel
{
    int red, green, blue;
};

class Picture
{
public:
    Picture(const EditorState& state, double width, double height, double scale)
        : m_layout(layoutEditor(width, height, scale)),
          m_surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width), static_cast<int>(height)),
                    cairo_surface_destroy)
    {
        cairo_t* cr = cairo_create(m_surface.get());
        drawEditor(cr, state, m_layout, &m_texts);
        EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
        cairo_destroy(cr);
        cairo_surface_flush(m_surface.get());
    }

    const EditorLayout& layout() const { return m_layout; }
    const std::vector<DrawnText>& texts() const { return m_texts; }
    int width() const { return cairo_image_surface_get_width(m_surface.get()); }
    int height() const { return cairo_image_surface_get_height(m_surface.get()); }

    Pixel at(int x, int y) const
    {
        const unsigned char* row = cairo_image_surface_get_data(m_surface.get()) +
                                   static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(m_surface.get());
        std::uint32_t word;
        std::memcpy(&word, row + 4 * x, sizeof word);
        return {static_cast<int>((word >> 16) & 0xFF), static_cast<int>((word >> 8) & 0xFF),
                static_cast<int>(word & 0xFF)};
    }

    void save(const std::string& name) const
    {
        cairo_surface_write_to_png(m_surface.get(), (std::string(KESTRUNE_EDITOR_PICTURES) + "/" + name).c_str());
    }

private:
    EditorLayout m_layout;
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> m_surface;
    std::vector<DrawnText> m_texts;
};

// Distance between a pixel and a colour, in 0..255 steps per channel.
double distance(const Pixel& p, const Colour& c)
{
    const double dr = p.red - c.red * 255.0, dg = p.green - c.green * 255.0, db = p.blue - c.blue * 255.0;
    return std::sqrt(dr * dr + dg * dg + db * db);
}

bool looksLike(const Pixel& p, const Colour& c)
{
    return distance(p, c) < 40.0;
}

// Rows of column x from y0 to y1 that show colour c, gathered into runs: the centre of each run.
std::vector<double> runsOf(const Picture& picture, int x, int y0, int y1, const Colour& c)
{
    std::vector<double> centres;
    int start = -1;
    for (int y = y0; y <= y1; y++)
    {
        const bool hit = y < y1 && looksLike(picture.at(x, y), c);
        if (hit && start < 0)
            start = y;
        if (!hit && start >= 0)
        {
            centres.push_back((start + y) / 2.0);
            start = -1;
        }
    }
    return centres;
}

// The hard-knee curve in dBFS, from its definition: unity below the threshold, 1/ratio above it.
double hardKnee(double input, double threshold, double ratio, double makeup)
{
    return (input <= threshold ? input : threshold + (input - threshold) / ratio) + makeup;
}

EditorState stateWith(float threshold, float ratio, float makeup)
{
    EditorState state = freshEditorState();
    setPortValue(state, 10, threshold, 0.0);
    setPortValue(state, 8, ratio, 0.0);
    setPortValue(state, 11, makeup, 0.0);
    return state;
}

TEST(EditorDrawing, ReductionMeterFillEndsAtItsTickAndThePeakMarkFallsBack)
{
    for (const double scale : {1.0, 2.0})
    {
        SCOPED_TRACE(testing::Message() << "scale " << scale);
        EditorState state = freshEditorState();
        setPortValue(state, 12, 20.0f, 0.0);
        setPortValue(state, 12, 12.0f, 0.1);
        const Picture held(state, 640 * scale, 360 * scale, scale);
        held.save("meter-12dB-scale" + std::to_string(static_cast<int>(scale)) + ".png");
        const Rect bar = held.layout().meters[kMeterReduction];

        // Nine ticks beside the bar, 0 to -24 dB every 3 dB, evenly spaced; the fifth is -12 dB.
        const std::vector<double> ticks = runsOf(held, static_cast<int>(bar.x - 3.0 * scale),
                                                 static_cast<int>(bar.y) - 3, static_cast<int>(bar.bottom()) + 3,
                                                 palette::kTick);
        ASSERT_EQ(ticks.size(), 9u);
        const double spacing = (ticks.back() - ticks.front()) / 8.0;
        for (std::size_t i = 0; i < ticks.size(); i++)
            EXPECT_NEAR(ticks[i], ticks.front() + i * spacing, 1.0) << "tick " << i;

        // The fill runs from the top of the bar down to the -12 dB tick.
        const int x = static_cast<int>(bar.x + bar.width / 2.0);
        const std::vector<double> fill = runsOf(held, x, static_cast<int>(bar.y), static_cast<int>(bar.bottom()),
                                                palette::kReduction);
        ASSERT_EQ(fill.size(), 1u);
        int fillEnd = static_cast<int>(bar.y);
        while (looksLike(held.at(x, fillEnd), palette::kReduction))
            fillEnd++;
        EXPECT_NEAR(fillEnd, ticks[4], kPixelTolerance);
        EXPECT_NEAR(std::floor(bar.y), ticks[0], kPixelTolerance);

        // The peak of 20 dB is marked between the -18 and -21 dB ticks ...
        const std::vector<double> marks = runsOf(held, x, static_cast<int>(bar.y), static_cast<int>(bar.bottom()),
                                                 palette::kHold);
        ASSERT_EQ(marks.size(), 1u);
        EXPECT_NEAR(marks[0], ticks[4] + (20.0 - 12.0) / 3.0 * spacing, kPixelTolerance);

        // ... for a second and a half, then it drops back onto the fill's end.
        advanceTime(state, 1.55);
        const Picture fallen(state, 640 * scale, 360 * scale, scale);
        const std::vector<double> after = runsOf(fallen, x, static_cast<int>(bar.y), static_cast<int>(bar.bottom()),
                                                 palette::kHold);
        ASSERT_EQ(after.size(), 1u);
        EXPECT_NEAR(after[0], ticks[4], kPixelTolerance + scale);
    }
}

TEST(EditorDrawing, TransferCurvePassesThroughTheHardKneePoints)
{
    struct Setting
    {
        float threshold, ratio, makeup;
    };
    // Each keeps its curve inside -60..0 dBFS at the three inputs looked at.
    for (const Setting setting : {Setting{-20.0f, 4.0f, 0.0f}, Setting{-40.0f, 2.0f, 6.0f}, Setting{-30.0f, 10.0f, 0.0f},
                                  Setting{-12.0f, 3.0f, -3.0f}, Setting{0.0f, 10.0f, -6.0f}})
    {
        SCOPED_TRACE(testing::Message() << setting.threshold << " dB, " << setting.ratio << ":1, makeup "
                                        << setting.makeup << " dB");
        const Picture picture(stateWith(setting.threshold, setting.ratio, setting.makeup), 640, 360, 1.0);
        const Rect plot = picture.layout().curve;
        for (const double input : {-60.0, static_cast<double>(setting.threshold), 0.0})
        {
            const double output = hardKnee(input, setting.threshold, setting.ratio, setting.makeup);
            if (output < -60.0 || output > 0.0)
                continue;
            // The column of the input (a pixel inside the plot at its edges) and the row expected there.
            const double column = std::clamp(plot.x + (input + 60.0) / 60.0 * plot.width, plot.x + 1.0, plot.right() - 2.0);
            const double expectedRow = plot.bottom() - (output + 60.0) / 60.0 * plot.height;
            // The row in that column nearest the curve's colour.
            int bestRow = -1;
            double bestDistance = 1e9;
            for (int y = static_cast<int>(plot.y); y < static_cast<int>(plot.bottom()); y++)
            {
                const double d = distance(picture.at(static_cast<int>(column), y), palette::kCurve);
                if (d < bestDistance)
                {
                    bestDistance = d;
                    bestRow = y;
                }
            }
            EXPECT_LT(bestDistance, 80.0) << "no curve in the column of " << input << " dBFS";
            EXPECT_NEAR(bestRow + 0.5, expectedRow, kPixelTolerance) << "at " << input << " dBFS in";
        }
    }
}

TEST(EditorDrawing, CurveBelowThePlotIsSaidInWords)
{
    // -72 dB at 10:1: 0 dBFS in comes out at -72 + 72 / 10 = -64.8 dBFS, below the plot.
    const auto says = [](const Picture& picture) {
        return std::any_of(picture.texts().begin(), picture.texts().end(),
                           [](const DrawnText& drawn) { return drawn.text == "curve below -60 dBFS"; });
    };
    EXPECT_TRUE(says(Picture(stateWith(-72.0f, 10.0f, 0.0f), 640, 360, 1.0)));
    // -66 dB at 10:1 reaches -59.4 dBFS at 0 dBFS in: inside the plot again.
    EXPECT_FALSE(says(Picture(stateWith(-66.0f, 10.0f, 0.0f), 640, 360, 1.0)));
    EXPECT_FALSE(says(Picture(stateWith(-72.0f, 10.0f, 6.0f), 640, 360, 1.0)));
}

TEST(EditorDrawing, KeyDotRidesOnTheCurveAndHidesInSilence)
{
    EditorState state = stateWith(-30.0f, 4.0f, 0.0f);
    setPortValue(state, 13, -10.0f, 0.0);
    const Picture picture(state, 640, 360, 1.0);
    const Rect plot = picture.layout().curve;
    // -10 dBFS in comes out at -30 + 20 / 4 = -25 dBFS.
    const int x = static_cast<int>(plot.x + 50.0 / 60.0 * plot.width);
    const double y = plot.bottom() - 35.0 / 60.0 * plot.height;
    EXPECT_TRUE(looksLike(picture.at(x, static_cast<int>(y)), palette::kHold));

    setPortValue(state, 13, -120.0f, 0.0);
    const Picture silent(state, 640, 360, 1.0);
    EXPECT_FALSE(looksLike(silent.at(x, static_cast<int>(y)), palette::kHold));
}

// The x of the key peaks that reach above -12 dBFS in the history's level lane, averaged.
double peakColumn(const Picture& picture)
{
    const Rect lane = picture.layout().levelLane;
    const int y = static_cast<int>(lane.bottom() - 50.0 / 60.0 * lane.height);  // -10 dBFS
    double sum = 0.0;
    int count = 0;
    for (int x = static_cast<int>(lane.x); x < static_cast<int>(lane.right()); x++)
    {
        const Pixel p = picture.at(x, y);
        // The key's line or the area under it: blue above red.
        if (p.blue > p.red + 40)
        {
            sum += x;
            count++;
        }
    }
    return count > 0 ? sum / count : -1.0;
}

TEST(EditorDrawing, HistoryScrollsFromRightToLeftOverFiveSeconds)
{
    EditorState state = freshEditorState();
    setPortValue(state, 10, -30.0f, 0.0);
    advanceTime(state, 20.0);
    setPortValue(state, 13, -3.0f, 20.001);
    setPortValue(state, 13, -100.0f, 20.03);
    advanceTime(state, 20.05);
    const Picture now(state, 640, 360, 1.0);
    now.save("history-now.png");
    const Rect lane = now.layout().levelLane;
    const double columnWidth = lane.width / 250.0;
    const double first = peakColumn(now);
    ASSERT_GE(first, 0.0);
    // Two columns old: just left of the right edge.
    EXPECT_NEAR(first, lane.right() - 2.5 * columnWidth, kPixelTolerance + columnWidth);

    for (const double later : {1.0, 2.5, 4.0})
    {
        advanceTime(state, 20.05 + later);
        const Picture picture(state, 640, 360, 1.0);
        EXPECT_NEAR(peakColumn(picture), first - later / 5.0 * lane.width, kPixelTolerance + columnWidth)
            << later << " s later";
    }
    advanceTime(state, 25.2);
    EXPECT_LT(peakColumn(Picture(state, 640, 360, 1.0)), 0.0) << "the peak outlived the five seconds";
}

TEST(EditorDrawing, KnobsShowTheirNamesAndValuesInTheirUnits)
{
    EditorState state = freshEditorState();
    const float values[] = {2.5f, 150.0f, 4.0f, 1.0f, -18.0f, 3.0f};
    const char* texts[] = {"2.50 ms", "150 ms", "4.0:1", "on", "-18.0 dB", "3.0 dB"};
    const char* names[] = {"Attack", "Release", "Ratio", "use SC", "Thresh", "Makeup"};
    for (std::uint32_t index = 0; index < 6; index++)
        setPortValue(state, 6 + index, values[index], 0.0);
    for (const double scale : {1.0, 1.5})
    {
        const Picture picture(state, 640 * scale, 360 * scale, scale);
        for (int index = 0; index < 6; index++)
        {
            const KnobLayout& knob = picture.layout().knobs[index];
            const auto shown = [&](const std::string& text, double baseline) {
                return std::any_of(picture.texts().begin(), picture.texts().end(), [&](const DrawnText& drawn) {
                    return drawn.text == text && std::fabs(drawn.x - knob.centreX) < 1.0 &&
                           std::fabs(drawn.y - baseline) < 1.0;
                });
            };
            EXPECT_TRUE(shown(names[index], knob.nameY)) << names[index];
            EXPECT_TRUE(shown(texts[index], knob.valueY)) << names[index] << " should read " << texts[index];
            // Ink where the value's text is: it was drawn, not just listed.
            int ink = 0;
            for (int x = static_cast<int>(knob.centreX - 15 * scale); x < knob.centreX + 15 * scale; x++)
                for (int y = static_cast<int>(knob.valueY - 8 * scale); y < knob.valueY; y++)
                {
                    const Pixel p = picture.at(x, y);
                    ink += p.red + p.green + p.blue > 3 * 150 ? 1 : 0;
                }
            EXPECT_GT(ink, 10) << names[index];
        }
    }
    // The switch is lit when on and dark when off.
    const KnobLayout& sc = layoutEditor(640, 360, 1.0).knobs[3];
    const Picture on(state, 640, 360, 1.0);
    setPortValue(state, 9, 0.0f, 0.0);
    const Picture off(state, 640, 360, 1.0);
    const int x = static_cast<int>(sc.centreX), y = static_cast<int>(sc.centreY);
    EXPECT_TRUE(looksLike(on.at(x, y), palette::kCurve));
    EXPECT_FALSE(looksLike(off.at(x, y), palette::kCurve));
}

TEST(EditorDrawing, SmallestWindowStillShowsEveryPart)
{
    EditorState state = stateWith(-24.0f, 4.0f, 0.0f);
    setPortValue(state, 12, 6.0f, 0.0);
    setPortValue(state, 14, -6.0f, 0.0);
    setPortValue(state, 15, -12.0f, 0.0);
    const Picture picture(state, 400, 240, 1.0);
    picture.save("smallest.png");
    const EditorLayout& layout = picture.layout();
    const auto centre = [&](const Rect& r, double fromTop) {
        return picture.at(static_cast<int>(r.x + r.width / 2.0), static_cast<int>(r.y + fromTop * r.height));
    };
    // Reduction fills the top quarter (6 of 24 dB); input fills up to -6 of -60..+6 dBFS.
    EXPECT_TRUE(looksLike(centre(layout.meters[kMeterReduction], 0.2), palette::kReduction));
    EXPECT_FALSE(looksLike(centre(layout.meters[kMeterReduction], 0.3), palette::kReduction));
    EXPECT_TRUE(looksLike(centre(layout.meters[kMeterInput], 0.25), palette::kLevel));
    EXPECT_FALSE(looksLike(centre(layout.meters[kMeterInput], 0.15), palette::kLevel));
    EXPECT_TRUE(looksLike(centre(layout.meters[kMeterOutput], 0.32), palette::kLevel));
    EXPECT_FALSE(looksLike(centre(layout.meters[kMeterOutput], 0.24), palette::kLevel));
    for (const char* caption : {"GR", "In", "Out", "Attack", "Makeup", "-24.0 dB", "4.0:1"})
        EXPECT_TRUE(std::any_of(picture.texts().begin(), picture.texts().end(),
                                [&](const DrawnText& drawn) { return drawn.text == caption; }))
            << caption;
}

}  // namespace
