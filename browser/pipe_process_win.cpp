#include "browser/pipe_process.h"

#include <QDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include <windows.h>

// Our ends of both pipes are overlapped named-pipe handles, so that a read
// waits on an event with a time-out and a write to a browser that stopped
// reading gives up at its time-out (anonymous pipes block for ever). The
// browser gets ordinary synchronous handles to the other ends.
struct PipeProcessHandles {
    HANDLE commandWrite = nullptr;
    HANDLE answerRead = nullptr;
    HANDLE process = nullptr;
    HANDLE errorRead = nullptr; // the browser's standard error
    std::mutex waitMutex;

    // One read is in flight at a time, into a buffer of our own: a read that
    // outlives its time-out stays pending and completes on a later call.
    OVERLAPPED readOverlapped{};
    std::vector<char> readBuffer = std::vector<char>(256 * 1024);
    bool readPending = false;
    OVERLAPPED writeOverlapped{};
};

namespace {

void closeHandle(HANDLE &h)
{
    if (h)
        ::CloseHandle(h);
    h = nullptr;
}

// Quoting as the C runtime splits a command line back into arguments.
QString quoteArgument(const QString &arg)
{
    if (!arg.isEmpty() && !arg.contains(QLatin1Char(' ')) && !arg.contains(QLatin1Char('\t')) && !arg.contains(QLatin1Char('"')))
        return arg;
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (QChar c : arg) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            out += QString(backslashes * 2 + 1, QLatin1Char('\\'));
        else
            out += QString(backslashes, QLatin1Char('\\'));
        backslashes = 0;
        out += c;
    }
    out += QString(backslashes * 2, QLatin1Char('\\'));
    out += QLatin1Char('"');
    return out;
}

// A named pipe that only this process and its child can open: the name is
// unique and the single instance is taken before the child exists.
bool makeOverlappedPipe(HANDLE &ours, HANDLE &childs, bool weWrite)
{
    static std::atomic<unsigned> counter{0};
    const std::wstring name = QStringLiteral("\\\\.\\pipe\\tolvar-devtools-%1-%2-%3")
                                  .arg(::GetCurrentProcessId())
                                  .arg(::GetTickCount64())
                                  .arg(counter.fetch_add(1))
                                  .toStdWString();
    constexpr DWORD kBufferSize = 64 * 1024;
    ours = ::CreateNamedPipeW(name.c_str(),
                              (weWrite ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND) | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                              1, kBufferSize, kBufferSize, 0, nullptr);
    if (ours == INVALID_HANDLE_VALUE) {
        ours = nullptr;
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    childs = ::CreateFileW(name.c_str(), weWrite ? GENERIC_READ : GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    if (childs == INVALID_HANDLE_VALUE) {
        childs = nullptr;
        closeHandle(ours);
        return false;
    }
    return true;
}

// Waits for an overlapped operation until the time-out; an operation that
// times out stays pending.
enum class IoWait { Done, TimedOut, Broken };
IoWait waitForIo(HANDLE file, OVERLAPPED &overlapped, DWORD timeoutMs, DWORD &transferred)
{
    transferred = 0;
    if (::WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0)
        return IoWait::TimedOut;
    return ::GetOverlappedResult(file, &overlapped, &transferred, FALSE) ? IoWait::Done : IoWait::Broken;
}

// Ends an operation still in flight before its buffer or event goes away.
void cancelIo(HANDLE file, OVERLAPPED &overlapped)
{
    DWORD ignored = 0;
    if (::CancelIoEx(file, &overlapped) || ::GetLastError() != ERROR_NOT_FOUND)
        ::GetOverlappedResult(file, &overlapped, &ignored, TRUE);
}

} // namespace

PipeProcess::PipeProcess() : m_handles(std::make_unique<PipeProcessHandles>()) {}

PipeProcess::~PipeProcess()
{
    if (m_pid > 0 && !hasExited()) {
        kill();
        waitForExit(5000);
    }
    m_stopDraining = true;
    if (m_errorDrain.joinable())
        m_errorDrain.join();
    closeHandle(m_handles->errorRead);
    if (m_handles->readPending)
        cancelIo(m_handles->answerRead, m_handles->readOverlapped);
    closeHandle(m_handles->commandWrite);
    closeHandle(m_handles->answerRead);
    closeHandle(m_handles->process);
    closeHandle(m_handles->readOverlapped.hEvent);
    closeHandle(m_handles->writeOverlapped.hEvent);
}

void PipeProcess::readStandardError()
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent)
        return;
    char buffer[4096];
    while (!m_stopDraining) {
        ::ResetEvent(overlapped.hEvent);
        if (!::ReadFile(m_handles->errorRead, buffer, sizeof buffer, nullptr, &overlapped) && ::GetLastError() != ERROR_IO_PENDING)
            break;
        DWORD n = 0;
        IoWait outcome = IoWait::TimedOut;
        while (!m_stopDraining && (outcome = waitForIo(m_handles->errorRead, overlapped, 100, n)) == IoWait::TimedOut) {
        }
        if (outcome == IoWait::TimedOut) {
            cancelIo(m_handles->errorRead, overlapped);
            break;
        }
        if (outcome == IoWait::Broken)
            break;
        keepStandardError(buffer, n);
    }
    ::CloseHandle(overlapped.hEvent);
}

