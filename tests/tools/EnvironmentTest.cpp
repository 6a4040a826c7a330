// kestrune in the environments an adversary or a careless script gives it: closed standard
// descriptors, a standard output that refuses writes, a temporary folder that does not exist, and
// modules planted where an installed program might look.
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

using tooltest::runProgram;
using tooltest::runTool;
using tooltest::TemporaryFolder;

constexpr int kFailure = 1;

// A short stereo float WAV with peaks high enough that --ratio 4 at 0 dBFS leaves it as it is and
// prints a note, so a run with these settings has something to say on stderr.
void writeInput(const std::string& path)
{
    tooltest::writeAudio(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800,
                         [](std::int64_t i, int c) { return 0.5 * std::sin(0.02 * static_cast<double>(i) + c); });
}

// The command run by sh in folder, so that redirections apply to kestrune alone.
tooltest::RunResult shell(const std::string& folder, const std::string& command)
{
    return runProgram({"sh", "-c", "cd '" + folder + "' && " + command});
}

const std::string kTool = KESTRUNE_TOOL_PATH;

TEST(StandardDescriptors, ClosedOnesAreNeitherWrittenIntoFilesNorMistakenForData)
{
    TemporaryFolder folder;
    writeInput(folder.file("in.wav"));
    const tooltest::RunResult reference =
        runTool({"render", folder.file("in.wav"), "-o", folder.file("reference.wav"), "--ratio", "4", "-q"});
    ASSERT_EQ(reference.exitCode, 0) << reference.err;

    // With standard error closed, the note about the threshold goes nowhere, not into the audio.
    const tooltest::RunResult quiet = shell(folder.path(), kTool + " render - -o out.wav --ratio 4 < in.wav 2>&-");
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(tooltest::readBytes(folder.file("out.wav")) == tooltest::readBytes(folder.file("reference.wav")))
        << "the render with standard error closed differs from the reference";

    // Standard output closed: an error at once, not a copy of the temporary file into itself. The
    // limit on file size stops a run that copies for ever (it then dies of SIGXFSZ).
    const tooltest::RunResult closedOut =
        shell(folder.path(), "ulimit -f 20000; TMPDIR=. " + kTool + " render - -o - -t wav --ratio 4 < in.wav >&-");
    EXPECT_EQ(closedOut.exitCode, kFailure) << "signal " << closedOut.signal << ": " << closedOut.err;
    EXPECT_NE(closedOut.err.find("kestrune: error: cannot write standard output: Bad file descriptor"),
              std::string::npos)
        << closedOut.err;
    const tooltest::RunResult closedInfo = shell(folder.path(), kTool + " info >&-");
    EXPECT_EQ(closedInfo.exitCode, kFailure);
    EXPECT_NE(closedInfo.err.find("cannot write standard output: Bad file descriptor"), std::string::npos)
        << closedInfo.err;

    // Standard input closed: said as such, not as an unknown format.
    const tooltest::RunResult closedIn = shell(folder.path(), kTool + " render - -o none.wav <&-");
    EXPECT_EQ(closedIn.exitCode, kFailure);
    EXPECT_NE(closedIn.err.find("kestrune: error: cannot read standard input: Bad file descriptor"), std::string::npos)
        << closedIn.err;

    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"in.wav", "out.wav", "reference.wav"}));
}

