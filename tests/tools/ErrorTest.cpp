// Every way a kestrune run can go wrong ends with one line on stderr that says what, a non-zero exit
// code (1 for files, formats and plug-ins, 2 for the command line) and no output file, not even a
// partial or temporary one.
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{

using tooltest::runTool;
using tooltest::TemporaryFolder;
using tooltest::writeAudio;

constexpr int kFailure = 1;
constexpr int kUsage = 2;

struct ErrorCase
{
    const char* what;
    std::vector<std::string> arguments;  // "@" stands for the test folder
    int exitCode;
    std::string message;                 // part of the one line on stderr
};

std::string substitute(const std::string& argument, const std::string& folder)
{
    std::string result = argument;
    for (std::size_t at = result.find('@'); at != std::string::npos; at = result.find('@', at + folder.size()))
        result.replace(at, 1, folder);
    return result;
}

class ErrorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const auto tone = [](std::int64_t i, int) { return 0.5 * ((i / 50) % 2 == 0 ? 1.0 : -1.0); };
        writeAudio(m_folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800, tone);
        writeAudio(m_folder.file("in44.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 4410, tone);
        writeAudio(m_folder.file("three.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, 48000, 4800, tone);
        std::ofstream(m_folder.file("text.wav")) << "this is not audio\n";
        std::filesystem::create_directory(m_folder.file("folder.wav"));
        m_before = m_folder.entries();
    }

    void check(const ErrorCase& c)
    {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments;
        for (const std::string& argument : c.arguments)
            arguments.push_back(substitute(argument, m_folder.path()));
        const tooltest::RunResult result = runTool(arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.err.find(substitute(c.message, m_folder.path())), std::string::npos) << result.err;
        EXPECT_EQ(result.err.rfind("kestrune: error: ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(m_folder.entries(), m_before) << "a file was left behind";
    }

    TemporaryFolder m_folder;
    std::vector<std::string> m_before;
};

TEST_F(ErrorTest, FilesAndFormats)
{
    const ErrorCase cases[] = {
        {"missing input", {"render", "@/missing.wav", "-o", "@/out.wav"}, kFailure,
         "cannot read @/missing.wav: No such file or directory"},
        {"input is a folder", {"render", "@/folder.wav", "-o", "@/out.wav"}, kFailure, "it is a folder"},
        {"output is a folder", {"render", "@/in.wav", "-o", "@/folder.wav"}, kFailure,
         "cannot write @/folder.wav: it is a folder"},
        {"not audio", {"render", "@/text.wav", "-o", "@/out.wav"}, kFailure,
         "not an audio format libsndfile can read"},
        {"missing sidechain", {"render", "@/in.wav", "--sidechain", "@/nokey.wav", "-o", "@/out.wav"}, kFailure,
         "cannot read @/nokey.wav"},
        {"unwritable extension", {"render", "@/in.wav", "-o", "@/out.xyz"}, kUsage,
         "libsndfile writes no format with the extension 'xyz'"},
        {"no extension", {"render", "@/in.wav", "-o", "@/out"}, kUsage, "libsndfile writes no format"},
        {"sample format the container lacks", {"render", "@/in.wav", "-o", "@/out.flac", "--format", "float"}, kUsage,
         ".flac files cannot hold 32-bit float samples"},
        // libsndfile's own format check passes MPEG in WAV; only what writes is offered.
        {"codec the container lacks", {"render", "@/in.wav", "-o", "@/out.wav", "--format", "mp3"}, kUsage,
         ".wav files cannot hold MPEG layer III samples at 48000 Hz (--format takes pcm16, pcm24, pcm32, float, "
         "double for them)"},
        {"Opus at a rate it lacks", {"render", "@/in44.wav", "-o", "@/out.ogg", "--format", "opus"}, kUsage,
         ".ogg files cannot hold Opus samples at 44100 Hz (--format takes vorbis for them)"},
        {"standard output without a type", {"render", "@/in.wav", "-o", "-"}, kUsage,
         "name the format of standard output with -t TYPE"},
        {"unknown type", {"render", "@/in.wav", "-o", "-", "-t", "xyz"}, kUsage,
         "libsndfile writes no format of the type 'xyz'"},
        {"both inputs from standard input", {"render", "-", "--sidechain", "-", "-o", "@/out.wav"}, kUsage,
         "the input and the sidechain cannot both come from standard input"},
        {"output folder missing", {"render", "@/in.wav", "-o", "@/nowhere/out.wav"}, kFailure,
         "No such file or directory"},
        {"three channels in", {"render", "@/three.wav", "-o", "@/out.wav"}, kFailure,
         "has 3 channels; kestrune takes mono or stereo files"},
        {"three channels on the sidechain", {"render", "@/in.wav", "--sidechain", "@/three.wav", "-o", "@/out.wav"},
         kFailure, "the sidechain @/three.wav has 3 channels"},
        {"output over the input", {"render", "@/in.wav", "-o", "@/in.wav"}, kUsage,
         "refusing to write @/in.wav over the input file"},
        {"output over the sidechain, spelt differently",
         {"render", "@/text.wav", "--sidechain", "@/in.wav", "-o", "@/./in.wav"}, kUsage,
         "refusing to write @/./in.wav over the input file @/in.wav"},
        {"plot that is no picture", {"plot", "@/in.wav", "-o", "@/out.jpg"}, kUsage,
         "name a .png file; pictures are PNG, SVG or PDF by their extension"},
        {"curve that is no picture", {"curve", "-o", "@/curve.gif"}, kUsage, "name a .png file"},
        {"data that is not CSV", {"curve", "-o", "@/curve.svg", "--data", "@/curve.txt"}, kUsage, "name a .csv file"},
        {"zoom past the end", {"plot", "@/in.wav", "-o", "@/out.png", "--start", "0.2"}, kUsage,
         "--start 0.2 lies past the end of the input (0.1 s)"},
        {"zoom ending before it starts", {"plot", "@/in.wav", "-o", "@/out.png", "--start", "2", "--end", "1"}, kUsage,
         "--end 1 must lie after --start 2"},
        {"zoom without a picture", {"render", "@/in.wav", "-o", "@/out.wav", "--end", "1"}, kUsage,
         "--start and --end choose the stretch that is drawn; give --plot"},
        {"picture size without a height", {"curve", "-o", "@/curve.png", "--size", "800"}, kUsage,
         "--size 800: give WIDTHxHEIGHT in pixels"},
        {"picture too small", {"plot", "@/in.wav", "-o", "@/out.png", "--size", "100x80"}, kUsage, "each 200..10000"},
        // Read through an unsigned 32-bit number these would wrap into range.
        {"picture size that wraps", {"render", "@/in.wav", "-o", "@/out.wav", "--data", "@/d.csv", "--size",
                                     "4294967496x300"}, kUsage, "--size 4294967496x300: give WIDTHxHEIGHT"},
        {"negative picture size", {"plot", "@/in.wav", "-o", "@/out.png", "--size", "-4294966896x600"}, kUsage,
         "--size -4294966896x600: give WIDTHxHEIGHT in pixels, each 200..10000"},
        {"picture size with a sign", {"render", "@/in.wav", "-o", "@/out.wav", "--data", "@/d.csv", "--size=+800x600"},
         kUsage, "--size +800x600: give WIDTHxHEIGHT"},
        {"picture size with a third number", {"curve", "-o", "@/c.png", "--size", "800x600x2"}, kUsage,
         "--size 800x600x2: give WIDTHxHEIGHT"},
    };
    for (const ErrorCase& c : cases)
        check(c);
}

TEST_F(ErrorTest, UnreadableInput)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const std::string locked = m_folder.file("locked.wav");
    writeAudio(locked, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 48000, 480, [](std::int64_t, int) { return 0.0; });
    ::chmod(locked.c_str(), 0);
    m_before = m_folder.entries();
    check({"unreadable", {"render", "@/locked.wav", "-o", "@/out.wav"}, kFailure, "Permission denied"});
}

TEST_F(ErrorTest, Parameters)
{
    const ErrorCase cases[] = {
        {"unknown name", {"render", "@/in.wav", "-o", "@/out.wav", "--param", "Bogus=0.5"}, kUsage,
         "unknown parameter 'Bogus' (known: Attack, Release, Ratio, use SC, Thresh, Makeup)"},
        {"attack too long", {"render", "@/in.wav", "-o", "@/out.wav", "--attack", "150"}, kUsage,
         "--attack 150 is out of range: the attack time in ms lies in 0.1..100"},
        {"release too short", {"render", "@/in.wav", "-o", "@/out.wav", "--release", "0.05"}, kUsage, "0.1..500"},
        {"ratio below 1", {"plot", "@/in.wav", "-o", "@/out.png", "--ratio", "0.5"}, kUsage, "1..10"},
        {"threshold below -120 dB", {"render", "@/in.wav", "-o", "@/out.wav", "--threshold", "-130"}, kUsage,
         "-120..0"},
        // Values are shown as typed, not as the nearest short number.
        {"threshold just below -120 dB", {"render", "@/in.wav", "-o", "@/out.wav", "--threshold", "-120.00001"},
         kUsage, "--threshold -120.00001 is out of range"},
        {"makeup just above 18 dB, with =", {"plot", "@/in.wav", "-o", "@/out.png", "--makeup=18.00001"}, kUsage,
         "--makeup 18.00001 is out of range"},
        {"zoom ending just before its start",
         {"plot", "@/in.wav", "-o", "@/out.png", "--start", "0.05000000001", "--end", "0.050000000009"}, kUsage,
         "--end 0.050000000009 must lie after --start 0.05000000001"},
        {"zoom starting just past the end", {"plot", "@/in.wav", "-o", "@/out.png", "--start", "0.1000001"}, kUsage,
         "--start 0.1000001 lies past the end"},
        {"unknown name with a long value", {"render", "@/in.wav", "-o", "@/out.wav", "--param", "Bogus=0.50000001"},
         kUsage, "--param Bogus=0.50000001: unknown parameter"},
        {"makeup too high", {"curve", "-o", "@/out.png", "--makeup", "19"}, kUsage, "-18..18"},
        {"not a number", {"render", "@/in.wav", "-o", "@/out.wav", "--ratio", "four"}, kUsage,
         "--ratio: 'four' is not a number"},
        {"number with a tail", {"curve", "-o", "@/out.png", "--attack", "5ms"}, kUsage, "--attack: '5ms' is not a number"},
        {"normalised value above 1", {"render", "@/in.wav", "-o", "@/out.wav", "--param", "Attack=1.5"}, kUsage,
         "normalised values lie in 0..1"},
        {"assignment without value", {"render", "@/in.wav", "-o", "@/out.wav", "--param", "Attack"}, kUsage,
         "expected NAME=VALUE"},
        {"output without a name", {"render", "@/in.wav", "-o", ""}, kUsage, "--output: give a file name, not an empty text"},
        {"data file without a name", {"curve", "-o", "@/out.png", "--data", ""}, kUsage,
         "--data: give a file name, not an empty text"},
        {"drawing from past the largest time", {"plot", "@/in.wav", "-o", "@/out.png", "--start", "1e308"}, kUsage,
         "--start 1e308 lies past the end of the input (0.1 s)"},
        {"block of 0 frames", {"render", "@/in.wav", "-o", "@/out.wav", "--block", "0"}, kUsage, "--block"},
        {"block of a fraction", {"render", "@/in.wav", "-o", "@/out.wav", "--block", "1.5"}, kUsage,
         "--block: give a whole number of frames, 1..65536, not 1.5"},
        {"drawing from before 0", {"plot", "@/in.wav", "-o", "@/out.png", "--start", "-1"}, kUsage,
         "--start: give 0 or more seconds, not -1"},
        {"drawing up to 0", {"plot", "@/in.wav", "-o", "@/out.png", "--end", "0"}, kUsage,
         "--end: give more than 0 seconds, not 0"},
        {"unknown option", {"render", "@/in.wav", "-o", "@/out.wav", "--loudness", "3"}, kUsage,
         "render: unknown option --loudness"},
        {"misspelt option", {"plot", "--ratoi", "4", "@/in.wav", "-o", "@/out.png"}, kUsage,
         "plot: unknown option --ratoi (did you mean --ratio?)"},
        {"misspelt option with its value", {"render", "@/in.wav", "-o", "@/out.wav", "--treshold=-20"}, kUsage,
         "render: unknown option --treshold (did you mean --threshold?)"},
        {"one input too many", {"render", "@/in.wav", "@/in.wav", "-o", "@/out.wav"}, kUsage,
         "render: unexpected argument '@/in.wav'"},
        // After "--" every word is an argument: one too many is said as such, an option-like one too.
        {"one input too many after --", {"render", "@/in.wav", "-o", "@/out.wav", "--", "@/in.wav"}, kUsage,
         "render: unexpected argument '@/in.wav'"},
        {"an option after --", {"plot", "-o", "@/out.png", "--", "@/in.wav", "--ratoi"}, kUsage,
         "plot: unexpected argument '--ratoi'"},
        {"an argument after -- for a command without any", {"curve", "-o", "@/c.png", "--", "-V"}, kUsage,
         "curve: unexpected argument '-V'"},
        {"misspelt command", {"inof"}, kUsage, "unknown command 'inof' (did you mean info?)"},
        {"misspelt command after an option", {"-q", "rendr", "@/in.wav"}, kUsage,
         "unknown command 'rendr' (did you mean render?)"},
        {"unknown command", {"compress", "@/in.wav"}, kUsage, "unknown command 'compress' (see kestrune --help)"},
        {"a command's option before it", {"-q", "render", "@/in.wav", "-o", "@/out.wav"}, kUsage,
         "-q before 'render': the options of a command go after it"},
        {"misspelt option of the program", {"--verison"}, kUsage, "unknown option --verison (did you mean --version?)"},
        {"no command", {}, kUsage, "no command given: say one of info, render, plot, curve, demo"},
    };
    for (const ErrorCase& c : cases)
        check(c);
}

TEST_F(ErrorTest, PlugIns)
{
    const ErrorCase cases[] = {
        {"module missing", {"render", "@/in.wav", "-o", "@/out.wav", "--plugin", "@/none.so"}, kFailure,
         "cannot load @/none.so: @/none.so: cannot open shared object file"},
        {"not a module", {"info", "--plugin", "@/text.wav"}, kFailure, "cannot load @/text.wav"},
        {"no VSTPluginMain", {"render", "@/in.wav", "-o", "@/out.wav", "--plugin", KESTRUNE_NO_ENTRY_MODULE_PATH},
         kFailure, "has no VSTPluginMain"},
        {"null record", {"info", "--plugin", KESTRUNE_NULL_RECORD_MODULE_PATH}, kFailure, "returned no effect"},
        {"bad magic", {"render", "@/in.wav", "-o", "@/out.wav", "--plugin", KESTRUNE_BAD_MAGIC_MODULE_PATH},
         kFailure, "bad magic"},
        {"sidechain for a 2-input effect",
         {"render", "@/in.wav", "--sidechain", "@/in.wav", "-o", "@/out.wav", "--plugin", KESTRUNE_TWO_INPUT_MODULE_PATH},
         kUsage, "--sidechain: Plain gain has 2 inputs, none for a sidechain"},
        {"engineering option for another effect",
         {"render", "@/in.wav", "-o", "@/out.wav", "--ratio", "4", "--plugin", KESTRUNE_VERSION_ECHO_MODULE_PATH},
         kUsage, "--ratio needs an effect with Kestrune's parameters"},
    };
    for (const ErrorCase& c : cases)
        check(c);
}

TEST_F(ErrorTest, PicturesWithoutPython)
{
    // When the drawing fails, render --plot still writes the audio and the numbers, then fails: only
    // the picture is missing.
    ASSERT_EQ(runTool({"render", m_folder.file("in.wav"), "-o", m_folder.file("alone.wav"), "-q"}).exitCode, 0);
    ::setenv("KESTRUNE_PYTHON", "/nonexistent/python3", 1);
    const tooltest::RunResult render = runTool({"render", m_folder.file("in.wav"), "-o", m_folder.file("out.wav"),
                                                "--plot", m_folder.file("out.png"), "--data", m_folder.file("out.csv"),
                                                "-q"});
    EXPECT_EQ(render.exitCode, kFailure);
    EXPECT_EQ(render.err, "kestrune: error: plotting failed: cannot run /nonexistent/python3: No such file or directory\n");
    std::vector<std::string> written = m_before;
    written.insert(written.end(), {"alone.wav", "out.csv", "out.wav"});
    std::sort(written.begin(), written.end());
    EXPECT_EQ(m_folder.entries(), written);
    EXPECT_TRUE(tooltest::readBytes(m_folder.file("out.wav")) == tooltest::readBytes(m_folder.file("alone.wav")));
    EXPECT_NE(tooltest::readBytes(m_folder.file("out.csv")).find("\ntime_s,"), std::string::npos);
    m_before = m_folder.entries();
    check({"curve", {"curve", "-o", "@/curve.png", "--attack", "1", "--release", "1", "-q"}, kFailure,
           "plotting failed"});
    ::unsetenv("KESTRUNE_PYTHON");

    // Every Python lacks matplotlib when a package of that name fails to import.
    std::filesystem::create_directories(m_folder.file("modules/matplotlib"));
    std::ofstream(m_folder.file("modules/matplotlib/__init__.py")) << "raise ImportError('hidden by the test')\n";
    ::setenv("PYTHONPATH", m_folder.file("modules").c_str(), 1);
    std::filesystem::remove(m_folder.file("out.csv"));
    m_before = m_folder.entries();
    m_before.push_back("out.csv");  // the numbers do not need the drawing
    std::sort(m_before.begin(), m_before.end());
    check({"plot without matplotlib", {"plot", "@/in.wav", "-o", "@/out.png", "--data", "@/out.csv", "-q"}, kFailure,
           "plotting needs matplotlib"});
    ::unsetenv("PYTHONPATH");
}

TEST_F(ErrorTest, FullDiskFailsEveryEncoderAndKeepsTheOldFile)
{
    // A 2 MiB file system, nearly full: every encoder runs out of room part-way, the MPEG one too,
    // which writes much of its file only when it is closed.
    const std::string disk = m_folder.file("disk");
    std::filesystem::create_directory(disk);
    if (::mount("kestrune-test", disk.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "); the disk-full case needs root";
    struct Unmount
    {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    // 10 s of noise: far more than the room left in every format.
    std::uint32_t state = 12345;
    writeAudio(m_folder.file("noise.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, 10 * 48000,
               [&state](std::int64_t, int) {
                   state = state * 1664525u + 1013904223u;
                   return 0.5 * (static_cast<double>(state) / 2147483648.0 - 1.0);
               });
    const std::vector<std::string> formats = {"mp3", "flac", "ogg", "wav", "aiff"};
    for (const std::string& format : formats)
        std::ofstream(disk + "/old." + format) << "previous contents";
    {
        // Fill the disk, then give back 64 KiB.
        std::FILE* filler = std::fopen((disk + "/filler").c_str(), "wb");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0)
        {
        }
        std::fclose(filler);
        const auto size = std::filesystem::file_size(disk + "/filler");
        std::filesystem::resize_file(disk + "/filler", size - 65536);
    }
    const std::vector<std::string> before = tooltest::listFolder(disk);
    for (const std::string& format : formats)
    {
        SCOPED_TRACE(format);
        const std::string old = disk + "/old." + format;
        const tooltest::RunResult result = runTool({"render", m_folder.file("noise.wav"), "-o", old, "--ratio", "4"});
        EXPECT_EQ(result.exitCode, kFailure) << result.err;
        EXPECT_NE(result.err.find("cannot write " + old + ": No space left on device"), std::string::npos)
            << result.err;
        EXPECT_EQ(tooltest::readBytes(old), "previous contents");
        EXPECT_EQ(tooltest::listFolder(disk), before) << "a partial file was left behind";
    }
}

TEST_F(ErrorTest, ExistingOutputSurvivesAFailedRender)
{
    // The old file stays as it was when the new one cannot be made.
    std::ofstream(m_folder.file("out.wav")) << "previous contents";
    m_before = m_folder.entries();
    check({"bad plug-in", {"render", "@/in.wav", "-o", "@/out.wav", "--plugin", KESTRUNE_BAD_MAGIC_MODULE_PATH},
           kFailure, "bad magic"});
    EXPECT_EQ(tooltest::readBytes(m_folder.file("out.wav")), "previous contents");
}

TEST_F(ErrorTest, InputCutShortFailsAndWritesOnlyWhenAsked)
{
    // A 16-bit stereo WAV whose header declares 4800 frames, cut inside frame 1234: 1234 frames
    // arrive, from a file or through a pipe, as the input or as the sidechain.
    const std::string whole = tooltest::readBytes(m_folder.file("in44.wav"));
    const std::size_t data = whole.find("data") + 8;
    ASSERT_EQ(whole.size(), data + 4410 * 4);
    std::ofstream(m_folder.file("cut.wav"), std::ios::binary) << whole.substr(0, data + 1234 * 4 + 2);
    std::ofstream(m_folder.file("out.wav")) << "previous take";
    std::ofstream(m_folder.file("out.png")) << "previous picture";
    m_before = m_folder.entries();
    const std::string counts = "ended after 1234 of the 4410 frames its header declares";
    const std::string nothing = "; nothing was written (--keep-partial writes what arrived)";
    check({"render", {"render", "@/cut.wav", "-o", "@/out.wav", "--ratio", "4", "-q"}, kFailure,
           "the input @/cut.wav " + counts + nothing});
    check({"plot", {"plot", "@/cut.wav", "-o", "@/out.png", "-q"}, kFailure, "the input @/cut.wav " + counts});
    check({"sidechain", {"render", "@/in44.wav", "--sidechain", "@/cut.wav", "-o", "@/out.wav", "-q"}, kFailure,
           "the sidechain @/cut.wav " + counts + nothing});

    const std::string tool = KESTRUNE_TOOL_PATH;
    const auto piped = [&](const std::string& command) {
        return tooltest::runProgram({"sh", "-c", "cd " + m_folder.path() + " && cat cut.wav | " + tool + command});
    };
    for (const std::string& command : {std::string(" render - -o out.wav -q"),
                                       std::string(" render in44.wav --sidechain - -o out.wav -q"),
                                       std::string(" plot - -o out.png -q")})
    {
        SCOPED_TRACE(command);
        const tooltest::RunResult result = piped(command);
        EXPECT_EQ(result.exitCode, kFailure);
        EXPECT_EQ(result.err, "kestrune: error: the " +
                                  std::string(command.find("sidechain") != std::string::npos ? "sidechain" : "input") +
                                  " from standard input " + counts + nothing + "\n");
        EXPECT_EQ(m_folder.entries(), m_before);
    }
    EXPECT_EQ(tooltest::readBytes(m_folder.file("out.wav")), "previous take");
    EXPECT_EQ(tooltest::readBytes(m_folder.file("out.png")), "previous picture");

    // Asked for, what arrived is written, and the run still fails; the picture ends where the data does.
    const tooltest::RunResult kept = piped(" render - -o out.wav -q --keep-partial");
    EXPECT_EQ(kept.exitCode, kFailure);
    EXPECT_EQ(kept.err, "kestrune: error: the input from standard input " + counts +
                            "; what arrived was written, as --keep-partial asks\n");
    EXPECT_EQ(tooltest::readAudio(m_folder.file("out.wav")).frames(), 1234);
    const tooltest::RunResult drawn = piped(" plot - -o out.png -q --keep-partial --data out.csv");
    EXPECT_EQ(drawn.exitCode, kFailure) << drawn.err;
    const std::string numbers = tooltest::readBytes(m_folder.file("out.csv"));
    const std::size_t end = numbers.find("# end_s: ");
    ASSERT_NE(end, std::string::npos) << numbers;
    EXPECT_NEAR(std::stod(numbers.substr(end + 9)), 1234.0 / 44100.0, 1e-7);
    EXPECT_NO_THROW(tooltest::readPngSize(m_folder.file("out.png")));
}

TEST_F(ErrorTest, StreamsThatDoNotSayTheirLengthAreNotCutShort)
{
    // Writers that stream before they know the length put a placeholder into the header: 0xFFFFFFFF
    // (most), 0x7F000000 bytes (sox for AIFF). Such a stream ends when it ends.
    std::string wav = tooltest::readBytes(m_folder.file("in44.wav"));
    const std::size_t data = wav.find("data") + 4;
    wav.replace(data, 4, "\xff\xff\xff\xff");
    wav.replace(4, 4, "\xff\xff\xff\xff");
    std::ofstream(m_folder.file("unsaid.wav"), std::ios::binary) << wav;
    for (const char* command :
         {"cat unsaid.wav | " KESTRUNE_TOOL_PATH " render - -o out.wav -q", KESTRUNE_TOOL_PATH " render unsaid.wav -o out.wav -q"})
    {
        SCOPED_TRACE(command);
        const tooltest::RunResult result =
            tooltest::runProgram({"sh", "-c", "cd " + m_folder.path() + " && " + command});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(tooltest::readAudio(m_folder.file("out.wav")).frames(), 4410);
    }
    if (tooltest::runProgram({"sox", "--version"}).exitCode != 0)
        GTEST_SKIP() << "sox is not installed (Debian: apt-get install sox)";
    const tooltest::RunResult aiff = tooltest::runProgram(
        {"sh", "-c", "cd " + m_folder.path() + " && sox in44.wav -t aiff - | " KESTRUNE_TOOL_PATH " render - -o out.wav -q"});
    EXPECT_EQ(aiff.exitCode, 0) << aiff.err;
    EXPECT_EQ(tooltest::readAudio(m_folder.file("out.wav")).frames(), 4410);
}

}  // namespace
