#pragma once

#include "browser/cdp_transport.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class PipeProcess;

// Launches the browser with its DevTools pipe and frames messages on it: each
// message is one JSON text followed by a NUL byte. A reader thread delivers
// every message, then exactly one close notice when the browser goes away.
class PipeTransport final : public CdpTransport {
public:
    PipeTransport();
    ~PipeTransport() override; // kills a browser still running and joins the reader
    PipeTransport(const PipeTransport &) = delete;
    PipeTransport &operator=(const PipeTransport &) = delete;

    // Handlers run on the reader thread.
    bool start(const QString &program, const QStringList &args, MessageHandler onMessage, CloseHandler onClose);
    bool send(std::string_view message, int timeoutMs = 5000) override;
    bool isOpen() const override { return m_open.load(); }
    qint64 processId() const override;
    // The first lines the browser wrote to its standard error.
    QByteArray standardErrorHead() override;

    // Waits for the browser to end by itself, then kills it; the close notice
    // has been delivered when this returns. Any number of threads may call it
    // at once: one does the work, the others return when it is done. On the
    // reader thread itself it only ends the browser (a thread cannot wait
    // for itself); the next caller elsewhere finishes the close.
    void shutdown(int graceMs) override;

private:
    void readLoop();
    void notifyClosed();

    std::unique_ptr<PipeProcess> m_process;
    MessageHandler m_onMessage;
    CloseHandler m_onClose;
    std::thread m_reader;
    std::atomic<std::thread::id> m_readerId; // set by the reader thread first thing
    std::mutex m_writeMutex;
    std::mutex m_shutdownMutex; // held by the one thread that ends the browser and joins the reader
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closeNotified{false};
    std::atomic<bool> m_stopReading{false};
};
