// Pictures of a render and of the static transfer curve. The numbers go into a CSV file (the
// columns are listed in `kestrune plot --help` and the README) and plot.py draws it with matplotlib.
#pragma once

#include "AtomicFile.h"
#include "Render.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrune
{

// The extensions of the pictures plot.py draws, each in the format it names.
constexpr const char* kPictureExtensions[] = {"png", "svg", "pdf"};

// The numbers of a picture as plot.py reads them (see `kestrune plot --help` and `curve --help`).
std::string renderData(const EnvelopeRecorder& envelopes, const RenderReport& report);
std::string curveData(const CurvePicture& curve);

// The files of one picture: the picture (PNG, SVG or PDF by its extension), when one is drawn,
// and the CSV of its numbers, which is the user's --data file or else a temporary file beside the
// picture that is never put in place. The numbers are written at once; commit() puts the files in
// place.
class PlotFiles
{
public:
    PlotFiles(const std::string& file, const std::string& csv, const std::string& numbers);

    void commit();

private:
    friend void drawPlots(const std::vector<const PlotFiles*>& plots, const std::string& size);

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
