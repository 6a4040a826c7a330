// The other commands of kestrune end to end: info, help and version, the pictures, the demo and the
// progress bar.
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace
{

using tooltest::readAudio;
using tooltest::runTool;
using tooltest::TemporaryFolder;
using tooltest::writeAudio;

// The line of text that starts with prefix, or "" when there is none.
std::string lineStartingWith(const std::string& text, const std::string& prefix)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.rfind(prefix, 0) == 0)
            return line;
    }
    return std::string();
}

// Whether the words appear in line in this order, each separated from the next by blanks only.
bool columnsInOrder(const std::string& line, const std::vector<std::string>& words)
{
    std::size_t at = 0;
    for (const std::string& word : words)
    {
        const std::size_t found = line.find(word, at);
        if (found == std::string::npos || line.find_first_not_of(' ', at) != found)
            return false;
        at = found + word.size();
    }
    return true;
}

// A data file as `--data` writes it: "# key: value" lines, a header row, rows of numbers.
struct DataFile
{
    std::map<std::string, std::string> meta;
    std::vector<std::string> header;
    std::map<std::string, std::vector<double>> columns;
};

DataFile readDataFile(const std::string& path)
{
    DataFile data;
    std::istringstream lines(tooltest::readBytes(path));
    for (std::string line; std::getline(lines, line);)
    {
        if (line.rfind("# ", 0) == 0)
        {
            const std::size_t colon = line.find(": ");
            data.meta[line.substr(2, colon - 2)] = line.substr(colon + 2);
            continue;
        }
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');)
            cells.push_back(cell);
        if (data.header.empty())
            data.header = cells;
        else
        {
            for (std::size_t i = 0; i < cells.size(); ++i)
                data.columns[data.header.at(i)].push_back(std::strtod(cells[i].c_str(), nullptr));
        }
    }
    return data;
}

void expectSensiblePng(const std::string& path)
{
    SCOPED_TRACE(path);
    ASSERT_TRUE(std::filesystem::exists(path));
    const tooltest::PngSize size = tooltest::readPngSize(path);
    EXPECT_GE(size.width, 640u);
    EXPECT_LE(size.width, 4000u);
    EXPECT_GE(size.height, 480u);
    EXPECT_LE(size.height, 4000u);
}

