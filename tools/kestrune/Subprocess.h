// Another program run to its end: kestrune runs Python to draw, the tests run kestrune. Started
// with posix_spawnp; stdin always reads /dev/null.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrune
{

class Subprocess
{
public:
    // Where the child's stdout or stderr goes: nowhere, into out()/err(), or an open descriptor.
    static constexpr int kDiscard = -1;
    static constexpr int kCapture = -2;

    // Starts words[0], searched on PATH when it has no slash. Throws std::system_error with the
    // reason when it cannot be started, a missing program included.
    Subprocess(const std::vector<std::string>& words, int out, int err);
    ~Subprocess();

    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return m_pid; }
    // Collects the captured streams until the child closes them and waits for it to end. Returns
    // the exit code, or -1 when a signal ended it (terminatingSignal() names it).
    int wait();
    int terminatingSignal() const { return m_signal; }
    const std::string& out() const { return m_captured[0]; }
    const std::string& err() const { return m_captured[1]; }

private:
    pid_t m_pid = -1;
    int m_pipes[2] = {-1, -1};  // read ends of the captured stdout and stderr
    std::string m_captured[2];
    int m_exitCode = -1;
    int m_signal = 0;
    bool m_waited = false;
};

}  // namespace kestrune
