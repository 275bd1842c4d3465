#include "upload/background_hash.h"

#include "upload/delay_wait.h"
#include "upload/publish_journal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct BackgroundHash::State {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    QByteArray hex;
    std::atomic<bool> unwanted{false};
};

BackgroundHash::BackgroundHash(const QString &path) : m_state(std::make_shared<State>())
{
    // Detached: the state lives as long as whichever of the two needs it.
    std::thread([state = m_state, path] {
        const QByteArray hex = sha256OfFile(path, &state->unwanted);
        std::lock_guard lock(state->mutex);
        state->hex = hex;
        state->done = true;
        state->finished.notify_all();
    }).detach();
}

BackgroundHash::~BackgroundHash()
{
    m_state->unwanted = true;
}

QByteArray BackgroundHash::result()
{
    std::unique_lock lock(m_state->mutex);
    while (!m_state->finished.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_state->done; })) {
        lock.unlock();
        checkStop();
        lock.lock();
    }
    return m_state->hex;
}
