#include "browser/pipe_process.h"

#include <QDir>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <windows.h>

struct PipeProcessHandles {
    HANDLE commandWrite = nullptr;
    HANDLE answerRead = nullptr;
    HANDLE process = nullptr;
    std::mutex waitMutex;
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

} // namespace

PipeProcess::PipeProcess() : m_handles(std::make_unique<PipeProcessHandles>()) {}

PipeProcess::~PipeProcess()
{
    if (m_pid > 0 && !hasExited()) {
        kill();
        waitForExit(5000);
    }
    closeHandle(m_handles->commandWrite);
    closeHandle(m_handles->answerRead);
    closeHandle(m_handles->process);
}

bool PipeProcess::start(const QString &program, const QStringList &args)
{
    if (m_pid > 0)
        return false;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childRead = nullptr, childWrite = nullptr;
    if (!::CreatePipe(&childRead, &m_handles->commandWrite, &inherit, 0))
        return false;
    if (!::CreatePipe(&m_handles->answerRead, &childWrite, &inherit, 0)) {
        closeHandle(childRead);
        closeHandle(m_handles->commandWrite);
        return false;
    }
    ::SetHandleInformation(m_handles->commandWrite, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(m_handles->answerRead, HANDLE_FLAG_INHERIT, 0);

    QString commandLine = quoteArgument(QDir::toNativeSeparators(program));
    for (const QString &a : args)
        commandLine += QLatin1Char(' ') + quoteArgument(a);
    commandLine += QStringLiteral(" --remote-debugging-io-pipes=%1,%2")
                       .arg(reinterpret_cast<quintptr>(childRead))
                       .arg(reinterpret_cast<quintptr>(childWrite));

    // Only the two pipe ends may reach the browser, not every inheritable handle.
    HANDLE inherited[2] = {childRead, childWrite};
    SIZE_T attrSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
    std::vector<char> attrBuffer(attrSize);
    auto *attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attrBuffer.data());
    ::InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize);
    ::UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited), nullptr, nullptr);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.lpAttributeList = attrs;
    PROCESS_INFORMATION info{};
    std::wstring cmd = commandLine.toStdWString();
    const std::wstring exe = QDir::toNativeSeparators(program).toStdWString();
    const BOOL ok = ::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                     EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo, &info);
    ::DeleteProcThreadAttributeList(attrs);
    closeHandle(childRead);
    closeHandle(childWrite);
    if (!ok) {
        closeHandle(m_handles->commandWrite);
        closeHandle(m_handles->answerRead);
        return false;
    }
    ::CloseHandle(info.hThread);
    m_handles->process = info.hProcess;
    m_pid = static_cast<qint64>(info.dwProcessId);
    return true;
}

// Anonymous pipes have no overlapped reads: peek, and sleep briefly between peeks.
PipeProcess::ReadResult PipeProcess::read(char *buffer, std::size_t capacity, std::size_t &got, int timeoutMs)
{
    got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(m_handles->answerRead, nullptr, 0, nullptr, &available, nullptr))
            return ReadResult::Closed;
        if (available > 0) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity, available));
            if (!::ReadFile(m_handles->answerRead, buffer, want, &n, nullptr) || n == 0)
                return ReadResult::Closed;
            got = n;
            return ReadResult::Data;
        }
        if (hasExited())
            return ReadResult::Closed;
        if (std::chrono::steady_clock::now() >= deadline)
            return ReadResult::Idle;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool PipeProcess::write(const char *data, std::size_t size, int timeoutMs)
{
    Q_UNUSED(timeoutMs); // anonymous pipes block; the browser drains its pipe
    while (size > 0) {
        DWORD n = 0;
        if (!::WriteFile(m_handles->commandWrite, data, static_cast<DWORD>(size), &n, nullptr) || n == 0)
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
