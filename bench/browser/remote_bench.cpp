// The round trip of one evaluate on the browser's own pipe, over a
// debugging port's WebSocket, and over a Selenium Grid's se:cdp WebSocket,
// one after the other in one run; the pipe is the anchor.
// Usage: remote_bench GRID_URL [CALLS]  (bench/browser/remote_bench.sh starts the Grid)
#include "base/service_config.h"
#include "browser/browser_library.h"
#include "upload/grid_session.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char *const kPage = "data:text/html,<p id=t>hello</p>";
const QStringList kFlags = {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--disable-background-networking",
                            "--disable-component-update", "--disable-sync", "--no-first-run"};

double medianMicros(int count, const std::function<bool()> &op)
{
    for (int i = 0; i < 50; ++i)
        op();
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!op())
            return -1;
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The evaluate median on the browser's first page of ours.
double onFirstPage(BrowserLibrary &lib, int browser, int count)
{
    if (browser <= 0)
        return -1;
    int page = 0;
    for (int p : lib.form_connect_started().pageIds)
        if (lib.browserOfPage(p) == browser)
            page = p;
    for (int i = 0; i < 250 && lib.form_dom_isexist(page, "#t") != 1; ++i)
        QThread::msleep(20);
    const double us = medianMicros(count, [&] { return lib.evaluateScript(page, "1") == QLatin1String("1"); });
    lib.form_browser_close(browser);
    return us;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString gridUrl = app.arguments().value(1);
    const int count = app.arguments().value(2, QStringLiteral("1000")).toInt();
    BrowserLibrary lib;
    if (!lib.form_global_init(QStringLiteral("/usr/bin/chromium"))) {
        std::fprintf(stderr, "no Chromium\n");
        return 1;
    }

    QTemporaryDir pipeProfile;
    BrowserStartOptions options;
    options.profileDirectory = pipeProfile.path();
    options.headless = true;
    options.extraArgs = kFlags;
    const double pipeUs = onFirstPage(lib, lib.form_browser_start(QString::fromLatin1(kPage), options), count);

    QTemporaryDir portProfile;
    QProcess chromium;
    chromium.start(QStringLiteral("chromium"), kFlags + QStringList{"--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
                                                                    "--user-data-dir=" + portProfile.path(), "about:blank"});
    QString port;
    for (int i = 0; i < 200 && port.isEmpty(); ++i) {
        QThread::msleep(50);
        QFile file(portProfile.path() + "/DevToolsActivePort");
        if (file.open(QIODevice::ReadOnly))
            port = QString::fromLatin1(file.readLine()).trimmed();
    }
    RemoteBrowser endpoint;
    endpoint.identity = QStringLiteral("bench-endpoint");
    endpoint.webSocketUrl = devToolsWebSocketOf("http://127.0.0.1:" + port, nullptr);
    const double portUs = onFirstPage(lib, lib.form_browser_attach(QString::fromLatin1(kPage), endpoint, {}), count);
    chromium.kill();
    chromium.waitForFinished(5000);

    ServiceConfig config;
    config.gridUrl = gridUrl;
    GridSession grid(config);
    QTemporaryDir gridProfile;
    double gridUs = -1;
    QString why;
    if (grid.start(QStringLiteral("a"), kFlags + QStringList{"--user-data-dir=" + gridProfile.path()}, &why)) {
        RemoteBrowser remote;
        remote.identity = QStringLiteral("bench-grid");
        remote.webSocketUrl = grid.cdpUrl();
        remote.headers = grid.headers();
        remote.ours = true;
        gridUs = onFirstPage(lib, lib.form_browser_attach(QString::fromLatin1(kPage), remote, {}), count);
        grid.end();
    } else {
        std::fprintf(stderr, "no Grid session: %s\n", qPrintable(why));
    }
    if (pipeUs <= 0 || portUs <= 0 || gridUs <= 0) {
        std::fprintf(stderr, "a measurement failed: pipe %.1f, port %.1f, grid %.1f\n", pipeUs, portUs, gridUs);
        return 1;
    }
    std::printf("median round trip of one evaluate over %d calls, microseconds\n", count);
    std::printf("%-34s %10s %8s\n", "transport", "us", "vs pipe");
    std::printf("%-34s %10.1f %7.2fx\n", "the browser's own pipe (anchor)", pipeUs, 1.0);
    std::printf("%-34s %10.1f %7.2fx\n", "debugging port's WebSocket", portUs, portUs / pipeUs);
    std::printf("%-34s %10.1f %7.2fx\n", "Selenium Grid's se:cdp WebSocket", gridUs, gridUs / pipeUs);
    return 0;
}
