// What one frame of the LV2 editor costs to draw, on a cairo image surface in this process: the
// still layer (drawn again only when a control or the size changes) and the live frame the window
// shows 30 times a second while audio plays (the still layer painted under meters, dot and
// history). The "frames_per_s" column is how many such frames one core draws in a second: 30 of
// them take 30 / frames_per_s of a core.
//   build/bench/kestrune_editor_bench
#include "EditorDrawing.h"
#include "EditorLayout.h"
#include "EditorState.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>

namespace
{

using namespace VAZiro;

// A compressor at work: a key that swings around the threshold for the whole history.
EditorState busyState()
{
    EditorState state = freshEditorState();
    setPortValue(state, 8, 4.0f, 0.0);
    setPortValue(state, 10, -18.0f, 0.0);
    for (int step = 0; step <= 5 * 50; step++)
    {
        const double time = step * kHistoryColumnSeconds;
        const float key = static_cast<float>(-20.0 + 12.0 * std::sin(step * 0.3));
        setPortValue(state, 13, key, time);
        setPortValue(state, 12, key > -18.0f ? (key + 18.0f) * 0.75f : 0.0f, time);
        setPortValue(state, 14, key, time);
        setPortValue(state, 15, key - 3.0f, time);
    }
    return state;
}

void setRate(benchmark::State& run)
{
    run.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
}

void StillLayer(benchmark::State& run)
{
    const EditorState state = busyState();
    const EditorLayout layout = layoutEditor(kEditorWidth, kEditorHeight, 1.0);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 640, 360);
    for (auto _ : run)
    {
        cairo_t* cr = cairo_create(surface);
        drawEditorStill(cr, state, layout);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    }
    cairo_surface_destroy(surface);
    setRate(run);
}
BENCHMARK(StillLayer)->Unit(benchmark::kMicrosecond);

void LiveFrame(benchmark::State& run)
{
    const EditorState state = busyState();
    const EditorLayout layout = layoutEditor(kEditorWidth, kEditorHeight, 1.0);
    cairo_surface_t* still = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 640, 360);
    cairo_surface_t* window = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 640, 360);
    cairo_t* stillContext = cairo_create(still);
    drawEditorStill(stillContext, state, layout);
    cairo_destroy(stillContext);
    for (auto _ : run)
    {
        cairo_t* cr = cairo_create(window);
        drawEditorFrame(cr, still, state, layout);
        cairo_destroy(cr);
        cairo_surface_flush(window);
    }
    cairo_surface_destroy(window);
    cairo_surface_destroy(still);
    setRate(run);
}
BENCHMARK(LiveFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
