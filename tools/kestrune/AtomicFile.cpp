#include "AtomicFile.h"

#include "ToolError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

std::string systemError(int error)
{
    return std::strerror(error);
}

}  // namespace

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string extensionOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

AtomicFile::AtomicFile(const std::string& path) : m_path(path)
{
    const std::string folder = folderOf(path);
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        throw ToolError("cannot write " + path + ": folder " + folder + ": " + systemError(errno));
    if (!S_ISDIR(info.st_mode))
        throw ToolError("cannot write " + path + ": " + folder + " is not a folder");

    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string extension = extensionOf(path);
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    std::string pattern = folder + "/." + name + ".partial-XXXXXX" + suffix;

    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemps(buffer.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        throw ToolError("cannot write " + path + ": cannot create a file in " + folder + ": " +
                        systemError(errno));
    ::close(fd);
    m_temporaryPath = buffer.data();
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
    {
        const int error = errno;
        throw ToolError("cannot write " + m_path + ": " + systemError(error));
    }
    m_committed = true;
    unregisterTemporaryFile(m_temporaryPath);
}

void removeTemporaryFilesOnSignals()
{
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(signalNumber, removeTemporaryFilesAndDie);
}

}  // namespace kestrune
