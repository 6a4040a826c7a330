#include "Cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace kestrune
{

namespace
{

// Every signal whose default action ends the program and that a handler can catch.
constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,  SIGFPE,
                                 SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,   SIGTERM, SIGXCPU, SIGXFSZ,
                                 SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSYS};

// The handler may only touch memory that exists for the whole run, through lock-free atomics, and
// may only call async-signal-safe functions (kill, waitpid, unlink, sigaction, raise).
std::atomic<const char*> g_temporaryPaths[16];
std::atomic<pid_t> g_child{-1};
static_assert(std::atomic<const char*>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);
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
    for (const auto& slot : g_temporaryPaths)
    {
        if (const char* path = slot)
            ::unlink(path);
    }
    // The previous action is the default one, or a sanitizer's report of a crash.
    ::sigaction(signalNumber, &g_previous[signalNumber], nullptr);
    ::raise(signalNumber);
}

}  // namespace

void registerTemporaryFile(const std::string& path)
{
    for (auto& slot : g_temporaryPaths)
    {
        const char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, path.c_str()))
            return;
    }
    // All slots taken: the file is still removed by its owner, only not on a signal.
}

void unregisterTemporaryFile(const std::string& path)
{
    for (auto& slot : g_temporaryPaths)
    {
        const char* registered = path.c_str();
        slot.compare_exchange_strong(registered, nullptr);
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