TEST(StandardOutput, EveryCommandThatPrintsFailsWhenItsWritesFail)
{
    if (!std::filesystem::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    TemporaryFolder folder;
    writeInput(folder.file("in.wav"));
    // What each prints: info a table, help and version a text, render the audio, the demo its
    // summary (after writing its files, which stay).
    const std::vector<std::string> commands = {
        "info",
        "info --plugin " KESTRUNE_TWO_INPUT_MODULE_PATH,
        "--version",
        "--help",
        "render --help",
        "demo -V",
        "render in.wav -o - -t wav -q",
        "demo -q -o demo",
    };
    for (const std::string& command : commands)
    {
        SCOPED_TRACE(command);
        const tooltest::RunResult result = shell(folder.path(), kTool + " " + command + " > /dev/full");
        EXPECT_EQ(result.exitCode, kFailure);
        EXPECT_EQ(result.err, "kestrune: error: cannot write standard output: No space left on device\n");
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(folder.file("demo/summary.txt")));

    // The same commands with somewhere to write succeed: the failure was the device's.
    for (const char* command : {"info", "--version", "render --help"})
    {
        SCOPED_TRACE(command);
        const tooltest::RunResult result = shell(folder.path(), kTool + " " + command + " > /dev/null");
        EXPECT_EQ(result.exitCode, 0) << result.err;
    }
}

TEST(TemporaryFolder, ATmpdirThatIsNoFolderFallsBackToTmp)
{
    // Standard output and devices are written through a temporary file in TMPDIR; one that is
    // missing or a file gives way to /tmp, as the C library's own temporary names do.
    TemporaryFolder folder;
    writeInput(folder.file("in.wav"));
    std::ofstream(folder.file("plain-file")) << "not a folder";
    ASSERT_EQ(runTool({"render", folder.file("in.wav"), "-o", folder.file("reference.wav"), "--ratio", "4", "-q"})
                  .exitCode,
              0);
    const std::string expected = tooltest::readBytes(folder.file("reference.wav"));
    for (const std::string& tmpdir : {std::string("/nonexistent/kestrune"), folder.file("plain-file")})
    {
        SCOPED_TRACE(tmpdir);
        const std::string render = "TMPDIR='" + tmpdir + "' " + kTool + " render in.wav --ratio 4 -q ";
        const tooltest::RunResult piped = shell(folder.path(), render + "-o - -t wav > piped.wav");
        EXPECT_EQ(piped.exitCode, 0) << piped.err;
        EXPECT_TRUE(tooltest::readBytes(folder.file("piped.wav")) == expected) << "standard output differs";
        const tooltest::RunResult device = shell(folder.path(), render + "-o /dev/null -t wav");
        EXPECT_EQ(device.exitCode, 0) << device.err;
    }
}

// A copy of the program in prefix/bin, as an installation has it, run with VST_PATH and HOME set
// (an empty text for VST_PATH leaves it unset).
tooltest::RunResult runInstalled(const std::string& prefix, const std::string& vstPath, const std::string& home,
                                 const std::vector<std::string>& arguments)
{
    std::vector<std::string> words = {"env", "-u", "VST_PATH", "HOME=" + home};
    if (!vstPath.empty())
        words.push_back("VST_PATH=" + vstPath);
    words.push_back(prefix + "/bin/kestrune");
    words.insert(words.end(), arguments.begin(), arguments.end());
    return runProgram(words);
}

TEST(ModuleSearch, AnInstalledProgramLoadsNoModuleFromTheBuildTree)
{
    // The build tree's program finds its build's module beside itself.
    const std::string buildFolder = std::filesystem::path(KESTRUNE_TOOL_PATH).parent_path().string();
    const tooltest::RunResult built = runTool({"info"});
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_EQ(built.out.rfind("Module          " + buildFolder + "/Kestrune.so\n", 0), 0u) << built.out;

    // A copy of it, installed elsewhere, never looks into the build tree: the modules it finds are
    // stand-ins (the plain gain fixture) in the places an installation has.
    TemporaryFolder folder;
    const std::string prefix = folder.file("prefix");
    std::filesystem::create_directories(prefix + "/bin");
    std::filesystem::copy_file(KESTRUNE_TOOL_PATH, prefix + "/bin/kestrune");
    for (const char* place : {"vst", "home/.vst", "empty", "home-without"})
        std::filesystem::create_directories(folder.file(place));
    std::filesystem::copy_file(KESTRUNE_TWO_INPUT_MODULE_PATH, folder.file("vst/Kestrune.so"));
    std::filesystem::copy_file(KESTRUNE_TWO_INPUT_MODULE_PATH, folder.file("home/.vst/Kestrune.so"));

    struct Case
    {
        const char* what;
        std::string vstPath;
        std::string home;
        std::string expected;  // the module loaded
    };
    const Case cases[] = {
        {"a folder of VST_PATH", folder.file("empty") + ":" + folder.file("vst"), folder.file("home"),
         folder.file("vst/Kestrune.so")},
        {"the user's ~/.vst without VST_PATH", "", folder.file("home"), folder.file("home/.vst/Kestrune.so")},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        const tooltest::RunResult result = runInstalled(prefix, c.vstPath, c.home, {"info"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out.rfind("Module          " + c.expected + "\nEffect          Plain gain\n", 0), 0u)
            << result.out;
    }

    // With none there, the error lists where it looked, and the build tree is not among them.
    const std::filesystem::path installed = KESTRUNE_VST_DIR;
    const std::string ownFolder = installed.is_absolute() ? installed.string() : prefix + "/" + installed.string();
    const tooltest::RunResult none = runInstalled(prefix, folder.file("empty"), folder.file("home-without"), {"info"});
    EXPECT_EQ(none.exitCode, kFailure);
    EXPECT_NE(none.err.find("no Kestrune module found (looked for " + prefix + "/bin/Kestrune.so, " + ownFolder +
                            "/Kestrune.so, " + folder.file("empty") + "/Kestrune.so)"),
              std::string::npos)
        << none.err;

    // Its own installation's module folder comes before the user's choices.
    if (installed.is_absolute())
        GTEST_SKIP() << "the module folder " << ownFolder << " is not within the prefix";
    std::filesystem::create_directories(ownFolder);
    std::filesystem::copy_file(KESTRUNE_TWO_INPUT_MODULE_PATH, ownFolder + "/Kestrune.so");
    const tooltest::RunResult own = runInstalled(prefix, folder.file("vst"), folder.file("home"), {"info"});
    EXPECT_EQ(own.exitCode, 0) << own.err;
    EXPECT_EQ(own.out.rfind("Module          " + ownFolder + "/Kestrune.so\n", 0), 0u) << own.out;
}

}  // namespace
