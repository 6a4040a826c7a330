// Output files that appear complete or not at all: written to a temporary file in the
// destination's folder, ".NAME.kestrune-partial-PID-XXXXXX.EXT" (NAME shortened where the folder's
// limit on names requires), and renamed over the destination
// by commit(). One that is not committed is removed, also when a signal ends the run; one that a
// SIGKILL left is removed by a later run that writes into its folder.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace kestrune
{

class AtomicFile
{
public:
    // "-" stands for standard output, and a device or a named pipe is written into rather than
    // replaced: the temporary file is then made in the temporary folder (TMPDIR, or /tmp when that
    // is no folder), and commit() copies it there. A symbolic link's file is replaced, not the
    // link, also when the file does not exist yet. Throws ToolError when the folder does not exist
    // or cannot be written, for a loop of links, and for another user's link in a shared folder.
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& temporaryPath() const { return m_temporaryPath; }
    int descriptor() const { return m_descriptor; }  // open for reading and writing

    // Puts the file in place with the mode of the file it replaces (and, for root, its owner and
    // group), or the mode a newly created file gets (0666 less the umask). Throws ToolError when
    // that fails; the temporary file is then removed.
    void commit();

private:
    [[noreturn]] void fail() const;  // naming the file and errno's reason
    void copyToStream() const;
    int copyInto(std::FILE* out, off_t length) const;  // 0, or the errno of the failure
    void putInPlace();

    std::string m_path;
    bool m_stream;         // copied into the destination by commit() instead of renamed over it
    std::string m_target;  // what commit() renames onto: path() with a link followed
    std::string m_temporaryPath;
    int m_descriptor = -1;
    bool m_committed = false;
};

// The extension in lower case without the dot ("" when there is none).
std::string extensionOf(const std::string& path);

// How messages name a file: "standard output" (or input) for "-".
std::string displayName(const std::string& path, bool output = true);

}  // namespace kestrune
