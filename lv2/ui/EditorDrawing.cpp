#include "EditorDrawing.h"

#include "EditorControls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace VAZiro
{

namespace
{

constexpr double kPi = 3.14159265358979323846;
// Knobs turn through 270 degrees, from bottom left clockwise to bottom right.
constexpr double kKnobStart = 0.75 * kPi, kKnobSweep = 1.5 * kPi;

// What changes with the controls and the window's size only, and what moves with the audio.
enum class Layer
{
    Still,
    Live
};

enum class Align
{
    Left,
    Centre,
    Right
};

class Painter
{
public:
    Painter(cairo_t* cr, double scale, std::vector<DrawnText>* texts) : m_cr(cr), m_scale(scale), m_texts(texts) {}

    cairo_t* cr() const { return m_cr; }
    double s() const { return m_scale; }

    void colour(const Colour& c, double alpha = 1.0) { cairo_set_source_rgba(m_cr, c.red, c.green, c.blue, alpha); }

    void fill(const Rect& r, const Colour& c, double alpha = 1.0)
    {
        colour(c, alpha);
        cairo_rectangle(m_cr, r.x, r.y, r.width, r.height);
        cairo_fill(m_cr);
    }

    // A horizontal or vertical hairline through the middle of whole pixels, so it stays one pixel
    // wide and sharp.
    void hline(double x0, double x1, double y, const Colour& c)
    {
        const double py = std::floor(y) + 0.5;
        hairline(x0, py, x1, py, c);
    }

    void vline(double x, double y0, double y1, const Colour& c)
    {
        const double px = std::floor(x) + 0.5;
        hairline(px, y0, px, y1, c);
    }

    void text(const std::string& words, double x, double y, Align align, double size, const Colour& c,
              bool bold = false)
    {
        cairo_select_font_face(m_cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(m_cr, size * m_scale);
        cairo_text_extents_t extents;
        cairo_text_extents(m_cr, words.c_str(), &extents);
        double left = x - extents.x_bearing;
        if (align == Align::Centre)
            left = x - extents.x_bearing - extents.width / 2.0;
        else if (align == Align::Right)
            left = x - extents.x_bearing - extents.width;
        colour(c);
        cairo_move_to(m_cr, std::round(left), std::round(y));
        cairo_show_text(m_cr, words.c_str());
        // show_text leaves the current point after the text; an arc drawn next would join it with
        // a line.
        cairo_new_path(m_cr);
        if (m_texts != nullptr)
            m_texts->push_back({words, left + extents.x_bearing + extents.width / 2.0, y});
    }

private:
    void hairline(double x0, double y0, double x1, double y1, const Colour& c)
    {
        colour(c);
        cairo_set_line_width(m_cr, 1.0);
        cairo_move_to(m_cr, x0, y0);
        cairo_line_to(m_cr, x1, y1);
        cairo_stroke(m_cr);
    }

    cairo_t* m_cr;
    double m_scale;
    std::vector<DrawnText>* m_texts;
};

std::string number(double value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

// Fraction of the way from floor to ceiling, clamped to 0..1.
double fraction(double value, double floor, double ceiling)
{
    return std::clamp((value - floor) / (ceiling - floor), 0.0, 1.0);
}

// The static hard-knee curve in dBFS: the output level for a steady key at input.
double curveOutput(double input, double threshold, double ratio, double makeup)
{
    const double over = std::max(input - threshold, 0.0);
    return input - over + over / ratio + makeup;
}

void drawCurve(Painter& p, const EditorState& state, const Rect& r, Layer layer)
{
    cairo_t* cr = p.cr();
    const double s = p.s();
    const auto xOf = [&](double dB) { return r.x + (dB - kCurveFloorDB) / -kCurveFloorDB * r.width; };
    const auto yOf = [&](double dB) { return r.bottom() - (dB - kCurveFloorDB) / -kCurveFloorDB * r.height; };
    const double threshold = state.controls[kThreshold];
    const double ratio = state.controls[kRatio];
    const double makeup = state.controls[kMakeup];

    if (layer == Layer::Live)
    {
        // Where the key is now; none in silence below the plot.
        if (state.keyLevel >= kCurveFloorDB)
        {
            cairo_save(cr);
            cairo_rectangle(cr, r.x, r.y, r.width, r.height);
            cairo_clip(cr);
            const double key = std::min<double>(state.keyLevel, 0.0);
            const double x = xOf(key), y = yOf(curveOutput(key, threshold, ratio, makeup));
            cairo_arc(cr, x, y, 4.0 * s, 0.0, 2.0 * kPi);
            p.colour(palette::kHold);
            cairo_fill_preserve(cr);
            p.colour(palette::kCurve);
            cairo_set_line_width(cr, 1.5 * s);
            cairo_stroke(cr);
            cairo_restore(cr);
        }
        return;
    }

    p.fill(r, palette::kPanel);
    for (double dB = kCurveFloorDB; dB <= 0.0; dB += 12.0)
    {
        if (dB > kCurveFloorDB && dB < 0.0)
        {
            p.vline(xOf(dB), r.y, r.bottom(), palette::kGrid);
            p.hline(r.x, r.right(), yOf(dB), palette::kGrid);
        }
        p.text(number(dB), r.x - 4.0 * s, yOf(dB) + 3.0 * s, Align::Right, 9.0, palette::kDimText);
        p.text(number(dB), xOf(dB), r.bottom() + 11.0 * s, Align::Centre, 9.0, palette::kDimText);
    }

    cairo_save(cr);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_clip(cr);

    // No compression, for comparison.
    p.colour(palette::kUnity);
    cairo_set_line_width(cr, 1.0 * s);
    cairo_move_to(cr, xOf(kCurveFloorDB), yOf(kCurveFloorDB));
    cairo_line_to(cr, xOf(0.0), yOf(0.0));
    cairo_stroke(cr);

    if (threshold >= kCurveFloorDB)
    {
        const double dash = 4.0 * s;
        cairo_set_dash(cr, &dash, 1, 0.0);
        p.colour(palette::kThreshold, 0.9);
        cairo_set_line_width(cr, 1.0 * s);
        cairo_move_to(cr, xOf(threshold), r.y);
        cairo_line_to(cr, xOf(threshold), r.bottom());
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0.0);
    }

    // Straight in decibels on either side of the threshold.
    p.colour(palette::kCurve);
    cairo_set_line_width(cr, 2.0 * s);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, xOf(kCurveFloorDB), yOf(curveOutput(kCurveFloorDB, threshold, ratio, makeup)));
    if (threshold > kCurveFloorDB)
        cairo_line_to(cr, xOf(threshold), yOf(curveOutput(threshold, threshold, ratio, makeup)));
    cairo_line_to(cr, xOf(0.0), yOf(curveOutput(0.0, threshold, ratio, makeup)));
    cairo_stroke(cr);
    cairo_restore(cr);

    // The threshold's mark on the input axis.
    if (threshold >= kCurveFloorDB)
    {
        const double x = xOf(threshold);
        p.colour(palette::kThreshold);
        cairo_move_to(cr, x, r.bottom());
        cairo_line_to(cr, x - 4.0 * s, r.bottom() + 5.0 * s);
        cairo_line_to(cr, x + 4.0 * s, r.bottom() + 5.0 * s);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
    p.text("dBFS", r.x + 4.0 * s, r.y + 11.0 * s, Align::Left, 9.0, palette::kDimText);
    // A curve that stays below the plot would leave it empty.
    if (curveOutput(0.0, threshold, ratio, makeup) < kCurveFloorDB)
        p.text("curve below -60 dBFS", r.x + r.width / 2.0, r.bottom() - 8.0 * s, Align::Centre, 9.0, palette::kCurve);
}

// A meter bar with ticks and numbers on its left. The value's fill runs from where the scale's
// fraction 0 lies (top when fromTop) to the value.
void drawBar(Painter& p, const Rect& bar, double valueFraction, double holdFraction, bool fromTop,
             const Colour& fill, double overFraction = 2.0)
{
    const auto yAt = [&](double f) { return fromTop ? bar.y + f * bar.height : bar.bottom() - f * bar.height; };
    if (valueFraction > 0.0)
    {
        const double end = yAt(valueFraction);
        const double top = std::min(yAt(0.0), end), bottom = std::max(yAt(0.0), end);
        p.fill({bar.x, top, bar.width, bottom - top}, fill);
        if (!fromTop && valueFraction > overFraction)
        {
            const double over = yAt(overFraction);
            p.fill({bar.x, top, bar.width, over - top}, palette::kOver);
        }
    }
    if (holdFraction > 0.0)
    {
        const double y = yAt(holdFraction);
        p.fill({bar.x, y - p.s(), bar.width, 2.0 * p.s()}, palette::kHold);
    }
}

void drawTicks(Painter& p, const Rect& bar, double floorDB, double ceilingDB, double tickStep, double labelStep,
               bool fromTop, const char* suffixlessSign)
{
    const double s = p.s();
    const int ticks = static_cast<int>(std::lround((ceilingDB - floorDB) / tickStep));
    for (int tick = 0; tick <= ticks; tick++)
    {
        const double dB = ceilingDB - tick * tickStep;
        const double f = (dB - floorDB) / (ceilingDB - floorDB);
        const double y = fromTop ? bar.y + (1.0 - f) * bar.height : bar.bottom() - f * bar.height;
        p.hline(bar.x - 5.0 * s, bar.x - 1.0 * s, y, palette::kTick);
        const double labelled = std::remainder(dB, labelStep);
        if (std::fabs(labelled) < 1e-9)
            p.text(std::string(dB > 0.0 ? suffixlessSign : "") + number(dB), bar.x - 7.0 * s, y + 3.0 * s,
                   Align::Right, 8.0, palette::kDimText);
    }
}

void drawMeters(Painter& p, const EditorState& state, const EditorLayout& layout, Layer layer)
{
    const double s = p.s();
    const Rect& reduction = layout.meters[kMeterReduction];
    const Rect& input = layout.meters[kMeterInput];
    const Rect& output = layout.meters[kMeterOutput];
    if (layer == Layer::Live)
    {
        const double over = fraction(0.0, kLevelFloorDB, kLevelCeilingDB);
        drawBar(p, reduction, fraction(state.gainReduction, 0.0, kReductionFloorDB),
                fraction(state.reductionHold.held, 0.0, kReductionFloorDB), true, palette::kReduction);
        drawBar(p, input, fraction(state.inLevel, kLevelFloorDB, kLevelCeilingDB),
                fraction(state.inHold.held, kLevelFloorDB, kLevelCeilingDB), false, palette::kLevel, over);
        drawBar(p, output, fraction(state.outLevel, kLevelFloorDB, kLevelCeilingDB),
                fraction(state.outHold.held, kLevelFloorDB, kLevelCeilingDB), false, palette::kLevel, over);
        return;
    }
    for (const Rect& bar : layout.meters)
        p.fill(bar, palette::kKnobTrack);
    // Reduction reads as a gain: 0 at the top, -24 dB at the bottom.
    drawTicks(p, reduction, -kReductionFloorDB, 0.0, 3.0, 6.0, true, "");
    drawTicks(p, input, kLevelFloorDB, kLevelCeilingDB, 6.0, 12.0, false, "+");

    const double caption = reduction.bottom() + 11.0 * s;
    p.text("GR", reduction.x + reduction.width / 2.0, caption, Align::Centre, 9.0, palette::kText);
    p.text("In", input.x + input.width / 2.0, caption, Align::Centre, 9.0, palette::kText);
    p.text("Out", output.x + output.width / 2.0, caption, Align::Centre, 9.0, palette::kText);
}

// One lane of the history: a line through one value per column and the area between it and the
// lane's edge at base (0 bottom, 1 top), the values as fractions of the lane's height from its
// bottom. Drawn as whole-pixel boxes, one pixel column at a time, which cairo fills far faster
// than it strokes a smooth line through 250 points; a pixel column covering several history
// columns shows the one farthest from base, so no peak falls between pixels.
template <class Value>
void drawLane(Painter& p, const EditorState& state, const Rect& lane, Value value, double base, const Colour& c)
{
    cairo_t* cr = p.cr();
    const int left = static_cast<int>(std::lround(lane.x));
    const int pixels = static_cast<int>(std::lround(lane.right())) - left;
    if (pixels <= 0)
        return;
    const int top = static_cast<int>(std::lround(lane.y));
    const auto rowOf = [&](double f) { return static_cast<int>(std::lround(lane.bottom() - f * lane.height)); };
    const int baseRow = rowOf(base), bottomRow = rowOf(0.0);
    const int thickness = std::max(1, static_cast<int>(std::lround(1.5 * p.s())));

    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    // Wider lanes than this (huge windows) get boxes of more than a pixel.
    constexpr int kMostBoxes = 2048;
    int rows[kMostBoxes];
    const int count = std::min(pixels, kMostBoxes);
    const auto xOf = [&](int i) { return left + static_cast<int>(static_cast<long long>(i) * pixels / count); };
    for (int i = 0; i < count; i++)
    {
        const int first = static_cast<int>(static_cast<long long>(i) * kHistoryColumns / count);
        const int last = std::max(first, static_cast<int>(static_cast<long long>(i + 1) * kHistoryColumns / count) - 1);
        double extreme = value(state.history.column(first));
        for (int age = first + 1; age <= last; age++)
        {
            const double f = value(state.history.column(age));
            if (std::fabs(f - base) > std::fabs(extreme - base))
                extreme = f;
        }
        rows[i] = std::clamp(rowOf(extreme), top, bottomRow);
    }
    // Neighbouring columns of the same extent become one box: a steady level is a single box.
    const auto boxes = [&](auto extent) {
        int runStart = 0;
        for (int i = 1; i <= count; i++)
        {
            if (i < count && extent(i) == extent(runStart))
                continue;
            const auto [y0, y1] = extent(runStart);
            if (y1 > y0)
                cairo_rectangle(cr, xOf(runStart), y0, xOf(i) - xOf(runStart), y1 - y0);
            runStart = i;
        }
        cairo_fill(cr);
    };
    // The area in the colour a third of the way from the panel, solid: much faster than blending.
    p.colour({palette::kPanel.red + 0.3 * (c.red - palette::kPanel.red),
              palette::kPanel.green + 0.3 * (c.green - palette::kPanel.green),
              palette::kPanel.blue + 0.3 * (c.blue - palette::kPanel.blue)});
    boxes([&](int i) { return std::pair<int, int>(std::min(rows[i], baseRow), std::max(rows[i], baseRow)); });
    // The line, joined to its neighbour on the left where the value jumps.
    p.colour(c);
    boxes([&](int i) {
        const int previous = i > 0 ? rows[i - 1] : rows[i];
        const int upper = std::min(previous, rows[i]), lower = std::max(previous, rows[i]);
        return std::pair<int, int>(std::max(upper - thickness / 2, top), lower + (thickness + 1) / 2);
    });
    cairo_restore(cr);
}

void drawHistoryLanes(Painter& p, const EditorState& state, const EditorLayout& layout);

void drawHistory(Painter& p, const EditorState& state, const EditorLayout& layout, Layer layer)
{
    const double s = p.s();
    const Rect& level = layout.levelLane;
    const Rect& reduction = layout.reductionLane;
    if (level.width < 1.0)
        return;
    if (layer == Layer::Live)
    {
        drawHistoryLanes(p, state, layout);
        return;
    }
    p.fill(level, palette::kPanel);
    p.fill(reduction, palette::kPanel);
    // A line each second, counted back from now at the right edge.
    for (int second = 1; second < 5; second++)
    {
        const double x = level.right() - second / 5.0 * level.width;
        p.vline(x, level.y, level.bottom(), palette::kGrid);
        p.vline(x, reduction.y, reduction.bottom(), palette::kGrid);
    }
    // Each lane's scale inside its right edge: the meters beside them count differently.
    for (double dB = -12.0; dB > kCurveFloorDB; dB -= 12.0)
    {
        const double y = level.bottom() - fraction(dB, kCurveFloorDB, 0.0) * level.height;
        p.hline(level.x, level.right(), y, palette::kGrid);
        p.text(number(dB), level.right() - 3.0 * s, y - 2.0 * s, Align::Right, 8.0, palette::kDimText);
    }
    const double middle = reduction.y + reduction.height / 2.0;
    p.hline(reduction.x, reduction.right(), middle, palette::kGrid);
    p.text(number(-kReductionFloorDB / 2.0), reduction.right() - 3.0 * s, middle - 2.0 * s, Align::Right, 8.0,
           palette::kDimText);

    p.text("key", level.x + 4.0 * s, level.y + 11.0 * s, Align::Left, 9.0, palette::kKey);
    p.text("threshold", level.x + 26.0 * s, level.y + 11.0 * s, Align::Left, 9.0, palette::kThreshold);
    p.text("gain reduction", reduction.x + 4.0 * s, reduction.bottom() - 4.0 * s, Align::Left, 9.0,
           palette::kReduction);
    p.text("-5 s", level.x, reduction.bottom() + 11.0 * s, Align::Left, 8.0, palette::kDimText);
    p.text("now", level.right(), reduction.bottom() + 11.0 * s, Align::Right, 8.0, palette::kDimText);
}

void drawHistoryLanes(Painter& p, const EditorState& state, const EditorLayout& layout)
{
    cairo_t* cr = p.cr();
    const double s = p.s();
    const Rect& level = layout.levelLane;
    const Rect& reduction = layout.reductionLane;
    cairo_save(cr);
    cairo_rectangle(cr, level.x, level.y, level.width, level.height);
    cairo_clip(cr);
    drawLane(p, state, level, [](const HistoryColumn& c) { return fraction(c.keyLevel, kCurveFloorDB, 0.0); }, 0.0,
             palette::kKey);
    const double threshold = state.controls[kThreshold];
    if (threshold >= kCurveFloorDB)
    {
        const double dash = 5.0 * s;
        cairo_set_dash(cr, &dash, 1, 0.0);
        p.colour(palette::kThreshold);
        cairo_set_line_width(cr, 1.2 * s);
        const double y = level.bottom() - fraction(threshold, kCurveFloorDB, 0.0) * level.height;
        cairo_move_to(cr, level.x, y);
        cairo_line_to(cr, level.right(), y);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0.0);
    }
    cairo_restore(cr);

    cairo_save(cr);
    cairo_rectangle(cr, reduction.x, reduction.y, reduction.width, reduction.height);
    cairo_clip(cr);
    drawLane(p, state, reduction,
             [](const HistoryColumn& c) { return 1.0 - fraction(c.reduction, 0.0, kReductionFloorDB); }, 1.0,
             palette::kReduction);
    cairo_restore(cr);
}

void drawKnob(Painter& p, const KnobLayout& knob, int index, float value)
{
    cairo_t* cr = p.cr();
    const double s = p.s();
    const double r = knob.radius;
    p.text(kParameterInfo[index].name, knob.centreX, knob.nameY, Align::Centre, 10.0, palette::kDimText, true);

    if (kParameterInfo[index].kind == ParameterKind::Switch)
    {
        const bool on = !(value < 0.5f);
        const double w = std::min(2.2 * r, knob.cell.width - 8.0 * s), h = std::min(r, 22.0 * s);
        const double x = knob.centreX - w / 2.0, y = knob.centreY - h / 2.0;
        cairo_new_sub_path(cr);
        cairo_arc(cr, x + h / 2.0, y + h / 2.0, h / 2.0, 0.5 * kPi, 1.5 * kPi);
        cairo_arc(cr, x + w - h / 2.0, y + h / 2.0, h / 2.0, 1.5 * kPi, 2.5 * kPi);
        cairo_close_path(cr);
        p.colour(on ? palette::kCurve : palette::kKnobTrack);
        cairo_fill(cr);
        cairo_arc(cr, on ? x + w - h / 2.0 : x + h / 2.0, y + h / 2.0, h / 2.0 - 3.0 * s, 0.0, 2.0 * kPi);
        p.colour(on ? palette::kHold : palette::kKnob);
        cairo_fill(cr);
    }
    else
    {
        const double position = knobPosition(index, value);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_width(cr, 4.0 * s);
        p.colour(palette::kKnobTrack);
        cairo_arc(cr, knob.centreX, knob.centreY, r, kKnobStart, kKnobStart + kKnobSweep);
        cairo_stroke(cr);
        const double angle = kKnobStart + position * kKnobSweep;
        if (position > 0.0)
        {
            p.colour(palette::kCurve);
            cairo_arc(cr, knob.centreX, knob.centreY, r, kKnobStart, angle);
            cairo_stroke(cr);
        }
        p.colour(palette::kKnob);
        cairo_arc(cr, knob.centreX, knob.centreY, r - 6.0 * s, 0.0, 2.0 * kPi);
        cairo_fill(cr);
        p.colour(palette::kText);
        cairo_set_line_width(cr, 2.0 * s);
        const double inner = std::max(r - 15.0 * s, 0.0);
        const double outer = r - 8.0 * s;
        cairo_move_to(cr, knob.centreX + inner * std::cos(angle), knob.centreY + inner * std::sin(angle));
        cairo_line_to(cr, knob.centreX + outer * std::cos(angle), knob.centreY + outer * std::sin(angle));
        cairo_stroke(cr);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    }
    p.text(parameterText(index, value), knob.centreX, knob.valueY, Align::Centre, 10.0, palette::kText);
}

}  // namespace

void drawEditorStill(cairo_t* cr, const EditorState& state, const EditorLayout& layout, std::vector<DrawnText>* texts)
{
    Painter p(cr, layout.scale, texts);
    cairo_save(cr);
    p.fill({0.0, 0.0, layout.width, layout.height}, palette::kBackground);
    drawCurve(p, state, layout.curve, Layer::Still);
    drawMeters(p, state, layout, Layer::Still);
    drawHistory(p, state, layout, Layer::Still);
    for (int index = 0; index < kNumParameters; index++)
        drawKnob(p, layout.knobs[index], index, state.controls[index]);
    cairo_restore(cr);
}

void drawEditorLive(cairo_t* cr, const EditorState& state, const EditorLayout& layout)
{
    Painter p(cr, layout.scale, nullptr);
    cairo_save(cr);
    drawCurve(p, state, layout.curve, Layer::Live);
    drawMeters(p, state, layout, Layer::Live);
    drawHistory(p, state, layout, Layer::Live);
    cairo_restore(cr);
}

void drawEditor(cairo_t* cr, const EditorState& state, const EditorLayout& layout, std::vector<DrawnText>* texts)
{
    drawEditorStill(cr, state, layout, texts);
    drawEditorLive(cr, state, layout);
}

void drawEditorFrame(cairo_t* cr, cairo_surface_t* still, const EditorState& state, const EditorLayout& layout)
{
    cairo_push_group(cr);
    cairo_set_source_surface(cr, still, 0.0, 0.0);
    cairo_paint(cr);
    drawEditorLive(cr, state, layout);
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
}

}  // namespace VAZiro
