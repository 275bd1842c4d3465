#pragma once

#include "base/service_config.h"
#include "service/service_wait.h"

#include <QString>

#include <thread>

class ServiceView;

// Shows the current and the latest version in the main window's status bar,
// refreshed every minute for as long as the program runs.
class VersionWatch final {
public:
    VersionWatch(ServiceView &view, const ServiceConfig &config);
    // Ends the loop and waits for its thread.
    ~VersionWatch();
    VersionWatch(const VersionWatch &) = delete;
    VersionWatch &operator=(const VersionWatch &) = delete;

    // Runs watchLatestVersion on a thread of its own; once per object.
    void start();
    void stop();

    // The loop; returns only after stop().
    void watchLatestVersion();
    // One look at server A: "当前：3.0   最新版：" and its version.
    QString latestVersionText() const;

private:
    ServiceView &m_view;
    QString m_rootA;
    ServiceStop m_stop;
    std::thread m_thread;
};
