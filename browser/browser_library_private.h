#pragma once

#include "browser/browser_library.h"
#include "browser/cdp_connection.h"
#include "browser/proxy_auth.h"

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// One browser process we started.
struct BrowserEntry {
    int id = 0;
    QString profile;
    std::unique_ptr<CdpConnection> connection;
    std::atomic<bool> alive{true};
    std::atomic<bool> autoDialogs{false};
    std::atomic<bool> started{false}; // its start page has been reported
    std::string startUrl;             // set before the launch, read by the reader thread
    std::unique_ptr<ProxyAuth> proxyAuth; // set before the launch when it runs behind a proxy
    // Attached over a WebSocket rather than started by us: only the pages
    // in ownTargets (ours, and the pop-ups they open) are registered.
    bool remote = false;
    std::set<std::string> ownTargets; // guarded by BrowserLibraryPrivate::m_mutex
};

// One page (tab) of a browser; attached to a flat session on first use.
struct PageEntry {
    int id = 0;
    std::string targetId;
    std::shared_ptr<BrowserEntry> browser;
    std::mutex attachMutex;
    std::string sessionId; // guarded by BrowserLibraryPrivate::m_mutex
    bool alive = true;     // guarded by BrowserLibraryPrivate::m_mutex
    bool showedStartUrl = false; // the target showed its browser's start URL (same guard)
};

// A page ready for calls: its browser and session.
struct PageRef {
    std::shared_ptr<BrowserEntry> browser;
    std::shared_ptr<PageEntry> page;
    std::string sessionId;
};

// The state behind BrowserLibrary: tables of browsers and pages, launching, and
// the protocol events that keep the tables true.
class BrowserLibraryPrivate final {
public:
    ~BrowserLibraryPrivate();

    int launch(const QString &startUrl, const BrowserStartOptions &options);
    int attachRemote(const QString &startUrl, const RemoteBrowser &remote, const BrowserStartOptions &options);
    int openPageIn(const std::shared_ptr<BrowserEntry> &browser, const QString &url);
    bool resolve(int pageId, PageRef &ref, bool needSession);
    std::shared_ptr<PageEntry> page(int pageId);
    std::shared_ptr<BrowserEntry> browser(int browserId);
    void closeBrowser(const std::shared_ptr<BrowserEntry> &browser, int graceMs);
    std::shared_ptr<BrowserEntry> browserWithProfile(const QString &profile);
    std::vector<std::shared_ptr<BrowserEntry>> browsers();
    std::vector<std::shared_ptr<PageEntry>> pages();

    // Runtime.evaluate on the page; ok only when no exception was thrown.
    CdpReply evaluate(const PageRef &ref, const std::string &expression, bool byValue = true, bool awaitPromise = false);
    static const rapidjson::Value *evaluatedValue(const CdpReply &reply);

    void report(int pageId, int browserId, int event);

    std::mutex m_mutex;
    QString m_browserPath;
    PageEventCallback m_onPageEvent;
    std::atomic<int> m_callTimeoutMs{10000};
    int m_launchTimeoutMs = 30000;

    // Ends the entries of browsers that went away by themselves: their
    // reader threads joined, pipes closed, processes reaped.
    void reapDead();

private:
    void onEvent(BrowserEntry *browser, std::string_view method, const rapidjson::Value &params, const std::string &sessionId);
    void onClosed(BrowserEntry *browser);
    std::shared_ptr<PageEntry> registerPage(BrowserEntry *browser, const std::string &targetId, bool &added);
    // A new entry with its event and close handlers, in the table.
    std::shared_ptr<BrowserEntry> newEntry(const QString &profile, const std::function<void(BrowserEntry &)> &setUp);
    int waitForFirstPage(const std::shared_ptr<BrowserEntry> &browser, const QString &url);
    bool attach(const std::shared_ptr<PageEntry> &page, std::string &sessionId);
    // Browser-wide request interception that answers the proxy's challenges.
    bool enableProxyAuth(BrowserEntry &browser);
    bool navigate(int pageId, const QString &url);

    std::map<int, std::shared_ptr<BrowserEntry>> m_browsers;
    std::map<int, std::shared_ptr<PageEntry>> m_pages;
    int m_nextBrowserId = 1;
    int m_nextPageId = 1;
    int m_lastMissingPage = 0; // the last unknown or closed page asked for (logged once)
};
