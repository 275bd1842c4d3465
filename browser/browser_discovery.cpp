#include "browser/browser_discovery.h"

#include "browser/log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cmath>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace browserdiscovery {

QStringList installCandidates()
{
#ifdef Q_OS_WIN
    QStringList roots;
    for (const char *var : {"ProgramFiles", "ProgramFiles(x86)", "LocalAppData", "ProgramW6432"}) {
        const QString root = qEnvironmentVariable(var);
        if (!root.isEmpty() && !roots.contains(root))
            roots << root;
    }
    QStringList out;
    for (const char *relative : {"/Google/Chrome/Application/chrome.exe", "/Microsoft/Edge/Application/msedge.exe",
                                 "/Chromium/Application/chrome.exe"}) {
        for (const QString &root : roots)
            out << QDir::cleanPath(root + QLatin1String(relative));
    }
    return out;
#else
    return {QStringLiteral("/usr/bin/google-chrome"), QStringLiteral("/usr/bin/google-chrome-stable"),
            QStringLiteral("/opt/google/chrome/chrome"), QStringLiteral("/usr/bin/microsoft-edge"),
            QStringLiteral("/usr/bin/microsoft-edge-stable"), QStringLiteral("/opt/microsoft/msedge/msedge"),
            QStringLiteral("/usr/bin/chromium"), QStringLiteral("/usr/bin/chromium-browser"),
            QStringLiteral("/snap/bin/chromium")};
#endif
}

QStringList pathNames()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("chrome"), QStringLiteral("msedge")};
#else
    return {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable"), QStringLiteral("microsoft-edge"),
            QStringLiteral("chromium"), QStringLiteral("chromium-browser")};
#endif
}

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.isExecutable();
}

QString findInstalledBrowser()
{
    for (const QString &candidate : installCandidates()) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    for (const QString &name : pathNames()) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

namespace {

// "683,614.4" -> "683,614": the browser wants whole pixels.
QString wholePixels(const QString &pair)
{
    const QStringList parts = pair.split(QLatin1Char(','));
    if (parts.size() != 2)
        return {};
    bool okX = false, okY = false;
    const double x = parts[0].trimmed().toDouble(&okX);
    const double y = parts[1].trimmed().toDouble(&okY);
    if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y) || std::abs(x) > 1e6 || std::abs(y) > 1e6) {
        qCWarning(lcBrowser) << "the window size or position" << pair << "is not two numbers; the browser picks its own";
        return {};
    }
    return QStringLiteral("%1,%2").arg(static_cast<long>(std::floor(x))).arg(static_cast<long>(std::floor(y)));
}

bool runningAsRoot()
{
#ifdef Q_OS_WIN
    return false;
#else
    return ::geteuid() == 0;
#endif
}

} // namespace

namespace {

// What any browser of ours gets, wherever it runs: size, place, the flags
// that keep a page in the background working, headless, the proxy.
QStringList commonArguments(const BrowserStartOptions &options)
{
    QStringList args;
    const QString size = wholePixels(options.windowSize);
    if (!size.isEmpty())
        args << QStringLiteral("--window-size=") + size;
    const QString position = wholePixels(options.windowPosition);
    if (!position.isEmpty())
        args << QStringLiteral("--window-position=") + position;
    args << QStringLiteral("--no-first-run") << QStringLiteral("--no-default-browser-check");
    // The studio's page works while the user looks at another tab or window:
    // its timers keep their pace and a covered window still paints.
    args << QStringLiteral("--disable-backgrounding-occluded-windows") << QStringLiteral("--disable-renderer-backgrounding")
         << QStringLiteral("--disable-background-timer-throttling");
    if (options.headless)
        args << QStringLiteral("--headless=new");
    if (!options.proxyServer.isEmpty()) {
        // Scheme, host and port only: the credentials go over the protocol.
        // WebRTC would otherwise reach out past the proxy with the real address.
        args << QStringLiteral("--proxy-server=") + options.proxyServer
             << QStringLiteral("--force-webrtc-ip-handling-policy=disable_non_proxied_udp");
    }
    return args;
}

QStringList filteredExtras(const BrowserStartOptions &options)
{
    QStringList args;
    for (const QString &extra : options.extraArgs) {
        // The pipe (or the remote's own connection) is the only way in: never a debugging port.
        if (!extra.startsWith(QStringLiteral("--remote-debugging-")))
            args << extra;
    }
    return args;
}

} // namespace

QStringList launchArguments(const BrowserStartOptions &options, const QString &url)
{
    QStringList args;
    if (!options.profileDirectory.isEmpty())
        args << QStringLiteral("--user-data-dir=") + QDir::toNativeSeparators(QDir(options.profileDirectory).absolutePath());
    args << commonArguments(options);
    // Chromium refuses to start as root with its sandbox on.
    if (runningAsRoot() && !options.extraArgs.contains(QStringLiteral("--no-sandbox")))
        args << QStringLiteral("--no-sandbox");
    args << filteredExtras(options);
    args << (url.isEmpty() ? QStringLiteral("about:blank") : url);
    return args;
}

QStringList remoteArguments(const BrowserStartOptions &options)
{
    QStringList args;
    // A path on the machine the browser runs on: taken as it stands.
    if (!options.profileDirectory.isEmpty())
        args << QStringLiteral("--user-data-dir=") + options.profileDirectory;
    args << commonArguments(options) << filteredExtras(options);
    return args;
}

} // namespace browserdiscovery
