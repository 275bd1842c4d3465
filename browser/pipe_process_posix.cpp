#include "browser/pipe_process.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

struct PipeProcessHandles {
    int commandFd = -1; // we write, the child reads it as fd 3
    int answerFd = -1;  // we read, the child writes it as fd 4
    int errorFd = -1;   // we read, the child's standard error
    std::mutex waitMutex;
};

namespace {

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The child's ends must not already sit on 3 or 4: dup2 onto itself would keep
// the close-on-exec flag and the browser would find no pipe.
bool makeChildPipes(int commandPipe[2], int answerPipe[2])
{
    if (::pipe2(commandPipe, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(answerPipe, O_CLOEXEC) != 0) {
        closeFd(commandPipe[0]);
        closeFd(commandPipe[1]);
        return false;
    }
    for (int *fd : {&commandPipe[0], &answerPipe[1]}) {
        const int moved = ::fcntl(*fd, F_DUPFD_CLOEXEC, 10);
        ::close(*fd);
        *fd = moved;
    }
    return commandPipe[0] >= 0 && answerPipe[1] >= 0;
}

// A write to a pipe whose reader died raises SIGPIPE; we want EPIPE instead.
void ignoreSigpipeOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
    });
}

} // namespace

PipeProcess::PipeProcess() : m_handles(std::make_unique<PipeProcessHandles>()) {}

PipeProcess::~PipeProcess()
{
    if (m_pid > 0 && !hasExited()) {
        kill();
        waitForExit(5000);
    }
    // The browser's helpers may hold its standard error a while longer.
    m_stopDraining = true;
    if (m_errorDrain.joinable())
        m_errorDrain.join();
    closeFd(m_handles->commandFd);
    closeFd(m_handles->answerFd);
    closeFd(m_handles->errorFd);
}

void PipeProcess::readStandardError()
{
    char buffer[4096];
    while (!m_stopDraining) {
        pollfd p{m_handles->errorFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(m_handles->errorFd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return;
        if (n > 0)
            keepStandardError(buffer, static_cast<std::size_t>(n));
    }
}

bool PipeProcess::start(const QString &program, const QStringList &args)
{
    if (m_pid > 0)
        return false;
    ignoreSigpipeOnce();
    int commandPipe[2] = {-1, -1};
    int answerPipe[2] = {-1, -1};
    if (!makeChildPipes(commandPipe, answerPipe))
        return false;
    const bool ownLog = !qEnvironmentVariableIsEmpty("TOLVAR_BROWSER_LOG");
    int errorPipe[2] = {-1, -1};
    if (!ownLog && ::pipe2(errorPipe, O_CLOEXEC) != 0) {
        for (int *fd : {&commandPipe[0], &commandPipe[1], &answerPipe[0], &answerPipe[1]})
            closeFd(*fd);
        return false;
    }
    if (errorPipe[1] >= 0 && errorPipe[1] < 10) { // clear of fds 3 and 4, as above
        const int moved = ::fcntl(errorPipe[1], F_DUPFD_CLOEXEC, 10);
        ::close(errorPipe[1]);
        errorPipe[1] = moved;
    }

    const QByteArray programBytes = QFile::encodeName(program);
    std::vector<QByteArray> argBytes;
    argBytes.push_back(programBytes);
    for (const QString &a : args)
        argBytes.push_back(a.toLocal8Bit());
    argBytes.push_back("--remote-debugging-pipe");
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, commandPipe[0], 3);
    posix_spawn_file_actions_adddup2(&actions, answerPipe[1], 4);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!ownLog) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    posix_spawn_file_actions_addclosefrom_np(&actions, 5);
#endif
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, programBytes.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeFd(commandPipe[0]);
    closeFd(answerPipe[1]);
    closeFd(errorPipe[1]);
    if (rc != 0) {
        closeFd(commandPipe[1]);
        closeFd(answerPipe[0]);
        closeFd(errorPipe[0]);
        const QByteArray why = QByteArray("cannot start the program: ") + std::strerror(rc) + '\n';
        keepStandardError(why.constData(), static_cast<std::size_t>(why.size()));
        return false;
    }
    m_handles->errorFd = errorPipe[0];
    if (m_handles->errorFd >= 0)
        m_errorDrain = std::thread([this] { drainStandardError(); });
    m_pid = pid;
    m_handles->commandFd = commandPipe[1];
    m_handles->answerFd = answerPipe[0];
    ::fcntl(m_handles->commandFd, F_SETFL, ::fcntl(m_handles->commandFd, F_GETFL) | O_NONBLOCK);
    return true;
}

PipeProcess::ReadResult PipeProcess::read(char *buffer, std::size_t capacity, std::size_t &got, int timeoutMs)
{
    got = 0;
    if (m_handles->answerFd < 0)
        return ReadResult::Closed;
    pollfd p{m_handles->answerFd, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready == 0)
        return hasExited() ? ReadResult::Closed : ReadResult::Idle;
    if (ready < 0)
        return errno == EINTR ? ReadResult::Idle : ReadResult::Closed;
    const ssize_t n = ::read(m_handles->answerFd, buffer, capacity);
    if (n > 0) {
        got = static_cast<std::size_t>(n);
        return ReadResult::Data;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return ReadResult::Idle;
    return ReadResult::Closed;
}

bool PipeProcess::write(const char *data, std::size_t size, int timeoutMs)
{
    const int fd = m_handles->commandFd;
    if (fd < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return false;
        if (p.revents & (POLLERR | POLLHUP))
            return false;
    }
    return true;
}

bool PipeProcess::hasExited()
{
    std::lock_guard lock(m_handles->waitMutex);
    if (m_pid <= 0 || m_exited)
        return true;
    int status = 0;
    const pid_t r = ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG);
    if (r == static_cast<pid_t>(m_pid) || (r < 0 && errno == ECHILD))
        m_exited = true;
    return m_exited;
}

bool PipeProcess::waitForExit(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!hasExited()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void PipeProcess::kill()
{
    std::lock_guard lock(m_handles->waitMutex);
    if (m_pid > 0 && !m_exited)
        ::kill(static_cast<pid_t>(m_pid), SIGKILL);
}
