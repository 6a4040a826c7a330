#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace kestrune
{

Subprocess::Subprocess(const std::vector<std::string>& words, int out, int err)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    int writeEnds[2] = {-1, -1};
    const int targets[2] = {out, err};
    int error = 0;
    for (int stream = 0; stream < 2 && error == 0; ++stream)
    {
        const int fd = STDOUT_FILENO + stream;
        if (targets[stream] == kDiscard)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
        else if (targets[stream] != kCapture)
            posix_spawn_file_actions_adddup2(&actions, targets[stream], fd);
        else
        {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0)
            {
                error = errno;
                break;
            }
            m_pipes[stream] = ends[0];
            writeEnds[stream] = ends[1];
            posix_spawn_file_actions_adddup2(&actions, ends[1], fd);
        }
    }

    std::vector<char*> argv;
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    if (error == 0)
        error = ::posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (const int end : writeEnds)
    {
        if (end >= 0)
            ::close(end);
    }
    if (error != 0)
    {
        for (const int end : m_pipes)
        {
            if (end >= 0)
                ::close(end);
        }
        m_waited = true;
        throw std::system_error(error, std::generic_category(), "cannot run " + words[0]);
    }
}

Subprocess::~Subprocess()
{
    wait();
}

int Subprocess::wait()
{
    if (m_waited)
        return m_exitCode;
    // Both pipes are drained together: a child blocked on a full stderr would never close stdout.
    for (;;)
    {
        pollfd open[2];
        int count = 0;
        for (const int fd : m_pipes)
        {
            if (fd >= 0)
                open[count++] = pollfd{fd, POLLIN, 0};
        }
        if (count == 0)
            break;
        if (::poll(open, static_cast<nfds_t>(count), -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < count; ++i)
        {
            if (open[i].revents == 0)
                continue;
            const int stream = open[i].fd == m_pipes[0] ? 0 : 1;
            char buffer[4096];
            const ssize_t got = ::read(open[i].fd, buffer, sizeof buffer);
            if (got > 0)
                m_captured[stream].append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
            {
                ::close(m_pipes[stream]);
                m_pipes[stream] = -1;
            }
        }
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    m_waited = true;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return m_exitCode;
}

}  // namespace kestrune
