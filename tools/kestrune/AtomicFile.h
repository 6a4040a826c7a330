// Output files that appear complete or not at all: everything is written to a temporary file in
// the destination's folder and renamed over the destination when finished. A temporary file that
// is not committed is removed, also when the run is ended by SIGINT, SIGTERM, SIGHUP or SIGPIPE.
#pragma once

#include <string>

namespace kestrune
{

class AtomicFile
{
public:
    // Creates the temporary file next to path (same folder, same extension). Throws ToolError when
    // the folder does not exist or cannot be written.
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& temporaryPath() const { return m_temporaryPath; }

    // Gives the file the permissions a newly created file gets (0666 less the umask) and renames it
    // to path(). Throws ToolError when the rename fails; the temporary file is then removed.
    void commit();

private:
    std::string m_path;
    std::string m_temporaryPath;
    bool m_committed = false;
};

// Installs the signal handlers that remove uncommitted temporary files. Call once at start-up.
void removeTemporaryFilesOnSignals();

// The extension in lower case without the dot ("" when there is none).
std::string extensionOf(const std::string& path);

}  // namespace kestrune
