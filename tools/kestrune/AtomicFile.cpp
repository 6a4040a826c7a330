#include "AtomicFile.h"

#include "Process.h"
#include "ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
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
constexpr int kMostLinks = 40;  // links followed for one name, as the kernel allows

// Partial files whose process no longer runs were left by a run that could not clean up (SIGKILL,
// a power cut). A process of another user counts as running: kill answers EPERM.
void removeStalePartialFiles(const std::filesystem::path& folder)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    {
        const std::string name = entry.path().filename().string();
        // The last marker is ours: the name before it is the user's and may hold anything.
        const std::size_t marker = name.rfind(kPartialMarker);
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

// TMPDIR when it names a folder, else /tmp, as the C library does for its own temporary names.
std::filesystem::path temporaryFolder()
{
    const char* variable = std::getenv("TMPDIR");
    std::error_code error;
    if (variable != nullptr && *variable != 0 && std::filesystem::is_directory(variable, error))
        return variable;
    return "/tmp";
}

// A link in a sticky folder that everyone may write (/tmp) is followed only when it belongs to this
// user or to the folder's owner, as the kernel's protected_symlinks rule has it for opening files;
// a rename onto the link's target would escape that rule, and another user's link could aim the
// output at any file of ours.
void refuseForeignLink(const std::filesystem::path& link, const std::string& name)
{
    struct stat own{};
    struct stat folder{};
    const std::filesystem::path parent = link.has_parent_path() ? link.parent_path() : ".";
    if (::lstat(link.c_str(), &own) != 0 || ::stat(parent.c_str(), &folder) != 0)
        return;
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    if (shared && own.st_uid != ::geteuid() && own.st_uid != folder.st_uid)
        throw ToolError("cannot write " + name + ": it is a symbolic link of another user in the shared folder " +
                        parent.string() + "; remove it or name the file it points to");
}

// Where the output lands: path with the links of its last part followed, to a file that may not
// exist yet; a dangling link then gets its file, and stays a link.
std::filesystem::path followLinks(const std::filesystem::path& path, const std::string& name)
{
    std::filesystem::path target = path;
    for (int links = 0;; ++links)
    {
        std::error_code error;
        if (!std::filesystem::is_symlink(target, error))
            return target;
        if (links == kMostLinks)
            throw ToolError("cannot write " + name + ": " + std::strerror(ELOOP));
        refuseForeignLink(target, name);
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error)
            throw ToolError("cannot write " + name + ": " + error.message());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
}

// ".NAME.kestrune-partial-PID-XXXXXX.EXT" within the folder's limit on the length of a name: NAME
// is cut short (at a whole UTF-8 character) as far as needed, and then the extension dropped,
// which only pictures need and theirs are short.
std::string temporaryName(const std::string& fileName, std::string suffix, std::size_t longest)
{
    const std::string tail = kPartialMarker + std::to_string(::getpid()) + "-XXXXXX";
    if (1 + tail.size() + suffix.size() > longest)
        suffix.clear();
    std::string name = fileName;
    const std::size_t room = longest - std::min(longest, 1 + tail.size() + suffix.size());
    if (name.size() > room)
    {
        name.resize(room);
        std::size_t start = name.size();  // of the last character
        while (start > 0 && (static_cast<unsigned char>(name[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start > 0)
        {
            const auto lead = static_cast<unsigned char>(name[start - 1]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (start - 1 + length > name.size())
                name.resize(start - 1);
        }
    }
    return "." + name + tail + suffix;
}

// The replaced file's mode, and its owner and group as far as this process may give them (root
// may; a user may keep a group of theirs); a new file gets 0666 less the umask, as any new file.
// Set through the descriptor, never by name: a name swapped in the folder meanwhile must not
// receive a chown. Returns false with errno set when the mode cannot be set.
bool takeOverAttributes(int descriptor, const std::string& replaced)
{
    struct stat old{};
    if (::stat(replaced.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return ::fchmod(descriptor, 0666 & ~mask) == 0;
    }
    // What took is read back below, where the set-ID bits depend on it.
    const auto giveTo = [descriptor](uid_t owner, gid_t group) { return ::fchown(descriptor, owner, group) == 0; };
    if (!giveTo(::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1), old.st_gid))
        giveTo(static_cast<uid_t>(-1), old.st_gid);  // a user keeps a group of theirs
    struct stat now{};
    if (::fstat(descriptor, &now) != 0)
        return false;
    mode_t mode = old.st_mode & 07777;
    // Set-ID bits would run the program as someone the old file did not name.
    if (now.st_uid != old.st_uid)
        mode &= ~static_cast<mode_t>(S_ISUID);
    if (now.st_gid != old.st_gid)
        mode &= ~static_cast<mode_t>(S_ISGID);
    return ::fchmod(descriptor, mode) == 0;
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
    // A closed standard output was given /dev/null for reading at start: told before any work.
    if (path == "-" && (::fcntl(STDOUT_FILENO, F_GETFL) & O_ACCMODE) == O_RDONLY)
        throw ToolError("cannot write standard output: " + std::string(std::strerror(EBADF)));
    const std::filesystem::path target = m_stream ? std::filesystem::path(path) : followLinks(path, displayName(path));
    m_target = target.string();
    std::error_code error;
    // Refused here rather than when renaming: a run that writes several files puts none in place.
    if (!m_stream && std::filesystem::is_directory(target, error))
        throw ToolError("cannot write " + displayName(path) + ": it is a folder");
    const std::filesystem::path folder = m_stream                   ? temporaryFolder()
                                         : target.has_parent_path() ? target.parent_path()
                                                                    : ".";
    if (!std::filesystem::is_directory(folder, error))
        throw ToolError("cannot write " + displayName(path) + ": " +
                        (error ? "folder " + folder.string() + ": " + error.message()
                               : folder.string() + " is not a folder"));
    removeStalePartialFiles(folder);

    const std::string extension = extensionOf(path);
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::string name = temporaryName(target.filename().string(), suffix,
                                           longest > 0 ? static_cast<std::size_t>(longest) : NAME_MAX);
    std::string pattern = (folder / name).string();
    const std::size_t suffixLength = name.size() - name.rfind("XXXXXX") - 6;
    m_descriptor = ::mkstemps(pattern.data(), static_cast<int>(suffixLength));
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
    if (m_stream)
        copyToStream();  // the temporary file goes with the destructor
    else
        putInPlace();
}

void AtomicFile::fail() const
{
    throw ToolError("cannot write " + displayName(m_path) + ": " + std::strerror(errno));
}

void AtomicFile::copyToStream() const
{
    // The length is taken first: a destination that is somehow this very file cannot make the
    // copy run for ever.
    struct stat written{};
    if (::fstat(m_descriptor, &written) != 0)
        fail();
    std::FILE* out = m_path == "-" ? stdout : std::fopen(m_path.c_str(), "wb");
    if (out == nullptr)
        fail();
    int copyError = copyInto(out, written.st_size);
    if (copyError == 0 && std::fflush(out) != 0)
        copyError = errno;
    if (out != stdout && std::fclose(out) != 0 && copyError == 0)
        copyError = errno;
    errno = copyError;
    if (copyError != 0)
        fail();
}

int AtomicFile::copyInto(std::FILE* out, off_t length) const
{
    // Copied through stdio: sendfile and splice refuse a standard output opened for appending.
    char buffer[65536];
    for (off_t offset = 0; offset < length;)
    {
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(sizeof buffer, length - offset));
        const ssize_t got = ::pread(m_descriptor, buffer, wanted, offset);
        if (got <= 0)
            return got < 0 ? errno : EIO;
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(got), out) != static_cast<std::size_t>(got))
            return errno;
        offset += got;
    }
    return 0;
}

void AtomicFile::putInPlace()
{
    if (!takeOverAttributes(m_descriptor, m_target))
        fail();
    // A failed close is a failed write on file systems that report errors late (NFS).
    if (::close(std::exchange(m_descriptor, -1)) != 0)
        fail();
    if (::rename(m_temporaryPath.c_str(), m_target.c_str()) != 0)
        fail();
    m_committed = true;
    unregisterTemporaryFile(m_temporaryPath);
}

}  // namespace kestrune
