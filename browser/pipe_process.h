#pragma once

#include <QString>
#include <QStringList>

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

struct PipeProcessHandles;

// A child process that talks to us over two pipes of its own: one it reads
// commands from and one it writes answers to. The platform files differ in
// how the pipes reach the child (fds 3 and 4, or inherited handles named on
// the command line).
class PipeProcess final {
public:
    PipeProcess();
    ~PipeProcess(); // kills the child when it still runs and reaps it
    PipeProcess(const PipeProcess &) = delete;
    PipeProcess &operator=(const PipeProcess &) = delete;

    // Starts program with args plus the pipe argument of the platform.
    bool start(const QString &program, const QStringList &args);
    qint64 processId() const { return m_pid; }

    enum class ReadResult { Data, Idle, Closed };
    // Waits at most timeoutMs for bytes; Idle when none came, Closed at the end
    // of the stream or when the child is gone.
    ReadResult read(char *buffer, std::size_t capacity, std::size_t &got, int timeoutMs);
    // Writes every byte or gives up at the time-out (a child that stopped
    // reading never blocks us).
    bool write(const char *data, std::size_t size, int timeoutMs);

    bool hasExited();
    bool waitForExit(int timeoutMs);
    void kill();

    // The first lines the child wrote to its standard error (at most 4 KB;
    // the rest is read and dropped), for the diagnostic log when a start
    // fails. With TOLVAR_BROWSER_LOG set the child writes to ours instead.
    // Once the child has ended, waits a little for what it wrote last.
    QByteArray standardErrorHead();

private:
    void keepStandardError(const char *data, std::size_t size);
    void drainStandardError();
    void readStandardError();

    std::unique_ptr<PipeProcessHandles> m_handles;
    mutable std::mutex m_errorMutex;
    QByteArray m_errorHead;
    std::atomic<bool> m_stopDraining{false};
    std::atomic<bool> m_drained{false}; // the drain saw the end of the stream
    std::thread m_errorDrain;
    qint64 m_pid = 0;
    bool m_exited = false;
};