TEST(Info, ShowsTheIdentityAndTheSixParameters)
{
    const tooltest::RunResult result = runTool({"info"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string& out = result.out;
    for (const char* line : {"Effect          Kestrune\n", "Vendor          Brisk Lantern\n",
                             "Product         Brisk Lantern sidechain compressor\n", "Vendor version  64\n",
                             "Category        1 (effect)\n", "Unique ID       'BRLA' (0x42524C41)\n",
                             "Outputs         2\n", "Flags           16 (replacing)\n",
                             "Programs        1, current: init 1\n", "Parameters      6\n"})
        EXPECT_NE(out.find(line), std::string::npos) << "missing: " << line << "in\n" << out;
    EXPECT_NE(out.find("Inputs          4"), std::string::npos) << out;

    // One row per parameter: index, name, label (none for Ratio and use SC) and default display.
    const std::vector<std::vector<std::string>> rows = {
        {"0", "Attack", "ms", "10.0"}, {"1", "Release", "ms", "100.0"}, {"2", "Ratio", "1.0"},
        {"3", "use SC", "false"},      {"4", "Thresh", "dB", "0.0"},    {"5", "Makeup", "dB", "0.0"}};
    for (const std::vector<std::string>& row : rows)
    {
        const std::string line = lineStartingWith(out, "  " + row[0] + " ");
        EXPECT_TRUE(columnsInOrder(line, row)) << "row " << row[0] << ": '" << line << "' in\n" << out;
    }
}

TEST(Info, DescribesAnotherModule)
{
    const tooltest::RunResult result = runTool({"info", "--plugin", KESTRUNE_VERSION_ECHO_MODULE_PATH});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Inputs          2 (main L/R)\n"), std::string::npos) << result.out;
    EXPECT_TRUE(columnsInOrder(lineStartingWith(result.out, "  0 "), {"0", "Alpha"})) << result.out;
    EXPECT_TRUE(columnsInOrder(lineStartingWith(result.out, "  1 "), {"1", "Beta"})) << result.out;
}

TEST(Help, EveryCommandExplainsItsOptionsWithUnitsAndRanges)
{
    const tooltest::RunResult version = runTool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    int major = -1, minor = -1, patch = -1;
    EXPECT_EQ(std::sscanf(version.out.c_str(), "kestrune %d.%d.%d", &major, &minor, &patch), 3) << version.out;
    // -V as well, at the top and in every command, however complete the rest of the line.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-V"}, {"info", "-V"}, {"render", "--version"}, {"plot", "-V"}, {"curve", "-V"},
          {"demo", "--version"}})
    {
        const tooltest::RunResult answer = runTool(arguments);
        EXPECT_EQ(answer.exitCode, 0) << arguments[0] << answer.err;
        EXPECT_EQ(answer.out, version.out) << arguments[0];
    }

    const tooltest::RunResult top = runTool({"--help"});
    EXPECT_EQ(top.exitCode, 0);
    for (const char* command : {"info", "render", "plot", "curve", "demo"})
        EXPECT_NE(top.out.find(std::string("\n  ") + command), std::string::npos) << command;
    for (const char* text : {"2 a mistake on the command line", "1 a processing error", "130 interrupted by Ctrl-C",
                             "'-' names standard input or output", "the last value counts"})
        EXPECT_NE(top.out.find(text), std::string::npos) << text << " missing in\n" << top.out;

    for (const char* command : {"render", "plot", "curve"})
    {
        SCOPED_TRACE(command);
        const tooltest::RunResult help = runTool({command, "--help"});
        EXPECT_EQ(help.exitCode, 0);
        for (const char* text : {"--attack MS", "attack time in ms, 0.1..100 (default 10)", "release time in ms, 0.1..500",
                                 "ratio R of R:1, 1..10", "dBFS, -120..0 (default 0)", "makeup gain in dB, -18..18",
                                 "--param NAME=VALUE", "0..1", "--plugin PATH", "Example"})
            EXPECT_NE(help.out.find(text), std::string::npos) << text << " missing in\n" << help.out;
    }
    for (const char* command : {"info", "demo"})
    {
        const tooltest::RunResult help = runTool({command, "--help"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_NE(help.out.find("Example: kestrune " + std::string(command)), std::string::npos) << help.out;
    }
}

TEST(Pictures, PlotRenderPlotAndCurveWriteValidPngs)
{
    TemporaryFolder folder;
    const int rate = 48000;
    writeAudio(folder.file("pad.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, rate, 2 * rate,
               [&](std::int64_t i, int c) { return 0.3 * std::sin(2.0 * M_PI * (220.0 + 110.0 * c) * i / rate); });
    writeAudio(folder.file("kick.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, rate, 2 * rate,
               [&](std::int64_t i, int) { return (i % (rate / 2)) < 2000 ? 0.9 : 0.0; });

    tooltest::RunResult result =
        runTool({"plot", folder.file("pad.wav"), "--sidechain", folder.file("kick.wav"), "--threshold", "-30",
                 "--ratio", "8", "--attack", "0.1", "-o", folder.file("plot.png"), "--data", folder.file("plot.csv")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectSensiblePng(folder.file("plot.png"));
    {
        // The documented columns, one row per pixel column over the 2 s. The input peaks at 0.3 and
        // the kick at 0.9 (in 16-bit PCM); during a kick the gain settles on the static curve.
        const DataFile data = readDataFile(folder.file("plot.csv"));
        EXPECT_EQ(data.meta.at("threshold_db"), "-30");
        EXPECT_EQ(data.meta.at("keyed_by_sidechain"), "1");
        EXPECT_EQ(data.meta.at("gain"), "probe");
        EXPECT_EQ(data.header, (std::vector<std::string>{"time_s", "input_min", "input_max", "key_min", "key_max",
                                                          "output_min", "output_max", "gain_db"}));
        const std::vector<double>& time = data.columns.at("time_s");
        ASSERT_EQ(time.size(), 1600u);
        EXPECT_TRUE(std::is_sorted(time.begin(), time.end()));
        EXPECT_GT(time.front(), 0.0);
        EXPECT_LT(time.back(), 2.0);
        const auto largest = [&](const char* name) {
            const std::vector<double>& values = data.columns.at(name);
            return *std::max_element(values.begin(), values.end());
        };
        EXPECT_NEAR(largest("input_max"), 0.3, 1e-3);
        EXPECT_NEAR(largest("key_max"), 29491.0 / 32768.0, 1e-6);
        const std::vector<double>& gain = data.columns.at("gain_db");
        const double settled = -(20.0 * std::log10(29491.0 / 32768.0) + 30.0) * (1.0 - 1.0 / 8.0);
        EXPECT_NEAR(*std::min_element(gain.begin(), gain.end()), settled, 0.01);
    }

    result = runTool({"render", folder.file("pad.wav"), "-o", folder.file("out.wav"), "--threshold", "-20",
                      "--ratio", "4", "--plot", folder.file("render.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectSensiblePng(folder.file("render.png"));
    EXPECT_EQ(readAudio(folder.file("out.wav")).frames(), 2 * rate);

    // Another effect: the gain is estimated from output over input.
    result = runTool({"plot", folder.file("pad.wav"), "--plugin", KESTRUNE_VERSION_ECHO_MODULE_PATH, "-o",
                      folder.file("other.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectSensiblePng(folder.file("other.png"));

    result = runTool({"curve", "--threshold", "-40", "--ratio", "4", "--attack", "1", "--release", "20", "--makeup",
                      "2", "-o", folder.file("curve.png"), "--data", folder.file("curve.csv")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectSensiblePng(folder.file("curve.png"));
    {
        // -80 to 0 dBFS in 1 dB steps; the ideal line is T + (L - T)/R + makeup above T, L + makeup below.
        const DataFile data = readDataFile(folder.file("curve.csv"));
        EXPECT_EQ(data.meta.at("threshold_db"), "-40");
        EXPECT_EQ(data.header, (std::vector<std::string>{"input_db", "steady_db", "sine_db", "ideal_db"}));
        const std::vector<double>& input = data.columns.at("input_db");
        ASSERT_EQ(input.size(), 81u);
        for (std::size_t i = 0; i < input.size(); ++i)
        {
            const double level = -80.0 + static_cast<double>(i);
            const double ideal = (level > -40.0 ? -40.0 + (level + 40.0) / 4.0 : level) + 2.0;
            EXPECT_NEAR(input[i], level, 1e-5);
            EXPECT_NEAR(data.columns.at("ideal_db")[i], ideal, 1e-5) << level;
            EXPECT_NEAR(data.columns.at("steady_db")[i], ideal, 0.01) << level;
        }
    }

    // Nothing else was left in the folder: no temporary files, no plot data.
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"curve.csv", "curve.png", "kick.wav", "other.png", "out.wav",
                                                          "pad.wav", "plot.csv", "plot.png", "render.png"}));
}

TEST(Pictures, ZoomSizeAndFormatByExtension)
{
    // Quiet but for a 0.5 s burst from 3 s on; drawn from 2 to 4.5 s, the 1600 columns cover only
    // that stretch, and the burst fills the columns between 3 and 3.5 s.
    TemporaryFolder folder;
    const int rate = 8000;
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, 6 * rate,
               [&](std::int64_t i, int) { return i >= 3 * rate && i < 7 * rate / 2 ? 0.5 : 0.125; });
    const tooltest::RunResult result =
        runTool({"plot", folder.file("in.wav"), "--threshold", "-30", "--ratio", "4", "--start", "2", "--end", "4.5",
                 "--size", "1000x700", "-o", folder.file("zoom.svg"), "--data", folder.file("zoom.csv")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const DataFile data = readDataFile(folder.file("zoom.csv"));
    EXPECT_EQ(data.meta.at("start_s"), "2");
    EXPECT_EQ(data.meta.at("end_s"), "4.5");
    const std::vector<double>& time = data.columns.at("time_s");
    ASSERT_EQ(time.size(), 1600u);
    const double width = 2.5 / 1600.0;
    for (std::size_t c = 0; c < time.size(); ++c)
    {
        EXPECT_NEAR(time[c], 2.0 + width * (static_cast<double>(c) + 0.5), 1e-6) << c;
        const bool burst = time[c] > 3.0 + width && time[c] < 3.5 - width;
        const bool quiet = time[c] < 3.0 - width || time[c] > 3.5 + width;
        if (burst || quiet)
        {
            EXPECT_EQ(data.columns.at("input_max")[c], burst ? 0.5 : 0.125) << time[c];
        }
    }

    // The SVG is 1000 x 700 pixels at 120 per inch, in points; its text stays text. The key lane
    // is in dBFS with the threshold marked; the input is outlined.
    const std::string svg = tooltest::readBytes(folder.file("zoom.svg"));
    EXPECT_NE(svg.find("width=\"600pt\" height=\"420pt\""), std::string::npos) << svg.substr(0, 400);
    for (const char* text : {">threshold -30.0 dBFS</text>", ">key (dBFS)</text>",
                             ">key: the input itself (self-keyed)</text>", ">input (outline)</text>", ">output</text>"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;

    // PDF and PNG by the extension; the PNG has the size asked for.
    for (const char* name : {"zoom.pdf", "zoom.png"})
    {
        const tooltest::RunResult again = runTool({"plot", folder.file("in.wav"), "--ratio", "4", "--size",
                                                   "1000x700", "--end", "1", "-o", folder.file(name)});
        ASSERT_EQ(again.exitCode, 0) << again.err;
    }
    EXPECT_EQ(tooltest::readBytes(folder.file("zoom.pdf")).rfind("%PDF-", 0), 0u);
    const tooltest::PngSize size = tooltest::readPngSize(folder.file("zoom.png"));
    EXPECT_EQ(size.width, 1000u);
    EXPECT_EQ(size.height, 700u);
    EXPECT_EQ(folder.entries(),
              (std::vector<std::string>{"in.wav", "zoom.csv", "zoom.pdf", "zoom.png", "zoom.svg"}));
}

// The text of every <text> element of an SVG, in order.
std::vector<std::string> svgTexts(const std::string& svg)
{
    std::vector<std::string> texts;
    for (std::size_t at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at + 1))
    {
        const std::size_t begin = svg.find('>', at) + 1;
        texts.push_back(svg.substr(begin, svg.find("</text>", begin) - begin));
    }
    return texts;
}

TEST(Pictures, ThirtyFiveSettingsWrapWithinTheFigure)
{
    // A peer's settings line, drawn by plot.py from a data file as --data documents it: every
    // setting appears whole, on lines that fit the figure even at 0.65 em per character.
    TemporaryFolder folder;
    std::string settings;
    std::vector<std::string> items;
    for (int i = 0; i < 35; ++i)
    {
        items.push_back("Parameter" + std::to_string(i) + " " + std::to_string(i * 7 % 100) + ".000000 dB");
        settings += (i == 0 ? "" : ", ") + items.back();
    }
    {
        std::ofstream csv(folder.file("peer.csv"));
        csv << "# title: A peer: in.wav\n# settings: " << settings
            << "\n# threshold_db: nan\n# keyed_by_sidechain: 0\n# gain: ratio\n# start_s: 0\n# end_s: 1\n"
            << "time_s,input_min,input_max,key_min,key_max,output_min,output_max,gain_db\n";
        for (int c = 0; c < 100; ++c)
            csv << (c + 0.5) / 100.0 << ",-0.5,0.5,-0.5,0.5,-0.25,0.25,-6.02\n";
    }
    const std::string script = std::filesystem::path(KESTRUNE_TOOL_PATH).parent_path() / "plot.py";
    const tooltest::RunResult drawn = tooltest::runProgram(
        {"/usr/bin/python3", script, "--size", "800x600", folder.file("peer.csv"), folder.file("peer.svg")});
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err;

    const std::string svg = tooltest::readBytes(folder.file("peer.svg"));
    double figureWidth = 0.0;
    ASSERT_EQ(std::sscanf(svg.c_str() + svg.find("viewBox=\"0 0 "), "viewBox=\"0 0 %lf", &figureWidth), 1);
    EXPECT_NEAR(figureWidth, 800.0 * 72.0 / 120.0, 1e-6);
    const std::string blank = " ", noBreak = "\u00a0";
    int lines = 0;
    std::size_t found = 0;
    for (std::string text : svgTexts(svg))
    {
        if (text.find("Parameter") == std::string::npos)
            continue;
        ++lines;
        for (std::size_t at; (at = text.find(noBreak)) != std::string::npos;)
            text.replace(at, noBreak.size(), blank);
        EXPECT_LE(static_cast<double>(text.size()) * 0.65 * 10.0, figureWidth) << text;
        for (const std::string& item : items)
            found += text.find(item + ",") != std::string::npos ||
                     (text.size() >= item.size() && text.compare(text.size() - item.size(), item.size(), item) == 0);
    }
    EXPECT_GE(lines, 3);
    EXPECT_EQ(found, items.size()) << "a setting was split between lines";
}

TEST(Pictures, AnEffectThatSilencesItsOutputIsDrawn)
{
    // The plain gain fixture at Gain 0 silences a loud input: the estimated gain is 0, -inf dB, which
    // the picture draws at the foot of its axis instead of failing to scale it.
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 48000,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.05 * static_cast<double>(i)); });
    const tooltest::RunResult result =
        runTool({"plot", folder.file("in.wav"), "--plugin", KESTRUNE_TWO_INPUT_MODULE_PATH, "--param", "Gain=0", "-o",
                 folder.file("silenced.png"), "--data", folder.file("silenced.csv")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectSensiblePng(folder.file("silenced.png"));
    const DataFile data = readDataFile(folder.file("silenced.csv"));
    EXPECT_EQ(data.meta.at("gain"), "ratio");
    const std::vector<double>& gain = data.columns.at("gain_db");
    EXPECT_GT(std::count(gain.begin(), gain.end(), -HUGE_VAL), 1000);
}

TEST(Pictures, NamesThatAreNotUtf8AreTitledWithTheirBytesEscaped)
{
    // File names are bytes; the title shows one that is not UTF-8 as Python would, and the picture and
    // the audio are written. plot.py, run by hand, refuses a size it cannot draw in its own words.
    TemporaryFolder folder;
    const std::string name = folder.file("caf\xe9 \xc3\xa9t\xc3.wav");
    writeAudio(name, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.05 * static_cast<double>(i)); });
    const tooltest::RunResult result = runTool({"render", name, "-o", folder.file("\xff.wav"), "--plot",
                                                folder.file("\xff.png"), "--data", folder.file("d.csv"), "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readDataFile(folder.file("d.csv")).meta.at("title"), "Kestrune: caf\\xe9 \xc3\xa9t\\xc3.wav");
    expectSensiblePng(folder.file("\xff.png"));
    EXPECT_EQ(readAudio(folder.file("\xff.wav")).frames(), 4800);

    const std::string script = std::filesystem::path(KESTRUNE_TOOL_PATH).parent_path() / "plot.py";
    for (const std::string size : {"-800x600", "4294967496x300", "800x"})
    {
        const tooltest::RunResult drawn =
            tooltest::runProgram({"/usr/bin/python3", script, "--size", size, folder.file("d.csv"), folder.file("p.png")});
        EXPECT_EQ(drawn.exitCode, 1);
        EXPECT_EQ(drawn.err, "plot.py: --size " + size + ": give WIDTHxHEIGHT in pixels, each 200..10000, e.g. 1600x900\n");
    }
}

TEST(Options, DoubleDashEndsTheOptionsOfEveryCommand)
{
    // A file whose name starts with '-' is read after "--"; every command takes "--", and the usage
    // lines show nothing of how the surplus words are caught.
    TemporaryFolder folder;
    const std::string dashed = folder.file("-in.wav");
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.05 * static_cast<double>(i)); });
    const auto inFolder = [&folder](const std::string& command) {
        return tooltest::runProgram({"sh", "-c", "cd " + folder.path() + " && " KESTRUNE_TOOL_PATH " " + command});
    };
    std::filesystem::copy_file(folder.file("in.wav"), dashed);
    for (const std::string command : {"render -q -o out.wav -- -in.wav", "render -q -o - -t wav -- - < -in.wav > o.wav",
                                      "plot -q -o out.png --data out.csv -- -in.wav", "info --",
                                      "curve -q -o curve.png --attack 1 --release 1 --"})
    {
        SCOPED_TRACE(command);
        const tooltest::RunResult result = inFolder(command);
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
    EXPECT_TRUE(tooltest::readBytes(folder.file("out.wav")) == tooltest::readBytes(folder.file("o.wav")));
    EXPECT_EQ(readDataFile(folder.file("out.csv")).meta.at("title"), "Kestrune: -in.wav");
    for (const std::string command : {"render", "plot", "curve", "info", "demo"})
    {
        const std::string usage = lineStartingWith(runTool({command, "--help"}).out, "Usage:");
        EXPECT_EQ(usage, "Usage: kestrune " + command + " [OPTIONS]" +
                             (command == "render" || command == "plot" ? " input" : ""));
    }
}

TEST(Pictures, NumbersAloneNeedNoDrawingScript)
{
    // A copy of the program with no plot.py beside it or in ../share: --data alone still works, and
    // a picture says where the script was looked for. The module goes beside it, as in the build tree.
    TemporaryFolder folder;
    std::filesystem::create_directories(folder.file("bin"));
    std::filesystem::copy_file(KESTRUNE_TOOL_PATH, folder.file("bin/kestrune"));
    std::filesystem::create_symlink(std::filesystem::path(KESTRUNE_TOOL_PATH).parent_path() / "Kestrune.so",
                                    folder.file("bin/Kestrune.so"));
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.05 * static_cast<double>(i)); });
    const tooltest::RunResult numbers = tooltest::runProgram(
        {folder.file("bin/kestrune"), "render", folder.file("in.wav"), "-o", folder.file("out.wav"), "--data",
         folder.file("out.csv"), "--ratio", "4"});
    EXPECT_EQ(numbers.exitCode, 0) << numbers.err;
    EXPECT_EQ(readDataFile(folder.file("out.csv")).columns.at("gain_db").size(), 1600u);

    const tooltest::RunResult picture = tooltest::runProgram(
        {folder.file("bin/kestrune"), "plot", folder.file("in.wav"), "-o", folder.file("out.png")});
    EXPECT_EQ(picture.exitCode, 1);
    EXPECT_NE(picture.err.find("plotting failed: plot.py is neither at " + folder.file("bin/plot.py")),
              std::string::npos)
        << picture.err;
}

TEST(Demo, WritesItsFilesAndASummary)
{
    TemporaryFolder folder;
    const std::string demo = folder.file("nested/demo");
    const tooltest::RunResult result = runTool({"demo", "-o", demo});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const tooltest::Audio music = readAudio(demo + "/music.wav");
    const tooltest::Audio kick = readAudio(demo + "/kick.wav");
    EXPECT_EQ(music.info.channels, 2);
    EXPECT_EQ(kick.info.channels, 1);
    EXPECT_EQ(music.frames(), 16 * music.info.samplerate);
    EXPECT_EQ(kick.frames(), music.frames());

    // The kick sits on the beat: its peak in the first 10 ms after each beat at 120 BPM is loud,
    // and it is quiet just before the next.
    const std::int64_t beat = music.info.samplerate / 2;
    for (std::int64_t b = 0; b < 32; ++b)
    {
        float onset = 0.0f;
        float tail = 0.0f;
        for (std::int64_t i = 0; i < music.info.samplerate / 100; ++i)
        {
            onset = std::max(onset, std::fabs(kick.at(b * beat + i, 0)));
            tail = std::max(tail, std::fabs(kick.at(b * beat + beat - 1 - i, 0)));
        }
        EXPECT_GT(onset, 0.3f) << "beat " << b;
        EXPECT_LT(tail, onset * 0.2f) << "beat " << b;
    }

    for (const char* name : {"self-keyed.wav", "sidechain-keyed.wav"})
    {
        const tooltest::Audio rendered = readAudio(demo + "/" + name);
        EXPECT_EQ(rendered.frames(), music.frames()) << name;
        EXPECT_NE(rendered.samples, music.samples) << name;
    }
    for (const char* name : {"self-keyed.png", "sidechain-keyed.png", "curve.png"})
        expectSensiblePng(demo + "/" + name);

    const std::string summary = tooltest::readBytes(demo + "/summary.txt");
    EXPECT_EQ(summary + "Written to " + demo + "/\n", result.out);
    // The sidechain-keyed row: output RMS and peak and a largest gain reduction of many dB.
    const std::string row = lineStartingWith(summary, "sidechain-keyed.wav ");
    const std::string keyedBy = "keyed by kick.wav";
    ASSERT_NE(row.find(keyedBy), std::string::npos) << summary;
    std::istringstream numbers(row.substr(row.find(keyedBy) + keyedBy.size()));
    double rmsDb = 0.0, peakDb = 0.0, reductionDb = 0.0;
    std::string unit;
    ASSERT_TRUE(numbers >> rmsDb >> peakDb >> reductionDb >> unit) << row;
    EXPECT_EQ(unit, "dB");
    EXPECT_LT(rmsDb, peakDb);
    EXPECT_LT(peakDb, -3.0);  // the music peaks at -6 dBFS and is only turned down
    EXPECT_GT(reductionDb, 10.0);
    EXPECT_NE(summary.find("main signal (stereo)"), std::string::npos);

    // Nothing but the demo's files: no temporary ones.
    EXPECT_EQ(tooltest::listFolder(demo),
              (std::vector<std::string>{"curve.png", "kick.wav", "music.wav", "self-keyed.png", "self-keyed.wav",
                                        "sidechain-keyed.png", "sidechain-keyed.wav", "summary.txt"}));
}

TEST(Demo, RefusesWhatItCannotFinishBeforeWritingAnything)
{
    // A folder where a file of the demo goes, and an effect without Kestrune's parameters, are told
    // before any file is written, and nothing is left in the folder.
    TemporaryFolder folder;
    std::filesystem::create_directories(folder.file("demo/curve.png"));
    const tooltest::RunResult blocked = runTool({"demo", "-o", folder.file("demo")});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.err.find("cannot write " + folder.file("demo") + "/curve.png: it is a folder"), std::string::npos)
        << blocked.err;
    EXPECT_EQ(tooltest::listFolder(folder.file("demo")), std::vector<std::string>{"curve.png"});

    const tooltest::RunResult peer =
        runTool({"demo", "-o", folder.file("peer"), "--plugin", KESTRUNE_TWO_INPUT_MODULE_PATH});
    EXPECT_EQ(peer.exitCode, 2);
    EXPECT_NE(peer.err.find("the demo sets Kestrune's parameters, which " KESTRUNE_TWO_INPUT_MODULE_PATH
                            " does not have"),
              std::string::npos)
        << peer.err;
    EXPECT_TRUE(tooltest::listFolder(folder.file("peer")).empty());
}

TEST(Notes, SettingsThatDoNothingAndAKeyOfSilenceAreSaid)
{
    TemporaryFolder folder;
    writeAudio(folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.03 * static_cast<double>(i)); });
    const std::string idle = "kestrune: note: ratio 1:1 and 0 dB makeup leave the audio as it is; compress with "
                             "e.g. --ratio 4 --threshold -20\n";
    const std::string fullScale = "kestrune: note: with the threshold at 0 dBFS only peaks above full scale are "
                                  "compressed; lower it, e.g. --threshold -20\n";
    const std::string silentKey = "kestrune: warning: 'use SC' is on without a --sidechain file: the compressor is "
                                  "keyed by silence and leaves the audio as it is\n";
    const struct
    {
        std::vector<std::string> options;
        std::string err;
    } cases[] = {
        {{}, idle},
        {{"--ratio", "4"}, fullScale},
        {{"--param", "ratio=0.5"}, fullScale},
        {{"--makeup", "6"}, ""},  // a plain gain change is something
        {{"--ratio", "4", "--threshold", "-20"}, ""},
        {{"-q"}, ""},
        {{"--param", "use sc=1", "--ratio", "4", "--threshold", "-20"}, silentKey},
        {{"--param", "use SC=1", "-q"}, silentKey},  // a warning, not a note
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> arguments = {"render", folder.file("in.wav"), "-o", folder.file("out.wav")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const tooltest::RunResult result = runTool(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, c.err) << arguments.back();
    }
}

TEST(Progress, BarOnlyOnATerminalForLongRendersAndNeverWhenQuiet)
{
    TemporaryFolder folder;
    const int rate = 8000;
    // 12 s of audio: longer than the bar's 10 s minimum; 5 s: shorter.
    writeAudio(folder.file("long.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, 12 * rate,
               [](std::int64_t i, int) { return 0.1 * std::sin(0.05 * i); });
    writeAudio(folder.file("short.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, 5 * rate,
               [](std::int64_t i, int) { return 0.1 * std::sin(0.05 * i); });

    const tooltest::RunResult terminal =
        tooltest::runToolOnTerminal({"render", folder.file("long.wav"), "-o", folder.file("a.wav")});
    EXPECT_EQ(terminal.exitCode, 0) << terminal.err;
    EXPECT_NE(terminal.err.find("render  ["), std::string::npos) << terminal.err;
    EXPECT_NE(terminal.err.find("100%  12.0 of 12.0 s"), std::string::npos) << terminal.err;
    EXPECT_NE(terminal.err.find("\r\033[K"), std::string::npos) << "the bar is not cleared";

    for (const auto& arguments :
         {std::vector<std::string>{"render", folder.file("long.wav"), "-o", folder.file("b.wav"), "--quiet"},
          std::vector<std::string>{"render", folder.file("short.wav"), "-o", folder.file("c.wav"), "--ratio", "2",
                                   "--threshold", "-6"}})
    {
        const tooltest::RunResult quiet = tooltest::runToolOnTerminal(arguments);
        EXPECT_EQ(quiet.exitCode, 0);
        EXPECT_EQ(quiet.err, "") << arguments[1];
    }

    // Not a terminal: nothing, however long.
    const tooltest::RunResult piped =
        runTool({"render", folder.file("long.wav"), "-o", folder.file("d.wav"), "--ratio", "2", "--threshold", "-6"});
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.err, "");
}

}  // namespace
