// This process and the programs it runs. Nothing is left behind when a signal ends a run: the
// temporary files are removed and a child program (Python drawing a picture) is stopped and waited
// for before the signal takes effect.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrune
{

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file opened later
// takes its number (a note meant for a closed standard error would land in the audio). Standard
// input gets it for writing only and the outputs for reading only, as gnulib's stdopen does: a
// closed stream stays unusable, and its use fails with EBADF instead of passing in silence. Call
// before anything opens a file.
void guardStandardDescriptors();

// Flushes standard output. Throws ToolError "cannot write standard output: REASON" when that or any
// earlier write to it failed (a full disk, a closed descriptor, a reader gone), as coreutils do.
void finishStandardOutput();

// The folder the running program lies in, links resolved.
std::filesystem::path programFolder();

// Installs the handlers for every signal that ends a program by default, except those the parent
// ignores (nohup, a script's background job): those stay ignored. Call once at start-up.
void cleanUpOnSignals();

// The handler reads path's characters: it must stay unchanged until it is unregistered.
void registerTemporaryFile(const std::string& path);
void unregisterTemporaryFile(const std::string& path);

// Another program run to its end: kestrune runs Python to draw, the tests run kestrune.
class Subprocess
{
public:
    // Starts words[0] (searched on PATH when it has no slash) with stdin from /dev/null and stdout and
    // stderr on the given descriptors (-1 for /dev/null). Throws std::system_error with the reason
    // when it cannot be started, a missing program included.
    Subprocess(const std::vector<std::string>& words, int out, int err);
    ~Subprocess() { wait(); }

    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return m_pid; }
    // Waits for the end; returns the exit code, or -1 when a signal ended the program.
    int wait();
    int terminatingSignal() const { return m_signal; }

    // Runs words to their end with stdout and stderr collected.
    struct Result
    {
        int exitCode;
        int signal;
        std::string out;
        std::string err;
    };
    static Result run(const std::vector<std::string>& words);

private:
    pid_t m_pid = -1;
    int m_exitCode = -1;
    int m_signal = 0;
};

}  // namespace kestrune
