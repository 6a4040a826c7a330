#include "Process.h"

#include "ToolError.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

extern char** environ;

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

void guardStandardDescriptors()
{
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    {
        if (::fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number: this one, since those below are open by now.
        const int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != descriptor)
        {
            ::dup2(opened, descriptor);
            ::close(opened);
        }
    }
}

void finishStandardOutput()
{
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return;
    // A write that failed before this flush (std::endl flushes) left no reason behind; an empty
    // write finds a lasting one again, a descriptor not open for writing.
    const bool reasonKnown = errno != 0 || ::write(STDOUT_FILENO, "", 0) < 0;
    throw ToolError(std::string("cannot write standard output") +
                    (reasonKnown ? std::string(": ") + std::strerror(errno) : std::string()));
}

std::filesystem::path programFolder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

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

// --- programs run to their end -------------------------------------------------------------------

Subprocess::Subprocess(const std::vector<std::string>& words, int out, int err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (const auto& [from, to] : {std::pair{out, STDOUT_FILENO}, std::pair{err, STDERR_FILENO}})
    {
        if (from < 0)
            posix_spawn_file_actions_addopen(&actions, to, "/dev/null", O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, from, to);
    }
    std::vector<char*> argv;
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    // Signals wait until the child is registered, so that a handler never misses it; the child
    // starts with the signal mask of before.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &previous);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setsigmask(&attributes, &previous);
    const int error = ::posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    g_child = error == 0 ? m_pid : -1;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0)
    {
        m_pid = -1;
        throw std::system_error(error, std::generic_category(), "cannot run " + words[0]);
    }
}

int Subprocess::wait()
{
    int status = 0;
    if (m_pid < 0)
        return m_exitCode;
    // The child is reaped only once it is no longer registered: a signal handler that stops it
    // meanwhile finds an ended child, never another process under a reused number.
    siginfo_t ended{};
    while (::waitid(P_PID, static_cast<id_t>(m_pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR)
    {
    }
    g_child = -1;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return m_exitCode;
}

Subprocess::Result Subprocess::run(const std::vector<std::string>& words)
{
    // Files rather than pipes: nothing to drain while the program runs.
    using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    File files[2] = {File(std::tmpfile(), std::fclose), File(std::tmpfile(), std::fclose)};
    if (!files[0] || !files[1])
        throw std::system_error(errno, std::generic_category(), "cannot capture the output of " + words[0]);
    Subprocess program(words, fileno(files[0].get()), fileno(files[1].get()));
    Result result{program.wait(), program.terminatingSignal(), {}, {}};
    for (int stream = 0; stream < 2; ++stream)
    {
        std::string& text = stream == 0 ? result.out : result.err;
        std::rewind(files[stream].get());
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, files[stream].get())) > 0;)
            text.append(buffer, got);
    }
    return result;
}

}  // namespace kestrune
