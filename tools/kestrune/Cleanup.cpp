#include "Cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace kestrune
{

namespace
{

// Every signal whose default action ends the program and that a handler can catch.
constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE,
                                 SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,   SIGTERM, SIGXCPU, SIGXFSZ,
                                 SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSYS};

// Fixed storage: the handler may only touch memory that exists for the whole run and may only call
// async-signal-safe functions (kill, waitpid, unlink, sigaction, raise).
constexpr int kMaxTemporaryFiles = 16;
constexpr std::size_t kMaxPathLength = 4096;
char g_temporaryPaths[kMaxTemporaryFiles][kMaxPathLength];
volatile std::sig_atomic_t g_temporaryPathUsed[kMaxTemporaryFiles];
volatile pid_t g_child = -1;
struct sigaction g_previous[NSIG];

extern "C" void cleanUpAndDie(int signalNumber)
{
    const pid_t child = g_child;
    if (child > 0)
    {
        // SIGKILL: the child may ignore or catch anything else, and must not write after this.
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    for (int slot = 0; slot < kMaxTemporaryFiles; ++slot)
    {
        if (g_temporaryPathUsed[slot] != 0)
            ::unlink(g_temporaryPaths[slot]);
    }
    // The previous action is the default one, or a sanitizer's report of a crash.
    ::sigaction(signalNumber, &g_previous[signalNumber], nullptr);
    ::raise(signalNumber);
}

}  // namespace

void registerTemporaryFile(const std::string& path)
{
    if (path.size() >= kMaxPathLength)
        return;  // still removed by its owner, only not on a signal
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

void registerChild(pid_t pid)
{
    g_child = pid;
}

void cleanUpOnSignals()
{
    for (const int signalNumber : kFatalSignals)
    {
        struct sigaction current{};
        ::sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler == SIG_IGN)
            continue;
        g_previous[signalNumber] = current;
        struct sigaction action{};
        action.sa_handler = cleanUpAndDie;
        sigfillset(&action.sa_mask);  // one cleanup at a time; the re-raised signal waits for its end
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace kestrune