bool PipeProcess::start(const QString &program, const QStringList &args)
{
    if (m_pid > 0)
        return false;
    HANDLE childRead = nullptr, childWrite = nullptr;
    if (!makeOverlappedPipe(m_handles->commandWrite, childRead, true))
        return false;
    if (!makeOverlappedPipe(m_handles->answerRead, childWrite, false)) {
        closeHandle(childRead);
        closeHandle(m_handles->commandWrite);
        return false;
    }
    HANDLE childError = nullptr;
    const bool ownLog = !qEnvironmentVariableIsEmpty("TOLVAR_BROWSER_LOG");
    if (!ownLog)
        makeOverlappedPipe(m_handles->errorRead, childError, false); // without it the browser still runs
    m_handles->readOverlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_handles->writeOverlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

    QString commandLine = quoteArgument(QDir::toNativeSeparators(program));
    for (const QString &a : args)
        commandLine += QLatin1Char(' ') + quoteArgument(a);
    commandLine += QStringLiteral(" --remote-debugging-io-pipes=%1,%2")
                       .arg(reinterpret_cast<quintptr>(childRead))
                       .arg(reinterpret_cast<quintptr>(childWrite));

    // Only the pipe ends may reach the browser, not every inheritable handle.
    HANDLE inherited[3] = {childRead, childWrite, childError};
    const SIZE_T inheritedBytes = (childError ? 3 : 2) * sizeof(HANDLE);
    SIZE_T attrSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
    std::vector<char> attrBuffer(attrSize);
    auto *attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuffer.data());
    ::InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize);
    ::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, inheritedBytes, nullptr, nullptr);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = attrs;
    if (childError) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdError = childError;
    }
    PROCESS_INFORMATION info{};
    std::wstring cmd = commandLine.toStdWString();
    const std::wstring exe = QDir::toNativeSeparators(program).toStdWString();
    const BOOL ok = ::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                     EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo, &info);
    ::DeleteProcThreadAttributeList(attrs);
    const DWORD startError = ok ? 0 : ::GetLastError();
    closeHandle(childRead);
    closeHandle(childWrite);
    closeHandle(childError);
    if (!ok) {
        closeHandle(m_handles->commandWrite);
        closeHandle(m_handles->answerRead);
        closeHandle(m_handles->errorRead);
        const QByteArray why = "cannot start the program: CreateProcess error " + QByteArray::number(static_cast<qulonglong>(startError)) + '\n';
        keepStandardError(why.constData(), static_cast<std::size_t>(why.size()));
        return false;
    }
    if (m_handles->errorRead)
        m_errorDrain = std::thread([this] { drainStandardError(); });
    ::CloseHandle(info.hThread);
    m_handles->process = info.hProcess;
    m_pid = static_cast<qint64>(info.dwProcessId);
    return true;
}

PipeProcess::ReadResult PipeProcess::read(char *buffer, std::size_t capacity, std::size_t &got, int timeoutMs)
{
    got = 0;
    PipeProcessHandles &h = *m_handles;
    if (!h.answerRead || !h.readOverlapped.hEvent)
        return ReadResult::Closed;
    // The browser's end closes when it exits (nobody else holds it), which
    // breaks the pending read: no polling of the process is needed.
    DWORD n = 0;
    IoWait outcome = IoWait::Done;
    if (!h.readPending) {
        ::ResetEvent(h.readOverlapped.hEvent);
        const DWORD want = static_cast<DWORD>(std::min(capacity, h.readBuffer.size()));
        if (::ReadFile(h.answerRead, h.readBuffer.data(), want, nullptr, &h.readOverlapped) || ::GetLastError() == ERROR_IO_PENDING)
            h.readPending = true;
        else
            return ReadResult::Closed;
    }
    outcome = waitForIo(h.answerRead, h.readOverlapped, static_cast<DWORD>(std::max(timeoutMs, 0)), n);
    if (outcome == IoWait::TimedOut)
        return ReadResult::Idle;
    h.readPending = false;
    if (outcome == IoWait::Broken || n == 0)
        return ReadResult::Closed;
    std::memcpy(buffer, h.readBuffer.data(), n);
    got = n;
    return ReadResult::Data;
}

bool PipeProcess::write(const char *data, std::size_t size, int timeoutMs)
{
    PipeProcessHandles &h = *m_handles;
    if (!h.commandWrite || !h.writeOverlapped.hEvent)
        return false;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    while (size > 0) {
        ::ResetEvent(h.writeOverlapped.hEvent);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!::WriteFile(h.commandWrite, data, chunk, nullptr, &h.writeOverlapped) && ::GetLastError() != ERROR_IO_PENDING)
            return false;
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        DWORD n = 0;
        const IoWait outcome = waitForIo(h.commandWrite, h.writeOverlapped, left, n);
        if (outcome == IoWait::TimedOut) {
            // A browser that stopped reading: give up, and let the caller
            // see the failure instead of holding the write lock for ever.
            cancelIo(h.commandWrite, h.writeOverlapped);
            return false;
        }
        if (outcome == IoWait::Broken || n == 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool PipeProcess::hasExited()
{
    std::lock_guard lock(m_handles->waitMutex);
    if (!m_handles->process || m_exited)
        return true;
    if (::WaitForSingleObject(m_handles->process, 0) == WAIT_OBJECT_0)
        m_exited = true;
    return m_exited;
}

bool PipeProcess::waitForExit(int timeoutMs)
{
    if (!m_handles->process)
        return true;
    ::WaitForSingleObject(m_handles->process, static_cast<DWORD>(timeoutMs));
    return hasExited();
}

void PipeProcess::kill()
{
    std::lock_guard lock(m_handles->waitMutex);
    if (m_handles->process && !m_exited)
        ::TerminateProcess(m_handles->process, 1);
}
