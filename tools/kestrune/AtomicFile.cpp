#include "AtomicFile.h"

#include "ToolError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kestrune
{

namespace
{

// Temporary files the signal handler removes. Fixed storage: the handler may only touch memory
// that exists for the whole run and may only call async-signal-safe functions (unlink, raise).
constexpr int kMaxTemporaryFiles = 16;
constexpr std::size_t kMaxPathLength = 4096;
char g_temporaryPaths[kMaxTemporaryFiles][kMaxPathLength];
volatile std::sig_atomic_t g_temporaryPathUsed[kMaxTemporaryFiles];

void registerTemporaryFile(const std::string& path)
{
    if (path.size() >= kMaxPathLength)
        return;  // still removed by the destructor, only not on a signal
    for (int slot = 0; slot < kMaxTemporaryFiles; ++slot)
    {
        if (g_temporaryPathUsed[slot] == 0)
        {
            std::memcpy(g_temporaryPaths[slot], path.c_str(), path.size() + 1);
            g_temporaryPathUsed[slot] = 1;
            return;
        }
    }
}

void unregisterTemporaryFile(const std::string& path)
{
    for (int slot = 0; slot < kMaxTemporaryFiles; ++slot)
    {
        if (g_temporaryPathUsed[slot] != 0 && path == g_temporaryPaths[slot])
            g_temporaryPathUsed[slot] = 0;
    }
}

extern "C" void removeTemporaryFilesAndDie(int signalNumber)
{
    for (int slot = 0; slot < kMaxTemporaryFiles; ++slot)
    {
        if (g_temporaryPathUsed[slot] != 0)
            ::unlink(g_temporaryPaths[slot]);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

std::string extensionOf(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension.empty() ? extension : extension.substr(1);
}

AtomicFile::AtomicFile(const std::string& path) : m_path(path)
{
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        throw ToolError("cannot write " + path + ": " +
                        (error ? "folder " + folder.string() + ": " + error.message()
                               : folder.string() + " is not a folder"));

    const std::string extension = extensionOf(path);
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    std::string pattern = (folder / ("." + target.filename().string() + ".partial-XXXXXX" + suffix)).string();
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        throw ToolError("cannot write " + path + ": cannot create a file in " + folder.string() + ": " +
                        std::strerror(errno));
    ::close(fd);
    m_temporaryPath = pattern;
    registerTemporaryFile(m_temporaryPath);
}

AtomicFile::~AtomicFile()
{
    if (!m_committed)
    {
        ::unlink(m_temporaryPath.c_str());
        unregisterTemporaryFile(m_temporaryPath);
    }
}

void AtomicFile::commit()
{
    // mkstemps creates the file private to its owner; the result should look like any new file.
    ::chmod(m_temporaryPath.c_str(), 0666 & ~currentUmask());
    if (::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0)
        throw ToolError("cannot write " + m_path + ": " + std::strerror(errno));
    m_committed = true;
    unregisterTemporaryFile(m_temporaryPath);
}

void removeTemporaryFilesOnSignals()
{
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(signalNumber, removeTemporaryFilesAndDie);
}

}  // namespace kestrune
