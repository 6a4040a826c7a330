#include "AtomicFile.h"

#include "Cleanup.h"
#include "ToolError.h"

#include <sys/sendfile.h>
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

constexpr const char* kPartialMarker = ".kestrune-partial-";

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Partial files whose process no longer runs were left by a run that could not clean up (SIGKILL,
// a power cut). A process of another user counts as running: kill answers EPERM.
void removeStalePartialFiles(const std::filesystem::path& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    {
        const std::string name = entry.path().filename().string();
        const std::size_t marker = name.find(kPartialMarker);
        if (name[0] != '.' || marker == std::string::npos)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + marker + std::strlen(kPartialMarker), &end, 10);
        if (pid > 0 && *end == '-' && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove(entry.path(), error);
    }
}

}  // namespace

std::string extensionOf(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension.empty() ? extension : extension.substr(1);
}

std::string displayName(const std::string& path, bool output)
{
    return path != "-" ? path : output ? "standard output" : "standard input";
}

AtomicFile::AtomicFile(const std::string& path) : m_path(path)
{
    const bool toStandardOutput = path == "-";
    const std::filesystem::path target(path);
    std::error_code error;
    const std::filesystem::path folder = toStandardOutput       ? std::filesystem::temp_directory_path(error)
                                         : target.has_parent_path() ? target.parent_path()
                                                                    : ".";
    if (!std::filesystem::is_directory(folder, error))
        throw ToolError("cannot write " + displayName(path) + ": " +
                        (error ? "folder " + folder.string() + ": " + error.message()
                               : folder.string() + " is not a folder"));
    removeStalePartialFiles(folder);

    const std::string extension = extensionOf(path);
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    std::string pattern = (folder / ("." + target.filename().string() + kPartialMarker +
                                     std::to_string(::getpid()) + "-XXXXXX" + suffix))
                              .string();
    m_descriptor = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (m_descriptor < 0)
        throw ToolError("cannot write " + displayName(path) + ": cannot create a file in " + folder.string() + ": " +
                        std::strerror(errno));
    if (toStandardOutput)
        ::unlink(pattern.c_str());  // nothing to rename: it disappears with the descriptor
    else
    {
        m_temporaryPath = pattern;
        registerTemporaryFile(m_temporaryPath);
    }
}

AtomicFile::~AtomicFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    if (!m_committed && !m_temporaryPath.empty())
    {
        ::unlink(m_temporaryPath.c_str());
        unregisterTemporaryFile(m_temporaryPath);
    }
}

void AtomicFile::commit()
{
    const auto fail = [this] { throw ToolError("cannot write " + displayName(m_path) + ": " + std::strerror(errno)); };
    if (m_temporaryPath.empty())
    {
        struct stat written{};
        off_t offset = 0;
        if (::fstat(m_descriptor, &written) != 0)
            fail();
        while (offset < written.st_size)
        {
            if (::sendfile(STDOUT_FILENO, m_descriptor, &offset, static_cast<std::size_t>(written.st_size - offset)) <= 0)
                fail();
        }
        m_committed = true;
        return;
    }
    // A failed close is a failed write on file systems that report errors late (NFS).
    const int descriptor = m_descriptor;
    m_descriptor = -1;
    if (::close(descriptor) != 0)
        fail();
    // mkstemps creates the file private to its owner; the result should look like any new file.
    ::chmod(m_temporaryPath.c_str(), 0666 & ~currentUmask());
    if (::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0)
        fail();
    m_committed = true;
    unregisterTemporaryFile(m_temporaryPath);
}

}  // namespace kestrune
