#include "Plot.h"

#include "KestruneParameters.h"
#include "Process.h"
#include "ToolError.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <system_error>

namespace kestrune
{

namespace
{

// plot.py ends with this code when it cannot import matplotlib.
constexpr int kMissingMatplotlib = 3;

std::string number(double value)
{
    return std::isnan(value) ? "nan" : printed("%.7g", value);
}

// One row of a CSV file.
std::string row(std::initializer_list<double> values)
{
    std::string text;
    for (const double value : values)
        text += (text.empty() ? "" : ",") + number(value);
    return text + "\n";
}

// The well-formed UTF-8 sequences by their lead byte: their length and the range the first
// continuation byte may take, which rules out overlong forms, surrogates and what lies above
// U+10FFFF. Further continuation bytes take 0x80..0xBF.
struct LeadBytes
{
    unsigned first, last;
    std::size_t length;
    unsigned low, high;
};
constexpr LeadBytes kLeadBytes[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// The length of the valid UTF-8 sequence at text[at], 0 when there is none.
std::size_t validSequence(const std::string& text, std::size_t at)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (byte(at) < 0x80)
        return 1;
    const auto lead = std::find_if(std::begin(kLeadBytes), std::end(kLeadBytes), [&](const LeadBytes& entry) {
        return byte(at) >= entry.first && byte(at) <= entry.last;
    });
    if (lead == std::end(kLeadBytes) || at + lead->length > text.size() || byte(at + 1) < lead->low ||
        byte(at + 1) > lead->high)
        return 0;
    for (std::size_t i = at + 2; i < at + lead->length; ++i)
    {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return lead->length;
}

// The lines "# key: value" that open a data file, the picture's text first; values lose their
// line breaks and bytes that are not UTF-8.
std::string header(const PictureText& text, std::vector<std::pair<const char*, std::string>> entries)
{
    entries.insert(entries.begin(), {{"title", text.title},
                                     {"settings", text.settings},
                                     {"threshold_db", text.hasThreshold ? number(text.thresholdDb) : "nan"}});
    std::string lines;
    for (auto [key, value] : entries)
    {
        std::replace(value.begin(), value.end(), '\n', ' ');
        lines += std::string("# ") + key + ": " + escapeUndecodable(value) + "\n";
    }
    return lines;
}

// plot.py beside the program (the build tree) or in share/kestrune of its installation.
std::string plotScript()
{
    const std::filesystem::path folder = programFolder();
    const std::filesystem::path candidates[] = {folder / "plot.py", folder.parent_path() / "share/kestrune/plot.py"};
    for (const std::filesystem::path& candidate : candidates)
    {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    throw ToolError("plotting failed: plot.py is neither at " + candidates[0].string() + " nor at " +
                    candidates[1].string());
}

}  // namespace

std::string escapeUndecodable(const std::string& text)
{
    std::string escaped;
    for (std::size_t at = 0; at < text.size();)
    {
        const std::size_t length = validSequence(text, at);
        if (length == 0)
            escaped += printed("\\x%02x", static_cast<unsigned char>(text[at++]));
        else
        {
            escaped.append(text, at, length);
            at += length;
        }
    }
    return escaped;
}

std::string renderData(const EnvelopeRecorder& envelopes, const RenderReport& report)
{
    std::string text = header(report.picture, {{"keyed_by_sidechain", report.keyedBySidechain ? "1" : "0"},
                                               {"gain", report.probed ? "probe" : "ratio"},
                                               {"start_s", number(envelopes.startSeconds())},
                                               {"end_s", number(envelopes.endSeconds())}}) +
                       "time_s,input_min,input_max,key_min,key_max,output_min,output_max,gain_db\n";
    const auto& columns = envelopes.columns();
    const double width = envelopes.columnSeconds();
    for (std::size_t c = 0; c < columns.size(); ++c)
    {
        const EnvelopeRecorder::Column& column = columns[c];
        if (column.used)
            text += row({envelopes.startSeconds() + width * (static_cast<double>(c) + 0.5), column.inputMin,
                         column.inputMax, column.keyMin, column.keyMax, column.outputMin, column.outputMax,
                         VAZiro::lin2dB(column.gainMin)});  // NaN stays NaN
    }
    return text;
}

std::string curveData(const CurvePicture& curve)
{
    std::string text = header(curve, {}) + "input_db,steady_db,sine_db,ideal_db\n";
    for (const CurvePoint& point : curve.points)
        text += row({point.inputDb, point.steadyDb, point.sineDb, point.idealDb});
    return text;
}

void Pictures::add(const std::string& picture, const std::string& csv, const std::string& numbers)
{
    if (!picture.empty())
        m_pictures.push_back(std::make_unique<AtomicFile>(picture));
    auto data = std::make_unique<AtomicFile>(csv.empty() ? picture + ".csv" : csv);
    std::ofstream out(data->temporaryPath());
    if (!(out << numbers).flush())
        throw ToolError("cannot write " + data->path());
    if (!picture.empty())
        m_scriptArguments.insert(m_scriptArguments.end(), {data->temporaryPath(), m_pictures.back()->temporaryPath()});
    (csv.empty() ? m_scratch : m_data).push_back(std::move(data));
}

void Pictures::commit()
{
    for (const std::unique_ptr<AtomicFile>& file : m_data)
        file->commit();
    if (m_drawingFailure)
        std::rethrow_exception(m_drawingFailure);
    for (const std::unique_ptr<AtomicFile>& file : m_pictures)
        file->commit();
}

void Pictures::draw(const std::string& size)
{
    try
    {
        runScript(size);
    }
    catch (const ToolError&)
    {
        m_drawingFailure = std::current_exception();
    }
}

void Pictures::runScript(const std::string& size) const
{
    if (m_scriptArguments.empty())
        return;  // only numbers asked for: no script needed
    std::vector<std::string> words = {"", plotScript()};
    if (!size.empty())
        words.insert(words.end(), {"--size", size});
    words.insert(words.end(), m_scriptArguments.begin(), m_scriptArguments.end());
    std::vector<std::string> pythons = {"python3", "/usr/bin/python3"};
    if (const char* chosen = std::getenv("KESTRUNE_PYTHON"); chosen != nullptr && *chosen != 0)
        pythons = {chosen};
    std::string lacking;
    for (const std::string& python : pythons)
    {
        words[0] = python;
        try
        {
            const Subprocess::Result script = Subprocess::run(words);
            if (script.exitCode == 0)
                return;
            if (script.exitCode != kMissingMatplotlib)
            {
                std::string reason = script.err;  // its last line
                reason.erase(reason.find_last_not_of('\n') + 1);
                reason.erase(0, reason.rfind('\n') + 1);
                throw ToolError("plotting failed: " + (reason.empty() ? python + " ended abnormally" : reason));
            }
            lacking += (lacking.empty() ? "" : " or ") + python;
        }
        catch (const std::system_error& error)
        {
            if (python == pythons.back() && lacking.empty())
                throw ToolError("plotting failed: " + std::string(error.what()));
        }
    }
    throw ToolError("plotting needs matplotlib, which " + lacking +
                    " lacks (Debian: apt-get install python3-matplotlib, or name another Python in KESTRUNE_PYTHON)");
}

}  // namespace kestrune
