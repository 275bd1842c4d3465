#pragma once

#include <QByteArray>

#include <functional>
#include <string>
#include <string_view>

// Carries the DevTools protocol's messages to one browser and back: the
// browser's own pipe, or a WebSocket to a browser that runs elsewhere. A
// reader thread of the transport delivers every message, then exactly one
// close notice when the browser or the connection goes away.
class CdpTransport {
public:
    using MessageHandler = std::function<void(std::string &&message)>;
    using CloseHandler = std::function<void()>;

    virtual ~CdpTransport() = default;

    virtual bool send(std::string_view message, int timeoutMs = 5000) = 0;
    virtual bool isOpen() const = 0;
    // The browser's process id when it is our child (0 otherwise).
    virtual qint64 processId() const { return 0; }
    // The first lines the browser wrote to its standard error (our child only).
    virtual QByteArray standardErrorHead() { return {}; }
    // Ends the connection; the close notice has been delivered when this
    // returns (on the reader thread itself the rest of it is left to the next
    // caller elsewhere). A pipe's browser is ended too, after graceMs; a
    // WebSocket's browser is never ended by this.
    virtual void shutdown(int graceMs) = 0;
};
