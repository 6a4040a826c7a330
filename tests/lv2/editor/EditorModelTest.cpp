// The editor's model without drawing: what its knobs send and print, how its meters hold their
// peaks and its history scrolls, and where its parts lie. Expected values are worked out here from
// the parameters' published ranges and units.
#include "EditorControls.h"
#include "EditorLayout.h"
#include "EditorState.h"
#include "KestruneLv2Ports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace
{

using namespace VAZiro;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::uint32_t port(int parameter)
{
    return 6u + static_cast<std::uint32_t>(parameter);  // the controls follow the six audio ports
}

TEST(EditorKnobs, TimesTurnLogarithmicallyAndLevelsLinearly)
{
    // Attack 0.1..100 ms: the geometric middle sqrt(0.1 * 100) = 3.1623 ms sits at half a turn,
    // 1 ms at a third (a decade of three). Release 0.1..500 ms: 10 ms at log(100)/log(5000).
    EXPECT_NEAR(knobPosition(kAttack, 0.1f), 0.0, 1e-9);
    EXPECT_NEAR(knobPosition(kAttack, 100.0f), 1.0, 1e-9);
    EXPECT_NEAR(knobPosition(kAttack, 3.16227766f), 0.5, 1e-6);
    EXPECT_NEAR(knobPosition(kAttack, 1.0f), 1.0 / 3.0, 1e-6);
    EXPECT_NEAR(knobPosition(kRelease, 10.0f), std::log(100.0) / std::log(5000.0), 1e-6);
    // Threshold -120..0 dB, ratio 1..10, makeup -18..18 dB: straight lines.
    EXPECT_NEAR(knobPosition(kThreshold, -60.0f), 0.5, 1e-9);
    EXPECT_NEAR(knobPosition(kThreshold, -30.0f), 0.75, 1e-9);
    EXPECT_NEAR(knobPosition(kRatio, 5.5f), 0.5, 1e-9);
    EXPECT_NEAR(knobPosition(kMakeup, 9.0f), 0.75, 1e-9);
    // Beyond the ends a knob rests at its end.
    EXPECT_EQ(knobPosition(kThreshold, -200.0f), 0.0);
    EXPECT_EQ(knobPosition(kAttack, 1000.0f), 1.0);

    EXPECT_NEAR(knobValue(kAttack, 0.5), 3.16227766, 1e-5);
    EXPECT_NEAR(knobValue(kRelease, 1.0 / 3.0), 0.1 * std::cbrt(5000.0), 1e-4);
    EXPECT_FLOAT_EQ(knobValue(kThreshold, 0.25), -90.0f);
    EXPECT_FLOAT_EQ(knobValue(kMakeup, 0.5), 0.0f);
    // The ends are sent exactly, and a position beyond them is the end.
    EXPECT_EQ(knobValue(kAttack, 0.0), 0.1f);
    EXPECT_EQ(knobValue(kRelease, 1.0), 500.0f);
    EXPECT_EQ(knobValue(kRelease, 1.7), 500.0f);
    EXPECT_EQ(knobValue(kThreshold, -0.2), -120.0f);
    EXPECT_EQ(knobValue(kUseSidechain, 0.49), 0.0f);
    EXPECT_EQ(knobValue(kUseSidechain, 0.5), 1.0f);
}

TEST(EditorKnobs, WheelStepsLandOnRoundValuesAndStopAtTheEnds)
{
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, -18.0f, 1, false), -17.5f);
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, -18.0f, -3, false), -19.5f);
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, -18.0f, 1, true), -17.9f);
    // From a value between steps, one notch reaches the next round value past it.
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, -18.3f, 1, false), -18.0f);
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, -18.1f, 1, false), -18.0f);
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, -18.1f, -1, false), -18.5f);
    EXPECT_FLOAT_EQ(wheelStep(kMakeup, 2.95f, 2, true), 3.1f);
    EXPECT_FLOAT_EQ(wheelStep(kThreshold, 0.0f, 1, false), 0.0f);
    EXPECT_FLOAT_EQ(wheelStep(kMakeup, 18.0f, 5, false), 18.0f);
    EXPECT_FLOAT_EQ(wheelStep(kMakeup, -18.0f, -1, true), -18.0f);
    EXPECT_FLOAT_EQ(wheelStep(kRatio, 4.0f, 1, false), 4.1f);
    EXPECT_FLOAT_EQ(wheelStep(kRatio, 4.0f, -1, true), 3.99f);
    EXPECT_FLOAT_EQ(wheelStep(kRatio, 1.0f, -1, false), 1.0f);
    // Times move by a hundredth of the dial: 100 notches cross the whole range.
    EXPECT_NEAR(wheelStep(kAttack, 0.1f, 50, false), 3.16227766, 1e-4);
    EXPECT_FLOAT_EQ(wheelStep(kAttack, 0.1f, 100, false), 100.0f);
    EXPECT_NEAR(wheelStep(kAttack, 1.0f, 1, true), std::pow(10.0, 3.0 * (1.0 / 3.0 + 0.001) - 1.0), 1e-5);
    EXPECT_EQ(wheelStep(kUseSidechain, 0.0f, 1, false), 1.0f);
    EXPECT_EQ(wheelStep(kUseSidechain, 1.0f, -1, false), 0.0f);
    EXPECT_EQ(toggled(0.0f), 1.0f);
    EXPECT_EQ(toggled(1.0f), 0.0f);
}

