// Every way a kestrune run can go wrong ends with one line on stderr that says what, a non-zero exit
// code (1 for files, formats and plug-ins, 2 for the command line) and no output file, not even a
// partial or temporary one.
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
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
        {"not audio", {"render", "@/text.wav", "-o", "@/out.wav"}, kFailure,
         "not an audio format libsndfile can read"},
        {"missing sidechain", {"render", "@/in.wav", "--sidechain", "@/nokey.wav", "-o", "@/out.wav"}, kFailure,
         "cannot read @/nokey.wav"},
        {"unwritable extension", {"render", "@/in.wav", "-o", "@/out.xyz"}, kUsage,
         "libsndfile writes no format with the extension 'xyz'"},
        {"no extension", {"render", "@/in.wav", "-o", "@/out"}, kUsage, "libsndfile writes no format"},
        {"sample format the container lacks", {"render", "@/in.wav", "-o", "@/out.flac", "--format", "float"}, kUsage,
         ".flac files cannot hold 32-bit float samples"},
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
        {"plot that is not a PNG", {"plot", "@/in.wav", "-o", "@/out.jpg"}, kUsage, "name a .png file"},
        {"curve that is not a PNG", {"curve", "-o", "@/curve.svg"}, kUsage, "name a .png file"},
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
        {"makeup too high", {"curve", "-o", "@/out.png", "--makeup", "19"}, kUsage, "-18..18"},
        {"not a number", {"render", "@/in.wav", "-o", "@/out.wav", "--ratio", "four"}, kUsage, "--ratio"},
        {"normalised value above 1", {"render", "@/in.wav", "-o", "@/out.wav", "--param", "Attack=1.5"}, kUsage,
         "normalised values lie in 0..1"},
        {"assignment without value", {"render", "@/in.wav", "-o", "@/out.wav", "--param", "Attack"}, kUsage,
         "expected NAME=VALUE"},
        {"block of 0 frames", {"render", "@/in.wav", "-o", "@/out.wav", "--block", "0"}, kUsage, "--block"},
        {"unknown option", {"render", "@/in.wav", "-o", "@/out.wav", "--loudness", "3"}, kUsage, "--loudness"},
        {"no command", {}, kUsage, "subcommand"},
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
         {"render", "@/in.wav", "--sidechain", "@/in.wav", "-o", "@/out.wav", "--plugin",
          KESTRUNE_VERSION_ECHO_MODULE_PATH},
         kFailure, "the effect has 2 inputs; a sidechain needs one with 4"},
        {"engineering option for another effect",
         {"render", "@/in.wav", "-o", "@/out.wav", "--ratio", "4", "--plugin", KESTRUNE_VERSION_ECHO_MODULE_PATH},
         kUsage, "--ratio needs an effect with Kestrune's parameters"},
    };
    for (const ErrorCase& c : cases)
        check(c);
}

TEST_F(ErrorTest, PicturesWithoutPython)
{
    // When the drawing fails, render --plot writes neither the picture nor the audio.
    ::setenv("KESTRUNE_PYTHON", "/nonexistent/python3", 1);
    check({"render with a picture", {"render", "@/in.wav", "-o", "@/out.wav", "--plot", "@/out.png"}, kFailure,
           "plotting failed: cannot run /nonexistent/python3: No such file or directory"});
    check({"curve", {"curve", "-o", "@/curve.png", "--attack", "1", "--release", "1"}, kFailure, "plotting failed"});
    ::unsetenv("KESTRUNE_PYTHON");

    // Every Python lacks matplotlib when a package of that name fails to import.
    std::filesystem::create_directories(m_folder.file("modules/matplotlib"));
    std::ofstream(m_folder.file("modules/matplotlib/__init__.py")) << "raise ImportError('hidden by the test')\n";
    m_before = m_folder.entries();
    ::setenv("PYTHONPATH", m_folder.file("modules").c_str(), 1);
    check({"plot without matplotlib", {"plot", "@/in.wav", "-o", "@/out.png", "--data", "@/out.csv"}, kFailure,
           "plotting needs matplotlib"});
    ::unsetenv("PYTHONPATH");
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

// The share done in the last progress line written so far, -1 before the first.
int lastPercent(const std::string& text)
{
    const std::size_t sign = text.rfind('%');
    if (sign == std::string::npos)
        return -1;
    return std::atoi(text.c_str() + text.find_last_not_of("0123456789", sign - 1) + 1);
}

TEST_F(ErrorTest, InterruptedRenderLeavesNoPartialFile)
{
    // Interrupted while it renders, early and half-way, a render leaves neither its output nor its
    // temporary file, and ends by the signal. The signal goes out once the progress bar has shown
    // the moment, after the terminal's output was stopped (XOFF): the program's next write there,
    // at the latest the clearing of the bar after the last block, waits, so it cannot finish first.
    // 11 s: long enough for the bar, which shows from 10 s of audio on.
    writeAudio(m_folder.file("long.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 11 * 48000,
               [](std::int64_t i, int) { return 0.5 * std::sin(0.01 * static_cast<double>(i)); });
    m_before = m_folder.entries();
    for (const int percent : {0, 50})
    {
        for (const int signal : {SIGINT, SIGTERM})
        {
            SCOPED_TRACE("at " + std::to_string(percent) + " %, signal " + std::to_string(signal));
            bool sent = false;
            const auto interrupt = [&](const std::string& text, pid_t pid, int terminal) {
                if (sent || lastPercent(text) < percent)
                    return;
                const char stopOutput = '\x13';
                ASSERT_EQ(::write(terminal, &stopOutput, 1), 1);
                ::kill(pid, signal);
                sent = true;
            };
            const tooltest::RunResult result = tooltest::runToolOnTerminal(
                {"render", m_folder.file("long.wav"), "-o", m_folder.file("out.wav"), "--block", "1", "--ratio", "4",
                 "--threshold", "-20"},
                interrupt);
            ASSERT_TRUE(sent) << "no progress shown: " << result.err;
            EXPECT_EQ(result.signal, signal) << result.err;
            EXPECT_EQ(m_folder.entries(), m_before);
        }
    }
}

}  // namespace
