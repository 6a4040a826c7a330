// Signals that reach a running kestrune, sent for real: those its parent ignores stay ignored, and
// every other one that ends it leaves no file behind, no temporary folder and no child program; a
// partial file that only SIGKILL could leave is recognisable and swept away by the next run.
#include "Process.h"
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace
{

using tooltest::runToolOnTerminal;
using tooltest::TemporaryFolder;
using tooltest::writeAudio;

constexpr std::int64_t kLongFrames = 24 * 48000;

constexpr char kStopOutput = '\x13';   // XOFF: the program's next write to the terminal waits
constexpr char kStartOutput = '\x11';  // XON

// The share done in the last progress line written so far, -1 before the first.
int lastPercent(const std::string& text)
{
    const std::size_t sign = text.rfind('%');
    if (sign == std::string::npos)
        return -1;
    return std::atoi(text.c_str() + text.find_last_not_of("0123456789", sign - 1) + 1);
}

bool running(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

class SignalTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // Core dumps of SIGQUIT, SIGXCPU and SIGXFSZ would land in the working folder.
        const struct rlimit noCore = {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        // The progress bar shows from 10 s of audio on. Signalled a quarter of the way, 18 s are
        // still to render frame by frame (about a second), so a test slowed down by a busy machine
        // still signals a running program, not a finished one.
        writeAudio(m_folder.file("long.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, kLongFrames,
                   [](std::int64_t i, int) { return 0.5 * std::sin(0.01 * static_cast<double>(i)); });
        m_before = m_folder.entries();
    }

    // Renders long.wav block by block and sends signal once the progress bar has shown percent,
    // with the terminal's output stopped, so the program cannot finish first; then lets it go on.
    tooltest::RunResult renderAndSignal(int signal, int percent, const std::string& output = "out.wav",
                                        const char* block = "1")
    {
        bool sent = false;
        const auto interrupt = [&](const std::string& text, pid_t pid, int terminal) {
            if (sent || lastPercent(text) < percent)
                return;
            ASSERT_EQ(::write(terminal, &kStopOutput, 1), 1);
            ::kill(pid, signal);
            ASSERT_EQ(::write(terminal, &kStartOutput, 1), 1);
            sent = true;
        };
        const tooltest::RunResult result = runToolOnTerminal(
            {"render", m_folder.file("long.wav"), "-o", m_folder.file(output), "--block", block, "--ratio", "4",
             "--threshold", "-20"},
            interrupt);
        EXPECT_TRUE(sent) << "no progress shown: " << result.err;
        return result;
    }

    TemporaryFolder m_folder;
    std::vector<std::string> m_before;
};

// Ignores a signal in this process, so that programs started meanwhile inherit the disposition.
class Ignoring
{
public:
    explicit Ignoring(int signal) : m_signal(signal), m_previous(std::signal(signal, SIG_IGN)) {}
    ~Ignoring() { std::signal(m_signal, m_previous); }

private:
    int m_signal;
    void (*m_previous)(int);
};

TEST_F(SignalTest, SignalsTheParentIgnoresStayIgnored)
{
    // nohup ignores SIGHUP, a script's background job SIGINT: the render goes on to its end.
    for (const int signal : {SIGHUP, SIGINT})
    {
        SCOPED_TRACE(signal);
        const Ignoring ignoring(signal);
        const tooltest::RunResult result = renderAndSignal(signal, 0, "out.wav", "512");
        EXPECT_EQ(result.signal, 0) << result.err;
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(tooltest::readAudio(m_folder.file("out.wav")).frames(), kLongFrames);
        std::filesystem::remove(m_folder.file("out.wav"));
    }
}

TEST_F(SignalTest, EverySignalThatEndsARenderRemovesItsPartialFile)
{
    // Early and a quarter of the way for the usual ones, a quarter of the way for the rest.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM})
    {
        for (const int percent : {0, 25})
        {
            if (percent == 0 && signal != SIGINT && signal != SIGTERM)
                continue;
            SCOPED_TRACE("signal " + std::to_string(signal) + " at " + std::to_string(percent) + " %");
            const tooltest::RunResult result = renderAndSignal(signal, percent);
            EXPECT_EQ(result.signal, signal) << result.err;
            EXPECT_EQ(m_folder.entries(), m_before);
        }
    }
}

TEST_F(SignalTest, FileSizeLimitRemovesThePartialFile)
{
    // ulimit -f: the write beyond 1 MB raises SIGXFSZ. Only the program gets the limit.
    struct rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const struct rlimit limit = {1 << 20, previous.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    kestrune::Subprocess tool({KESTRUNE_TOOL_PATH, "render", m_folder.file("long.wav"), "-o", m_folder.file("out.wav")},
                              -1, -1);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    tool.wait();
    EXPECT_EQ(tool.terminatingSignal(), SIGXFSZ);
    EXPECT_EQ(m_folder.entries(), m_before);
}

TEST_F(SignalTest, PlotStopsItsPythonAndLeavesNothing)
{
    // The Python that draws writes its process id first, then runs plot.py. SIGTERM to kestrune
    // while it draws must stop that child too: once kestrune has ended, the child is gone, so it
    // cannot write the picture afterwards.
    const std::string python = m_folder.file("python");
    std::ofstream(python) << "#!/bin/sh\necho $$ > " << m_folder.file("python.pid") << "\nexec /usr/bin/python3 \"$@\"\n";
    std::filesystem::permissions(python, std::filesystem::perms::owner_all);
    m_before = m_folder.entries();
    ::setenv("KESTRUNE_PYTHON", python.c_str(), 1);
    kestrune::Subprocess tool({KESTRUNE_TOOL_PATH, "plot", m_folder.file("long.wav"), "-o", m_folder.file("out.png"),
                               "--ratio", "4", "--threshold", "-20"},
                              -1, -1);
    ::unsetenv("KESTRUNE_PYTHON");
    pid_t child = 0;
    for (int tries = 0; tries < 6000 && child == 0; ++tries)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream(m_folder.file("python.pid")) >> child;
    }
    ASSERT_GT(child, 0) << "the drawing did not start";
    ::kill(tool.pid(), SIGTERM);
    tool.wait();
    EXPECT_EQ(tool.terminatingSignal(), SIGTERM);
    EXPECT_FALSE(running(child)) << "the Python child outlived kestrune";
    std::filesystem::remove(m_folder.file("python.pid"));
    EXPECT_EQ(m_folder.entries(), m_before);
}

TEST_F(SignalTest, PartialFilesOfEndedRunsAreSweptByTheNextRun)
{
    // SIGKILL cannot be caught: the partial file stays, named after the output and the process.
    const tooltest::RunResult killed = renderAndSignal(SIGKILL, 25, "killed.wav");
    EXPECT_EQ(killed.signal, SIGKILL);
    std::vector<std::string> left;
    for (const std::string& name : m_folder.entries())
    {
        if (std::find(m_before.begin(), m_before.end(), name) == m_before.end())
            left.push_back(name);
    }
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".killed.wav.kestrune-partial-", 0), 0u) << left[0];
    EXPECT_EQ(std::filesystem::path(left[0]).extension(), ".wav");

    // Beside it: a partial file of a process that still runs (this one), and files that only look
    // alike. Of these, only the ended process's file goes.
    kestrune::Subprocess ended({"true"}, -1, -1);
    const pid_t dead = ended.pid();
    ended.wait();
    const std::string gone = ".y.flac.kestrune-partial-" + std::to_string(dead) + "-ghijkl.flac";
    for (const std::string& name : {gone, ".x.wav.kestrune-partial-" + std::to_string(::getpid()) + "-abcdef.wav",
                                    std::string(".z.wav.kestrune-partial-x1-mnopqr.wav"),
                                    "z.wav.kestrune-partial-" + std::to_string(dead) + "-stuvwx.wav"})
        std::ofstream(m_folder.file(name)) << "partial";
    writeAudio(m_folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, 800,
               [](std::int64_t, int) { return 0.25; });
    std::vector<std::string> expected = {"short.wav"};
    for (const std::string& name : m_folder.entries())
    {
        if (name != left[0] && name != gone)
            expected.push_back(name);
    }
    std::sort(expected.begin(), expected.end());

    const tooltest::RunResult next =
        tooltest::runTool({"render", m_folder.file("in.wav"), "-o", m_folder.file("short.wav")});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(m_folder.entries(), expected);
}

}  // namespace
