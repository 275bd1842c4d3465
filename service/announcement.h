#pragma once

#include "base/service_config.h"

#include <QString>

#include <thread>

class ServiceView;

// The start window's announcement: server A's text in the status bar and one
// of its pictures, with the address the picture leads to.
class Announcement final {
public:
    Announcement(ServiceView &view, const ServiceConfig &config);
    ~Announcement();
    Announcement(const Announcement &) = delete;
    Announcement &operator=(const Announcement &) = delete;

    // Runs showAnnouncement on a thread of its own; once per object.
    void start();
    void wait();

    void showAnnouncement();

    // Pictures ad1.gif .. ad17.gif are served.
    static constexpr int kPictureCount = 17;

private:
    ServiceView &m_view;
    QString m_rootA;
    std::thread m_thread;
};
