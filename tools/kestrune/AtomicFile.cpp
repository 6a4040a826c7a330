#include "AtomicFile.h"

#include "Process.h"
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
#include <filesystem>
#include <utility>

namespace kestrune
{

namespace
{

constexpr const char* kPartialMarker = ".kestrune-partial-";

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

// A device or a named pipe (/dev/null, a FIFO) is written into; renaming a file over it would
// replace the device node itself when run as root.
bool isDeviceOrPipe(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
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

AtomicFile::AtomicFile(const std::string& path) : m_path(path), m_stream(path == "-" || isDeviceOrPipe(path))
{
    std::error_code error;
    std::filesystem::path target(path);
    if (std::filesystem::is_symlink(target, error) && std::filesystem::exists(target, error))
        target = std::filesystem::canonical(target, error);
    m_target = target.string();
    // Refused here rather than when renaming: a run that writes several files puts none in place.
    if (!m_stream && std::filesystem::is_directory(target, error))
        throw ToolError("cannot write " + displayName(path) + ": it is a folder");
    const std::filesystem::path folder = m_stream                   ? std::filesystem::temp_directory_path(error)
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
    m_temporaryPath = pattern;
    registerTemporaryFile(m_temporaryPath);
}

AtomicFile::~AtomicFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
    if (!m_committed)
    {
        ::unlink(m_temporaryPath.c_str());
        unregisterTemporaryFile(m_temporaryPath);
    }
}

void AtomicFile::commit()
{
    const auto fail = [this] { throw ToolError("cannot write " + displayName(m_path) + ": " + std::strerror(errno)); };
    if (m_stream)
    {
        std::FILE* out = m_path == "-" ? stdout : std::fopen(m_path.c_str(), "wb");
        if (out == nullptr)
            fail();
        // Copied through stdio: sendfile and splice refuse a standard output opened for appending.
        char buffer[65536];
        ssize_t got = 0;
        for (off_t offset = 0; (got = ::pread(m_descriptor, buffer, sizeof buffer, offset)) > 0; offset += got)
        {
            if (std::fwrite(buffer, 1, static_cast<std::size_t>(got), out) != static_cast<std::size_t>(got))
                break;
        }
        const int copyError = got == 0 && std::fflush(out) == 0 ? 0 : errno;
        if (out != stdout && std::fclose(out) != 0 && copyError == 0)
            fail();
        errno = copyError;
        if (copyError != 0)
            fail();
        return;  // the temporary file goes with the destructor
    }
    // A failed close is a failed write on file systems that report errors late (NFS).
    if (::close(std::exchange(m_descriptor, -1)) != 0)
        fail();
    // mkstemps creates the file private to its owner; the result should look like any new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(m_temporaryPath.c_str(), 0666 & ~mask);
    if (::rename(m_temporaryPath.c_str(), m_target.c_str()) != 0)
        fail();
    m_committed = true;
    unregisterTemporaryFile(m_temporaryPath);
}

}  // namespace kestrune
