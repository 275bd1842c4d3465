#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// A video's SHA-256, worked out on a thread of its own while its upload
// runs. Only the one who asks for the result waits, and that wait ends with
// a Stop; an attempt that ends first lets the hash go, and the thread stops
// at its next block (on a share that hangs, whenever the read returns, with
// nobody waiting for it).
class BackgroundHash final {
public:
    explicit BackgroundHash(const QString &path);
    ~BackgroundHash();
    BackgroundHash(const BackgroundHash &) = delete;
    BackgroundHash &operator=(const BackgroundHash &) = delete;

    // The hash in lower-case hex, empty when the file could not be read.
    // On a job thread a Stop ends the wait (JobStopped).
    QByteArray result();

private:
    struct State;
    std::shared_ptr<State> m_state;
};
