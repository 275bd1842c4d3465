#pragma once

#include "json_lines.h"
#include "knobs.h"
#include "session_store.h"
#include "upload_store.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace studiosim {

// Wakes every sleeping request when the simulator shuts down.
class Stopper final {
public:
    // Returns false when woken by the shutdown.
    bool sleepUntil(std::chrono::steady_clock::time_point when)
    {
        std::unique_lock lock(m_mutex);
        return !m_cv.wait_until(lock, when, [this] { return m_stopping; });
    }
    bool sleepFor(std::chrono::milliseconds ms) { return sleepUntil(std::chrono::steady_clock::now() + ms); }
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stopping = false;
};

// Everything the routes share.
struct SimContext {
    explicit SimContext(const std::filesystem::path &data)
        : dataDir(data),
          sessions(data / "sessions.jsonl"),
          uploads(data / "uploads", data / "covers"),
          published(data / "published.jsonl"),
          notifications(data / "notify.jsonl"),
          requests(data / "requests.jsonl")
    {
    }

    std::filesystem::path dataDir;
    int port = 0;
    Knobs knobs;
    SessionStore sessions;
    UploadStore uploads;
    JsonLinesFile published;
    JsonLinesFile notifications;
    // Every request answered: the client address it came from and whose
    // session it carried, so tests can tell which way each user's browser went.
    JsonLinesFile requests;
    Stopper stopper;
};

} // namespace studiosim
