#pragma once

#include "browser/browser_library.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <thread>

namespace httplib {
class Server;
}

// A loopback HTTP server with the pages the browser tests drive.
class TestPageServer final {
public:
    TestPageServer();
    ~TestPageServer();
    QString url(const char *path) const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

// Options for a quiet headless browser on a fresh profile inside dir.
BrowserStartOptions headlessOptions(const QTemporaryDir &dir, const char *name = "profile");
