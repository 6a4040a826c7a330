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
struct RenderPicture : PictureText
{
    bool keyedBySidechain = false;
    GainMeasurement gain = GainMeasurement::None;
};

// The description of a finished render of effect by renderer.
RenderPicture describeRender(Effect& effect, const Renderer& renderer, std::string title);

// The extensions of the pictures plot.py draws, each in the format it names.
constexpr const char* kPictureExtensions[] = {"png", "svg", "pdf"};

// The files of one picture: the picture (PNG, SVG or PDF by its extension), when one is drawn,
// and the CSV of its numbers, which is the user's --data file or else a temporary file beside the
// picture that is never put in place. The numbers are written at once; commit() puts the files in
// place.
class PlotFiles
{
public:
    PlotFiles(const std::string& file, const std::string& csv, const EnvelopeRecorder& recorder,
              const RenderPicture& picture);
    PlotFiles(const std::string& file, const std::string& csv, const CurvePicture& picture);

    void commit();

private:
    friend void drawPlots(const std::vector<const PlotFiles*>& plots, const std::string& size);
    PlotFiles(const std::string& file, const std::string& csv, const std::string& numbers);

    std::unique_ptr<AtomicFile> m_picture;
    AtomicFile m_csv;
    bool m_keepCsv;
};

// Draws every plot that has a picture with one run of plot.py, started by the Python that
// KESTRUNE_PYTHON names, else the first of python3 on PATH and /usr/bin/python3 that has
// matplotlib; size is "WIDTHxHEIGHT" in pixels, or empty for the script's own. Throws ToolError
// with the script's last message when the drawing fails.
void drawPlots(const std::vector<const PlotFiles*>& plots, const std::string& size = {});

}  // namespace kestrune
