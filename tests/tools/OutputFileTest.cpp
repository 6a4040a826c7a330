// What replacing an output does to the file system: the replaced file's mode and owner stay, every
// name the file system takes works, and links lead to their files, also dangling ones, but never
// out of a shared folder on another user's say.
#include "ToolHarness.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

using tooltest::runTool;
using tooltest::TemporaryFolder;

constexpr int kFailure = 1;
// Owner and group no account on a test machine has: only root can give files to them.
constexpr uid_t kStranger = 54321;
constexpr gid_t kStrangerGroup = 54322;

class OutputFileTest : public testing::Test
{
protected:
    void SetUp() override
    {
        tooltest::writeAudio(m_folder.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, 4800,
                             [](std::int64_t i, int c) { return 0.5 * std::sin(0.03 * static_cast<double>(i) + c); });
        const tooltest::RunResult reference = render("reference.wav");
        ASSERT_EQ(reference.exitCode, 0) << reference.err;
        m_expected = tooltest::readBytes(m_folder.file("reference.wav"));
    }

    tooltest::RunResult render(const std::string& output, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> arguments = {"render", m_folder.file("in.wav"), "-o", m_folder.file(output),
                                              "--ratio", "4", "-q"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return runTool(arguments);
    }

    bool holdsTheRender(const std::string& name) const
    {
        return tooltest::readBytes(m_folder.file(name)) == m_expected;
    }

    TemporaryFolder m_folder;
    std::string m_expected;  // the audio of every successful render here
};

struct stat statusOf(const std::string& path)
{
    struct stat status{};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

TEST_F(OutputFileTest, ReplacingKeepsTheModeAndForRootTheOwner)
{
    // The audio, its numbers and its picture each replace a file of an unusual mode; as root, the
    // audio's file also belongs to someone else, who keeps it.
    const std::pair<const char*, mode_t> files[] = {{"out.wav", 0600}, {"out.csv", 0640}, {"out.png", 0604}};
    for (const auto& [name, mode] : files)
    {
        std::ofstream(m_folder.file(name)) << "older take";
        ASSERT_EQ(::chmod(m_folder.file(name).c_str(), mode), 0);
    }
    const bool root = ::geteuid() == 0;
    if (root)
    {
        ASSERT_EQ(::chown(m_folder.file("out.wav").c_str(), kStranger, kStrangerGroup), 0);
    }

    const tooltest::RunResult result = render("out.wav", {"--data", m_folder.file("out.csv"), "--plot",
                                                          m_folder.file("out.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(holdsTheRender("out.wav"));
    EXPECT_NE(tooltest::readBytes(m_folder.file("out.csv")), "older take");
    EXPECT_NO_THROW(tooltest::readPngSize(m_folder.file("out.png")));
    for (const auto& [name, mode] : files)
        EXPECT_EQ(statusOf(m_folder.file(name)).st_mode & 07777, mode) << name;
    if (root)
    {
        EXPECT_EQ(statusOf(m_folder.file("out.wav")).st_uid, kStranger);
        EXPECT_EQ(statusOf(m_folder.file("out.wav")).st_gid, kStrangerGroup);
    }

    // A new file gets what any new file gets: 0666 less the umask, and this user.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(render("new.wav").exitCode, 0);
    EXPECT_EQ(statusOf(m_folder.file("new.wav")).st_mode & 07777, 0666 & ~mask);
    EXPECT_EQ(statusOf(m_folder.file("new.wav")).st_uid, ::geteuid());
}

TEST_F(OutputFileTest, EveryNameTheFileSystemTakesWorks)
{
    // The longest names the folder takes, in one-byte and two-byte characters; the temporary name
    // beside them must fit too. One byte more is the file system's refusal, said as such.
    const long longest = ::pathconf(m_folder.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 40);
    const auto limit = static_cast<std::size_t>(longest);
    std::string accented;  // "e" and then "é" up to the limit, which leaves no room for a whole "é" more
    for (accented = "e"; accented.size() + 2 + 4 <= limit;)
        accented += "\xC3\xA9";
    const std::vector<std::string> names = {std::string(limit - 4, 'a') + ".wav", std::string(limit - 32, 'b') + ".wav",
                                            accented + ".wav"};
    for (const std::string& name : names)
    {
        SCOPED_TRACE(name.size());
        const tooltest::RunResult result = render(name);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(holdsTheRender(name));
    }
    // A picture's scratch numbers are named after it, 4 bytes longer.
    const std::string picture = std::string(limit - 4, 'p') + ".png";
    const tooltest::RunResult drawn =
        runTool({"plot", m_folder.file("in.wav"), "-o", m_folder.file(picture), "--ratio", "4", "-q"});
    EXPECT_EQ(drawn.exitCode, 0) << drawn.err;
    EXPECT_NO_THROW(tooltest::readPngSize(m_folder.file(picture)));

    const std::string tooLong = std::string(limit - 3, 'c') + ".wav";
    const tooltest::RunResult refused = render(tooLong);
    EXPECT_EQ(refused.exitCode, kFailure);
    EXPECT_NE(refused.err.find("File name too long"), std::string::npos) << refused.err;

    std::vector<std::string> expected = names;
    expected.insert(expected.end(), {"in.wav", picture, "reference.wav"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(m_folder.entries(), expected) << "a temporary file was left behind";
}

TEST_F(OutputFileTest, LinksLeadToTheirFilesEvenWhenTheseDoNotExistYet)
{
    namespace fs = std::filesystem;
    fs::create_directory(m_folder.file("takes"));
    fs::create_symlink("dangling.wav", m_folder.file("link.wav"));
    fs::create_symlink("takes/chained.wav", m_folder.file("middle.wav"));
    fs::create_symlink(m_folder.file("middle.wav"), m_folder.file("chain.wav"));  // absolute, then relative
    for (const char* link : {"link.wav", "chain.wav"})
    {
        SCOPED_TRACE(link);
        const tooltest::RunResult result = render(link);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(fs::is_symlink(m_folder.file(link)));
    }
    EXPECT_TRUE(holdsTheRender("dangling.wav"));
    EXPECT_TRUE(holdsTheRender("takes/chained.wav"));
    EXPECT_TRUE(fs::is_symlink(m_folder.file("middle.wav")));

    // A link into a missing folder, and a loop of links, are errors that leave the links alone.
    fs::create_symlink("nowhere/x.wav", m_folder.file("lost.wav"));
    fs::create_symlink("loop-b.wav", m_folder.file("loop-a.wav"));
    fs::create_symlink("loop-a.wav", m_folder.file("loop-b.wav"));
    const tooltest::RunResult lost = render("lost.wav");
    EXPECT_EQ(lost.exitCode, kFailure);
    EXPECT_NE(lost.err.find("cannot write " + m_folder.file("lost.wav") + ": folder " + m_folder.file("nowhere") +
                            ": No such file or directory"),
              std::string::npos)
        << lost.err;
    const tooltest::RunResult loop = render("loop-a.wav");
    EXPECT_EQ(loop.exitCode, kFailure);
    EXPECT_NE(loop.err.find("cannot write " + m_folder.file("loop-a.wav") + ": Too many levels of symbolic links"),
              std::string::npos)
        << loop.err;
    for (const char* link : {"lost.wav", "loop-a.wav", "loop-b.wav"})
        EXPECT_TRUE(fs::is_symlink(m_folder.file(link))) << link;
}

TEST_F(OutputFileTest, AnotherUsersLinkInASharedFolderIsNotFollowed)
{
    // In a sticky folder everyone writes (/tmp), a link of another user could aim the output at
    // any file of the one who renders; the kernel refuses to open through such links, and so does
    // kestrune. The user's own links there still work.
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can make a link of another user";
    namespace fs = std::filesystem;
    const std::string shared = m_folder.file("shared");
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    std::ofstream(m_folder.file("precious.wav")) << "precious";
    fs::create_symlink(m_folder.file("precious.wav"), shared + "/planted.wav");
    ASSERT_EQ(::lchown((shared + "/planted.wav").c_str(), kStranger, kStrangerGroup), 0);
    fs::create_symlink(m_folder.file("mine.wav"), shared + "/own.wav");

    const tooltest::RunResult planted = render("shared/planted.wav");
    EXPECT_EQ(planted.exitCode, kFailure);
    EXPECT_NE(planted.err.find("cannot write " + shared + "/planted.wav: it is a symbolic link of another user in "
                               "the shared folder " + shared),
              std::string::npos)
        << planted.err;
    EXPECT_TRUE(tooltest::readBytes(m_folder.file("precious.wav")) == "precious") << "the link's file was written";

    const tooltest::RunResult own = render("shared/own.wav");
    EXPECT_EQ(own.exitCode, 0) << own.err;
    EXPECT_TRUE(holdsTheRender("mine.wav"));
    EXPECT_EQ(tooltest::listFolder(shared), (std::vector<std::string>{"own.wav", "planted.wav"}));
}

}  // namespace