TEST(EditorKnobs, TextsShowTheValueInItsUnit)
{
    struct Case
    {
        int parameter;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {kAttack, 0.1f, "0.10 ms"},     {kAttack, 2.345f, "2.35 ms"},   {kAttack, 9.996f, "10.0 ms"},
        {kAttack, 10.0f, "10.0 ms"},    {kAttack, 99.96f, "100 ms"},    {kAttack, 100.0f, "100 ms"},
        {kRelease, 150.0f, "150 ms"},   {kRelease, 500.0f, "500 ms"},   {kRelease, 42.42f, "42.4 ms"},
        {kRatio, 1.0f, "1.0:1"},        {kRatio, 4.0f, "4.0:1"},        {kRatio, 10.0f, "10.0:1"},
        {kUseSidechain, 0.0f, "off"},   {kUseSidechain, 1.0f, "on"},
        {kThreshold, -18.0f, "-18.0 dB"}, {kThreshold, -120.0f, "-120.0 dB"}, {kThreshold, -0.04f, "0.0 dB"},
        {kThreshold, 0.0f, "0.0 dB"},   {kMakeup, 3.0f, "3.0 dB"},      {kMakeup, -18.0f, "-18.0 dB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parameterText(c.parameter, c.value), c.text) << "parameter " << c.parameter << " at " << c.value;
}

TEST(EditorState, PortValuesAreClampedNaNIgnoredAndOtherPortsLeftAlone)
{
    EditorState state = freshEditorState();
    // A fresh editor shows the defaults: 10 ms, 100 ms, 1:1, off, 0 dB, 0 dB.
    const float defaults[] = {10.0f, 100.0f, 1.0f, 0.0f, 0.0f, 0.0f};
    for (int index = 0; index < kNumParameters; index++)
        EXPECT_FLOAT_EQ(state.controls[index], defaults[index]) << index;

    EXPECT_TRUE(setPortValue(state, port(kThreshold), -30.0f, 0.0));
    EXPECT_FALSE(setPortValue(state, port(kThreshold), -30.0f, 0.0));  // nothing new to show
    EXPECT_FALSE(setPortValue(state, port(kThreshold), kNaN, 0.0));
    EXPECT_EQ(state.controls[kThreshold], -30.0f);
    setPortValue(state, port(kThreshold), -500.0f, 0.0);
    EXPECT_EQ(state.controls[kThreshold], -120.0f);
    setPortValue(state, port(kAttack), 1e9f, 0.0);
    EXPECT_EQ(state.controls[kAttack], 100.0f);

    setPortValue(state, 12, 500.0f, 0.0);
    EXPECT_EQ(state.gainReduction, 120.0f);
    setPortValue(state, 12, -3.0f, 0.0);
    EXPECT_EQ(state.gainReduction, 0.0f);
    setPortValue(state, 13, -300.0f, 0.0);
    EXPECT_EQ(state.keyLevel, -120.0f);
    setPortValue(state, 14, -6.0f, 0.0);
    setPortValue(state, 15, 99.0f, 0.0);
    EXPECT_EQ(state.inLevel, -6.0f);
    EXPECT_EQ(state.outLevel, 24.0f);

    // Audio ports and ports past the meters change nothing.
    const EditorState before = state;
    for (const std::uint32_t other : {0u, 3u, 5u, 16u, 1000u})
        EXPECT_FALSE(setPortValue(state, other, 1.0f, 0.0)) << other;
    for (int index = 0; index < kNumParameters; index++)
        EXPECT_EQ(state.controls[index], before.controls[index]);
}

TEST(EditorState, PeakHoldsStayOneAndAHalfSecondsThenFallBack)
{
    EditorState state = freshEditorState();
    setPortValue(state, 12, 18.0f, 10.0);
    setPortValue(state, 12, 6.0f, 10.1);
    setPortValue(state, 14, -3.0f, 10.0);
    setPortValue(state, 14, -20.0f, 10.1);
    EXPECT_EQ(state.gainReduction, 6.0f);
    EXPECT_EQ(state.reductionHold.held, 18.0f);
    EXPECT_EQ(state.inHold.held, -3.0f);

    advanceTime(state, 11.45);
    EXPECT_EQ(state.reductionHold.held, 18.0f);
    EXPECT_EQ(state.inHold.held, -3.0f);
    EXPECT_TRUE(advanceTime(state, 11.55));
    EXPECT_EQ(state.reductionHold.held, 6.0f);
    EXPECT_EQ(state.inHold.held, -20.0f);

    // A new peak restarts the time; a lower value does not.
    setPortValue(state, 12, 9.0f, 12.0);
    setPortValue(state, 12, 2.0f, 13.0);
    advanceTime(state, 13.4);
    EXPECT_EQ(state.reductionHold.held, 9.0f);
    advanceTime(state, 13.6);
    EXPECT_EQ(state.reductionHold.held, 2.0f);
}

TEST(EditorState, HistoryScrollsOneColumnPerTwentyMillisecondsAndSettles)
{
    // The first value a fresh editor hears fills the newest column only: no five seconds of it.
    EditorState fresh = freshEditorState();
    setPortValue(fresh, 12, 6.0f, 3.0);
    EXPECT_EQ(fresh.history.column(kHistoryColumns - 1).reduction, 6.0f);
    EXPECT_EQ(fresh.history.column(kHistoryColumns - 2).reduction, 0.0f);
    EXPECT_EQ(fresh.history.column(0).reduction, 0.0f);

    EditorState state = freshEditorState();
    advanceTime(state, 100.0);
    // A key peak of one column, then silence again.
    setPortValue(state, 13, -6.0f, 100.001);
    setPortValue(state, 12, 4.0f, 100.002);
    setPortValue(state, 13, -120.0f, 100.03);
    setPortValue(state, 12, 0.0f, 100.03);
    const auto peakAge = [&state] {
        for (int age = 0; age < kHistoryColumns; age++)
            if (state.history.column(age).keyLevel == -6.0f)
                return age;
        return -1;
    };
    EXPECT_EQ(peakAge(), kHistoryColumns - 2);
    EXPECT_EQ(state.history.column(kHistoryColumns - 2).reduction, 4.0f);
    EXPECT_EQ(state.history.column(kHistoryColumns - 1).keyLevel, -120.0f);

    // One second is 50 columns.
    EXPECT_TRUE(advanceTime(state, 101.03));
    EXPECT_EQ(peakAge(), kHistoryColumns - 52);
    // The same column: nothing moves.
    EXPECT_FALSE(advanceTime(state, 101.035));
    // The peak leaves after five seconds; once every column is alike, time passing shows nothing new.
    EXPECT_TRUE(advanceTime(state, 105.02));
    EXPECT_EQ(peakAge(), -1);
    advanceTime(state, 106.0);
    EXPECT_FALSE(advanceTime(state, 107.0));
    EXPECT_FALSE(advanceTime(state, 200.0));
    // A clock that goes back keeps the picture as it is.
    EXPECT_FALSE(advanceTime(state, 50.0));
}

TEST(EditorLayout, PartsFitTheWindowWithoutOverlapAtEverySize)
{
    struct Size
    {
        double width, height, scale;
    };
    for (const Size size : {Size{640, 360, 1}, Size{400, 240, 1}, Size{1280, 720, 2}, Size{1000, 400, 1},
                            Size{800, 700, 1}})
    {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " at " << size.scale);
        const EditorLayout layout = layoutEditor(size.width, size.height, size.scale);
        std::vector<Rect> parts = {layout.curve, layout.levelLane, layout.reductionLane};
        for (const Rect& meter : layout.meters)
            parts.push_back(meter);
        for (const KnobLayout& knob : layout.knobs)
        {
            parts.push_back(knob.cell);
            // The dial and both texts stay inside the knob's cell.
            EXPECT_GE(knob.centreX - knob.radius, knob.cell.x);
            EXPECT_LE(knob.centreX + knob.radius, knob.cell.right());
            EXPECT_GT(knob.nameY, knob.cell.y);
            EXPECT_LT(knob.centreY - knob.radius, knob.centreY + knob.radius);
            EXPECT_LE(knob.valueY, size.height);
            EXPECT_GT(knob.radius, 5.0 * size.scale);
            EXPECT_EQ(knobAt(layout, knob.centreX, knob.centreY), &knob - layout.knobs);
        }
        // The curve is square: both axes span the same 60 dB.
        EXPECT_DOUBLE_EQ(layout.curve.width, layout.curve.height);
        EXPECT_GT(layout.curve.width, 100.0 * size.scale);
        EXPECT_GT(layout.levelLane.width, 80.0 * size.scale);
        for (std::size_t i = 0; i < parts.size(); i++)
        {
            EXPECT_GE(parts[i].x, 0.0) << i;
            EXPECT_GE(parts[i].y, 0.0) << i;
            EXPECT_LE(parts[i].right(), size.width) << i;
            EXPECT_LE(parts[i].bottom(), size.height) << i;
            for (std::size_t j = i + 1; j < parts.size(); j++)
            {
                // Neighbours may share an edge, up to rounding.
                constexpr double edge = 1e-9;
                const bool apart = parts[i].right() <= parts[j].x + edge || parts[j].right() <= parts[i].x + edge ||
                                   parts[i].bottom() <= parts[j].y + edge || parts[j].bottom() <= parts[i].y + edge;
                EXPECT_TRUE(apart) << "parts " << i << " and " << j << " overlap";
            }
        }
        EXPECT_EQ(knobAt(layout, layout.curve.x + 5, layout.curve.y + 5), -1);
    }
}

}  // namespace
