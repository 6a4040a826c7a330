// Pictures of a render and of the static transfer curve: plot.py draws them from CSV files of their numbers.
#pragma once

#include "AtomicFile.h"
#include "Render.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace kestrune
{

// The extensions of the pictures plot.py draws, each in the format it names.
constexpr const char* kPictureExtensions[] = {"png", "svg", "pdf"};

// Text as valid UTF-8: every byte that is not part of a valid sequence becomes \xHH, as Python shows
// it. Titles are made of file names and an effect's texts, which are bytes in no promised encoding.
std::string escapeUndecodable(const std::string& text);

// The numbers of a picture as plot.py reads them (see `kestrune plot --help` and `curve --help`).
std::string renderData(const EnvelopeRecorder& envelopes, const RenderReport& report);
std::string curveData(const CurvePicture& curve);

// Pictures (PNG, SVG or PDF by their extension) and the CSV files of their numbers, each the
// user's --data file or else a temporary file beside its picture that is never put in place.
class Pictures
{
public:
    // Writes the numbers at once; picture or csv may be empty.
    void add(const std::string& picture, const std::string& csv, const std::string& numbers);
    // Draws every picture with one run of plot.py, started by the Python that KESTRUNE_PYTHON names,
    // else the first of python3 on PATH and /usr/bin/python3 that has matplotlib; size is
    // "WIDTHxHEIGHT" in pixels, or empty for the script's own. A failure is kept for commit(), so that
    // the files that do not depend on the drawing (the audio, the numbers) are still written.
    void draw(const std::string& size = {});
    // Puts the --data files in place, and the pictures when they were drawn; then throws ToolError with
    // the script's last message when the drawing failed.
    void commit();

private:
    void runScript(const std::string& size) const;

    std::vector<std::unique_ptr<AtomicFile>> m_pictures;  // in place on commit() once drawn
    std::vector<std::unique_ptr<AtomicFile>> m_data;      // the --data files, in place on commit()
    std::vector<std::unique_ptr<AtomicFile>> m_scratch;   // the CSV files nobody asked for
    std::vector<std::string> m_scriptArguments;           // CSV and picture, pair by pair
    std::exception_ptr m_drawingFailure;
};

}  // namespace kestrune
