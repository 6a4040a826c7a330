// Draws the editor with cairo alone, from its state and layout, onto any cairo context: the
// window's, or an image surface for tests and pictures.
#pragma once

#include "EditorLayout.h"
#include "EditorState.h"

#include <cairo.h>

#include <string>
#include <vector>

namespace VAZiro
{

struct Colour
{
    double red, green, blue;  // 0..1
};

constexpr Colour rgb(unsigned value)
{
    return {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0};
}

// The editor's colours. Each thing a user reads has a colour of its own.
namespace palette
{
constexpr Colour kBackground = rgb(0x1B1E23);
constexpr Colour kPanel = rgb(0x252A31);
constexpr Colour kGrid = rgb(0x363D47);
constexpr Colour kText = rgb(0xD5D9E0);
constexpr Colour kDimText = rgb(0x8A929E);
constexpr Colour kTick = rgb(0x9AA3AF);
constexpr Colour kUnity = rgb(0x4A525E);
constexpr Colour kCurve = rgb(0xF2A541);
constexpr Colour kThreshold = rgb(0xE5484D);
constexpr Colour kKey = rgb(0x4FB6D8);
constexpr Colour kReduction = rgb(0xF07A3E);
constexpr Colour kLevel = rgb(0x5CC17A);
constexpr Colour kOver = rgb(0xE5484D);
constexpr Colour kHold = rgb(0xF4F6F8);
constexpr Colour kKnob = rgb(0x3A414C);
constexpr Colour kKnobTrack = rgb(0x14171B);
}  // namespace palette

// The meters' scales: reduction from 0 down to kReductionFloorDB, levels from kLevelFloorDB to
// kLevelCeilingDB. The curve and the key lane show kCurveFloorDB..0 dBFS.
constexpr double kReductionFloorDB = 24.0;
constexpr double kLevelFloorDB = -60.0, kLevelCeilingDB = 6.0;
constexpr double kCurveFloorDB = -60.0;

// A text as drawn: what it says and its baseline's centre, in pixels.
struct DrawnText
{
    std::string text;
    double x, y;
};

// Draws everything into the layout's width x height from (0, 0). Texts drawn are appended to
// texts when it is given.
void drawEditor(cairo_t* cr, const EditorState& state, const EditorLayout& layout,
                std::vector<DrawnText>* texts = nullptr);

// The same in two layers, for a window that keeps the first and paints it under the second at
// every frame: what depends only on the controls and the size (every text among it), and what
// moves with the audio (meters, history, the key's dot).
void drawEditorStill(cairo_t* cr, const EditorState& state, const EditorLayout& layout,
                     std::vector<DrawnText>* texts = nullptr);
void drawEditorLive(cairo_t* cr, const EditorState& state, const EditorLayout& layout);

// One frame on cr: the still layer with the live one over it, composed aside first so that a
// window never shows half a picture.
void drawEditorFrame(cairo_t* cr, cairo_surface_t* still, const EditorState& state, const EditorLayout& layout);

}  // namespace VAZiro
