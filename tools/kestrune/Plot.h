// Pictures of a render and of the static transfer curve. The numbers go into a CSV file (the
// columns are listed in `kestrune plot --help` and the README) and plot.py draws it with matplotlib.
#pragma once

#include "AtomicFile.h"
#include "Measure.h"
#include "Render.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrune
{

// What the render picture says besides the envelopes.
struct RenderPicture
{
    std::string title;
    std::string settings;  // one line describing the parameters
    bool keyedBySidechain = false;
    bool hasThreshold = false;
    double thresholdDb = 0.0;
    GainMeasurement gain = GainMeasurement::None;
};

// The description of a finished render of effect by renderer.
RenderPicture describeRender(Effect& effect, const Renderer& renderer, std::string title);

// The files of one picture: the PNG, when one is drawn, and the CSV of its numbers, which is the
// user's --data file or else a temporary file beside the PNG that is never put in place. The
// numbers are written at once; commit() puts the files in place.
class PlotFiles
{
public:
    PlotFiles(const std::string& png, const std::string& csv, const EnvelopeRecorder& recorder,
              const RenderPicture& picture);
    PlotFiles(const std::string& png, const std::string& csv, const CurvePicture& picture);

    bool drawn() const { return m_png != nullptr; }
    void commit();

private:
    friend void drawPlots(const std::vector<const PlotFiles*>& plots);
    PlotFiles(const std::string& png, const std::string& csv);
    void write(const std::string& text);

    std::unique_ptr<AtomicFile> m_png;
    std::unique_ptr<AtomicFile> m_csv;
    bool m_keepCsv;
};

// Draws every plot that has a PNG with one run of plot.py, started by the Python that
// KESTRUNE_PYTHON names, else the first of python3 on PATH and /usr/bin/python3 that has
// matplotlib. Throws ToolError with the script's last message when the drawing fails.
void drawPlots(const std::vector<const PlotFiles*>& plots);

}  // namespace kestrune
