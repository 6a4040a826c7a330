// Pictures of a render and of the static transfer curve. The numbers are prepared here (peak
// envelopes per pixel column, curve points measured through the effect) and handed in a small
// text file to plot.py, which draws them with matplotlib; the script is built into the program.
#pragma once

#include "Effect.h"
#include "Render.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune
{

// Peak envelopes per pixel column of input, key and output (minimum and maximum over both
// channels) and the smallest gain in each column.
class EnvelopeRecorder : public RenderObserver
{
public:
    static constexpr int kColumns = 1600;

    EnvelopeRecorder(std::int64_t totalFrames, int sampleRate);
    void observe(const RenderBlock& block) override;

    struct Column
    {
        float inputMin, inputMax, keyMin, keyMax, outputMin, outputMax;
        float gainMin;  // linear; NaN when no gain is known in the column
        bool used;
    };
    const std::vector<Column>& columns() const { return m_columns; }
    std::int64_t framesSeen() const { return m_position; }
    int sampleRate() const { return m_sampleRate; }

private:
    std::int64_t m_total;
    int m_sampleRate;
    std::int64_t m_position = 0;
    std::vector<Column> m_columns;
};

// What the render picture says besides the envelopes.
struct RenderPicture
{
    std::string title;     // usually the input's file name
    std::string settings;  // one line describing the parameters
    bool keyedBySidechain = false;
    bool hasThreshold = false;
    double thresholdDb = 0.0;
    GainMeasurement gain = GainMeasurement::None;
};

struct CurvePoint
{
    double inputDb;
    double steadyDb;  // output level for a square wave (constant magnitude: a steady key)
    double sineDb;    // output peak level for a 1 kHz sine
    double idealDb;   // the hard-knee line; NaN for effects without Kestrune's parameters
};

struct CurvePicture
{
    std::string title;
    std::string settings;
    bool hasThreshold = false;
    double thresholdDb = 0.0;
    std::vector<CurvePoint> points;
};

// Measures the static transfer curve from -80 to 0 dBFS in 1 dB steps, self-keyed, at 48 kHz:
// for each level the effect starts from rest and runs long enough for its envelope to settle
// (16 attack times for the square wave, 12 attack-plus-release times for the sine), and the output
// peak of the last stretch is taken.
CurvePicture measureTransferCurve(Effect& effect, const std::vector<ParameterSetting>& settings, bool quiet);

// Settings of an effect with Kestrune's parameters as one line ("attack 10 ms, ..."), or every
// parameter's name and display text for another effect.
std::string describeSettings(Effect& effect);

// A picture waiting to be drawn: its data and where the PNG goes.
struct PlotJob
{
    std::string dataText;
    std::string pngPath;  // written as given; callers pass a temporary file and rename it
};

PlotJob renderPlotJob(const EnvelopeRecorder& recorder, const RenderPicture& picture, const std::string& pngPath);
PlotJob curvePlotJob(const CurvePicture& picture, const std::string& pngPath);

// Draws all jobs with one run of the plotting script. Throws ToolError with the script's last
// message when Python or matplotlib is missing or the drawing fails.
void drawPlots(const std::vector<PlotJob>& jobs);

}  // namespace kestrune
