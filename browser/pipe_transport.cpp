#include "browser/pipe_transport.h"

#include "base/diagnostic_log.h"
#include "browser/log.h"
#include "browser/pipe_process.h"

#include <vector>

PipeTransport::PipeTransport() : m_process(std::make_unique<PipeProcess>()) {}

PipeTransport::~PipeTransport()
{
    if (std::this_thread::get_id() == m_readerId) {
        // Destroyed by one of its own handlers: nothing can join that thread.
        qCWarning(lcBrowser) << "the pipe of browser" << processId() << "was destroyed on its own reader thread";
        shutdown(0);
        m_reader.detach();
        return;
    }
    shutdown(0);
}

bool PipeTransport::start(const QString &program, const QStringList &args, MessageHandler onMessage, CloseHandler onClose)
{
    if (m_reader.joinable())
        return false;
    m_onMessage = std::move(onMessage);
    m_onClose = std::move(onClose);
    if (!m_process->start(program, args))
        return false;
    m_open = true;
    m_reader = std::thread([this] { readLoop(); });
    return true;
}

qint64 PipeTransport::processId() const
{
    return m_process->processId();
}

QByteArray PipeTransport::standardErrorHead()
{
    return m_process->standardErrorHead();
}

bool PipeTransport::send(std::string_view message, int timeoutMs)
{
    if (!m_open)
        return false;
    std::string framed;
    framed.reserve(message.size() + 1);
    framed.append(message);
    framed.push_back('\0');
    std::lock_guard lock(m_writeMutex);
    if (m_process->write(framed.data(), framed.size(), timeoutMs))
        return true;
    // Part of a message may have gone out; whatever followed it would be
    // read as its continuation, so the pipe takes no more messages.
    qCWarning(lcBrowser) << "writing to the browser" << processId() << "failed within" << timeoutMs << "ms; its pipe takes no more messages";
    m_open = false;
    return false;
}

void PipeTransport::readLoop()
{
    m_readerId = std::this_thread::get_id();
    diagnostics::setThreadName("browser");
    std::vector<char> chunk(256 * 1024);
    std::string pending;
    while (!m_stopReading) {
        std::size_t got = 0;
        const auto r = m_process->read(chunk.data(), chunk.size(), got, 200);
        if (r == PipeProcess::ReadResult::Closed) {
            if (m_process->hasExited())
                qCInfo(lcBrowser) << "the browser" << processId() << "closed its pipe and ended";
            else
                qCInfo(lcBrowser) << "the browser" << processId() << "closed its pipe";
            break;
        }
        if (r == PipeProcess::ReadResult::Idle)
            continue;
        std::size_t start = 0;
        for (std::size_t i = 0; i < got; ++i) {
            if (chunk[i] != '\0')
                continue;
            if (pending.empty()) {
                m_onMessage(std::string(chunk.data() + start, i - start));
            } else {
                pending.append(chunk.data() + start, i - start);
                m_onMessage(std::move(pending));
                pending.clear();
            }
            start = i + 1;
        }
        pending.append(chunk.data() + start, got - start);
    }
    notifyClosed();
}

void PipeTransport::notifyClosed()
{
    m_open = false;
    if (!m_closeNotified.exchange(true) && m_onClose)
        m_onClose();
}

void PipeTransport::shutdown(int graceMs)
{
    if (std::this_thread::get_id() == m_readerId) {
        m_process->kill();
        m_stopReading = true;
        return;
    }
    // The window's thread and an upload job may both close one dead browser:
    // exactly one of them joins the reader, the others wait here until the
    // close is complete.
    std::lock_guard lock(m_shutdownMutex);
    if (!m_reader.joinable())
        return;
    if (graceMs > 0)
        m_process->waitForExit(graceMs);
    m_process->kill();
    m_process->waitForExit(5000);
    m_stopReading = true;
    m_reader.join();
    notifyClosed();
}
