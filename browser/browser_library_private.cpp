#include "browser/browser_library_private.h"

#include "browser/browser_discovery.h"
#include "browser/cdp_params.h"
#include "browser/log.h"

#include <QDir>

#include <chrono>
#include <functional>
#include <thread>

namespace {

std::string member(const rapidjson::Value &object, const char *name)
{
    if (!object.IsObject())
        return {};
    const auto it = object.FindMember(name);
    return it != object.MemberEnd() && it->value.IsString() ? std::string(it->value.GetString(), it->value.GetStringLength())
                                                            : std::string();
}

const rapidjson::Value *child(const rapidjson::Value &object, const char *name)
{
    if (!object.IsObject())
        return nullptr;
    const auto it = object.FindMember(name);
    return it != object.MemberEnd() ? &it->value : nullptr;
}

// The browser's own words on why it did not come up: its first lines.
QString errorHead(CdpConnection &connection)
{
    const QByteArray head = connection.standardErrorHead().trimmed();
    if (head.isEmpty())
        return QStringLiteral("(nothing on its standard error)");
    QStringList lines = QString::fromLocal8Bit(head).split(u'\n');
    if (lines.size() > 8)
        lines = lines.mid(0, 8);
    return QStringLiteral("its standard error began: ") + lines.join(QStringLiteral(" | "));
}

} // namespace

BrowserLibraryPrivate::~BrowserLibraryPrivate()
{
    for (const auto &browser : browsers())
        closeBrowser(browser, 5000);
}

std::shared_ptr<BrowserEntry> BrowserLibraryPrivate::browserWithProfile(const QString &profile)
{
    std::lock_guard lock(m_mutex);
    for (const auto &[id, browser] : m_browsers) {
        if (browser->alive && !profile.isEmpty() && browser->profile == profile)
            return browser;
    }
    return nullptr;
}

std::vector<std::shared_ptr<BrowserEntry>> BrowserLibraryPrivate::browsers()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<BrowserEntry>> out;
    for (const auto &[id, browser] : m_browsers)
        out.push_back(browser);
    return out;
}

std::vector<std::shared_ptr<PageEntry>> BrowserLibraryPrivate::pages()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<PageEntry>> out;
    for (const auto &[id, page] : m_pages)
        out.push_back(page);
    return out;
}

std::shared_ptr<PageEntry> BrowserLibraryPrivate::page(int pageId)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_pages.find(pageId);
    return it == m_pages.end() ? nullptr : it->second;
}

std::shared_ptr<BrowserEntry> BrowserLibraryPrivate::browser(int browserId)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_browsers.find(browserId);
    return it == m_browsers.end() ? nullptr : it->second;
}

void BrowserLibraryPrivate::report(int pageId, int browserId, int event)
{
    PageEventCallback callback;
    {
        std::lock_guard lock(m_mutex);
        callback = m_onPageEvent;
    }
    if (callback)
        callback(pageId, browserId, event);
}

int BrowserLibraryPrivate::launch(const QString &startUrl, const BrowserStartOptions &options)
{
    QString program;
    {
        std::lock_guard lock(m_mutex);
        program = m_browserPath;
    }
    if (program.isEmpty()) {
        qCWarning(lcBrowser) << "no browser to start: none was found or initialised";
        return 0;
    }
    if (startUrl.startsWith(QLatin1Char('-'))) {
        qCWarning(lcBrowser) << "refused a start address that reads as a browser option:" << startUrl;
        return 0;
    }
    const QString profile = options.profileDirectory.isEmpty() ? QString() : QDir(options.profileDirectory).absolutePath();
    if (!profile.isEmpty()) {
        // A second process on the same profile would hand over to the first and quit.
        if (const auto running = browserWithProfile(profile)) {
            if (openPageIn(running, startUrl) > 0)
                return running->id;
            // It died a moment ago (killed, crashed) and its entry has not
            // heard yet: it goes, and a browser starts afresh.
            qCWarning(lcBrowser) << "the browser already running on" << profile << "opened no page for" << startUrl << "; it is replaced";
            closeBrowser(running, 0);
        }
        if (!QDir().mkpath(profile)) {
            qCWarning(lcBrowser) << "cannot create the browser profile folder" << profile;
            return 0;
        }
    }
    reapDead();
    // Behind a proxy the browser starts on a blank page: its first request
    // waits until the proxy's challenges are ours to answer.
    const bool viaProxy = !options.proxyServer.isEmpty();
    const QString firstUrl = viaProxy ? QStringLiteral("about:blank") : startUrl;
    const auto browser = newEntry(profile, [&](BrowserEntry &entry) {
        entry.startUrl = firstUrl.toStdString();
        if (viaProxy)
            entry.proxyAuth = std::make_unique<ProxyAuth>(options.proxyUser, options.proxyPassword);
    });
    const QStringList arguments = browserdiscovery::launchArguments(options, firstUrl);
    if (!browser->connection->open(program, arguments)) {
        qCWarning(lcBrowser).noquote() << "the browser did not start:" << program << arguments.join(u' ') << "--" << errorHead(*browser->connection);
        closeBrowser(browser, 0);
        return 0;
    }
    qCInfo(lcBrowser).noquote() << "started browser" << browser->id << "process" << browser->connection->processId() << "on" << profile
                                << (viaProxy ? QStringLiteral("through the proxy ") + options.proxyServer : QString());
    if (viaProxy && !enableProxyAuth(*browser)) {
        closeBrowser(browser, 0);
        return 0;
    }
    const int first = waitForFirstPage(browser, firstUrl);
    if (first <= 0) {
        qCWarning(lcBrowser).noquote() << "the browser showed no page within" << m_launchTimeoutMs << "ms:" << program << arguments.join(u' ')
                                       << "--" << (browser->alive ? QStringLiteral("it still runs; ") : QStringLiteral("it ended; "))
                                              + errorHead(*browser->connection);
        closeBrowser(browser, 0);
        return 0;
    }
    if (viaProxy && !navigate(first, startUrl))
        qCWarning(lcBrowser).noquote() << "the browser behind the proxy" << options.proxyServer << "did not go to" << startUrl;
    return browser->id;
}

std::shared_ptr<BrowserEntry> BrowserLibraryPrivate::newEntry(const QString &profile, const std::function<void(BrowserEntry &)> &setUp)
{
    auto browser = std::make_shared<BrowserEntry>();
    browser->profile = profile;
    if (setUp)
        setUp(*browser);
    browser->connection = std::make_unique<CdpConnection>();
    BrowserEntry *raw = browser.get();
    browser->connection->setEventHandler(
        [this, raw](std::string_view method, const rapidjson::Value &params, const std::string &sessionId) {
            onEvent(raw, method, params, sessionId);
        });
    browser->connection->setCloseHandler([this, raw] { onClosed(raw); });
    std::lock_guard lock(m_mutex);
    browser->id = m_nextBrowserId++;
    m_browsers[browser->id] = browser;
    return browser;
}

int BrowserLibraryPrivate::attachRemote(const QString &startUrl, const RemoteBrowser &remote, const BrowserStartOptions &options)
{
    if (remote.identity.isEmpty()) {
        qCWarning(lcBrowser) << "refused to attach to a browser with no identity";
        return 0;
    }
    if (const auto running = browserWithProfile(remote.identity)) {
        if (openPageIn(running, startUrl) > 0)
            return running->id;
        qCWarning(lcBrowser).noquote() << "the browser attached for" << remote.identity << "opened no page; it is attached afresh";
        closeBrowser(running, 0);
    }
    reapDead();
    const bool viaProxy = !options.proxyServer.isEmpty();
    // The proxy's challenges are ours to answer before the first request.
    const QString firstUrl = viaProxy ? QStringLiteral("about:blank") : startUrl;
    const auto browser = newEntry(remote.identity, [&](BrowserEntry &entry) {
        entry.remote = true;
        if (viaProxy)
            entry.proxyAuth = std::make_unique<ProxyAuth>(options.proxyUser, options.proxyPassword);
    });
    QString why;
    if (!browser->connection->attach(remote.webSocketUrl, remote.headers, m_launchTimeoutMs, &why)) {
        qCWarning(lcBrowser).noquote() << "cannot attach to the browser for" << remote.identity << "--" << why;
        closeBrowser(browser, 0);
        return 0;
    }
    browser->connection->setEndsBrowserOnClose(remote.ours);
    qCInfo(lcBrowser).noquote() << "attached browser" << browser->id << "for" << remote.identity
                                << (viaProxy ? QStringLiteral("through the proxy ") + options.proxyServer : QString());
    if (viaProxy && !enableProxyAuth(*browser)) {
        closeBrowser(browser, 0);
        return 0;
    }
    if (!browser->connection->call("Target.setDiscoverTargets", R"({"discover":true})", {}, m_launchTimeoutMs).ok) {
        qCWarning(lcBrowser).noquote() << "the browser attached for" << remote.identity << "does not report its pages";
        closeBrowser(browser, 0);
        return 0;
    }
    browser->started = true;
    const int first = openPageIn(browser, firstUrl);
    if (first <= 0) {
        closeBrowser(browser, 0);
        return 0;
    }
    if (viaProxy && !navigate(first, startUrl))
        qCWarning(lcBrowser).noquote() << "the attached browser behind the proxy" << options.proxyServer << "did not go to" << startUrl;
    return browser->id;
}

bool BrowserLibraryPrivate::enableProxyAuth(BrowserEntry &browser)
{
    // Browser-wide, so that every page, pop-up and worker of this browser
    // is covered from its first request on.
    const CdpReply reply = browser.connection->call("Fetch.enable", ProxyAuth::enableParams(), {}, m_launchTimeoutMs);
    if (!reply.ok)
        qCWarning(lcBrowser).noquote() << "the browser does not let its proxy's challenges be answered; it is closed --"
                                       << QString::fromStdString(reply.error);
    return reply.ok;
}

bool BrowserLibraryPrivate::navigate(int pageId, const QString &url)
{
    PageRef ref;
    if (!resolve(pageId, ref, true))
        return false;
    return ref.browser->connection->call("Page.navigate", CdpParams().text("url", url.toStdString()).json(), ref.sessionId, m_callTimeoutMs).ok;
}

// The start page comes from the command line; discovery reports it as a
// target. A browser that shows no page soon gets one made.
int BrowserLibraryPrivate::waitForFirstPage(const std::shared_ptr<BrowserEntry> &browser, const QString &url)
{
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(m_launchTimeoutMs);
    const CdpReply discover = browser->connection->call("Target.setDiscoverTargets", R"({"discover":true})", {}, m_launchTimeoutMs);
    if (!discover.ok)
        return 0;
    bool created = false;
    while (browser->alive && std::chrono::steady_clock::now() < deadline) {
        // The page showing the start address: a profile that restores its
        // last session opens other tabs too. Any page will do only when none
        // showed it after a while (a start address that redirected at once).
        int first = 0;
        const bool anyWillDo = std::chrono::steady_clock::now() - start > std::chrono::seconds(3);
        {
            std::lock_guard lock(m_mutex);
            for (const auto &[id, page] : m_pages) {
                if (page->browser == browser && page->alive && page->showedStartUrl) {
                    first = id;
                    break;
                }
            }
            for (auto it = m_pages.begin(); first == 0 && anyWillDo && it != m_pages.end(); ++it) {
                if (it->second->browser == browser && it->second->alive)
                    first = it->first;
            }
        }
        if (first > 0) {
            browser->started = true;
            report(first, browser->id, PageOpened);
            return first;
        }
        if (!created && std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) {
            created = true;
            browser->connection->call("Target.createTarget", CdpParams().text("url", url.toStdString()).json());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

int BrowserLibraryPrivate::openPageIn(const std::shared_ptr<BrowserEntry> &browser, const QString &url)
{
    const QString target = url.isEmpty() ? QStringLiteral("about:blank") : url;
    const CdpReply reply = browser->connection->call("Target.createTarget", CdpParams().text("url", target.toStdString()).json(),
                                                     {}, m_callTimeoutMs);
    const std::string targetId = member(reply.result(), "targetId");
    if (!reply.ok || targetId.empty()) {
        qCWarning(lcBrowser) << "the browser made no page for" << target;
        return 0;
    }
    if (browser->remote) {
        std::lock_guard lock(m_mutex);
        browser->ownTargets.insert(targetId);
    }
    bool added = false;
    const auto page = registerPage(browser.get(), targetId, added);
    if (!page)
        return 0;
    if (added) // else the target event came first and reported it
        report(page->id, browser->id, PageOpened);
    return page->id;
}

std::shared_ptr<PageEntry> BrowserLibraryPrivate::registerPage(BrowserEntry *browser, const std::string &targetId, bool &added)
{
    std::lock_guard lock(m_mutex);
    added = false;
    for (const auto &[id, page] : m_pages) {
        if (page->browser.get() == browser && page->targetId == targetId)
            return page;
    }
    const auto owner = m_browsers.find(browser->id);
    if (owner == m_browsers.end() || !browser->alive)
        return nullptr;
    if (browser->remote && !browser->ownTargets.count(targetId))
        return nullptr; // the user's own tab of a browser we attached to
    auto page = std::make_shared<PageEntry>();
    page->id = m_nextPageId++;
    page->targetId = targetId;
    page->browser = owner->second;
    m_pages[page->id] = page;
    added = true;
    return page;
}

// Runs on the browser's reader thread: keep the tables true, answer dialogs.
void BrowserLibraryPrivate::onEvent(BrowserEntry *browser, std::string_view method, const rapidjson::Value &params,
                                    const std::string &sessionId)
{
    if (browser->proxyAuth && method == "Fetch.requestPaused") {
        // Paused only so that a challenge reaches us: on at once.
        browser->connection->post("Fetch.continueRequest", ProxyAuth::continueParams(member(params, "requestId")), sessionId);
        return;
    }
    if (browser->proxyAuth && method == "Fetch.authRequired") {
        const rapidjson::Value *challenge = child(params, "authChallenge");
        const std::string source = challenge ? member(*challenge, "source") : std::string();
        browser->connection->post("Fetch.continueWithAuth", browser->proxyAuth->answer(member(params, "requestId"), source), sessionId);
        return;
    }
    if (method == "Page.javascriptDialogOpening") {
        if (browser->autoDialogs)
            browser->connection->post("Page.handleJavaScriptDialog", R"({"accept":true})", sessionId);
        return;
    }
    if (method == "Target.targetCreated" || method == "Target.targetInfoChanged") {
        const rapidjson::Value *info = child(params, "targetInfo");
        if (!info || member(*info, "type") != "page")
            return;
        if (browser->remote) {
            // A pop-up of one of our pages is ours too.
            std::lock_guard lock(m_mutex);
            const std::string opener = member(*info, "openerId");
            if (!opener.empty() && browser->ownTargets.count(opener))
                browser->ownTargets.insert(member(*info, "targetId"));
        }
        bool added = false;
        const auto page = registerPage(browser, member(*info, "targetId"), added);
        if (page && !browser->startUrl.empty() && member(*info, "url") == browser->startUrl) {
            std::lock_guard lock(m_mutex);
            page->showedStartUrl = true;
        }
        if (page && added && browser->started)
            report(page->id, browser->id, PageOpened);
        return;
    }
    if (method == "Target.detachedFromTarget") {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, page] : m_pages) {
            if (page->browser.get() == browser && page->sessionId == member(params, "sessionId"))
                page->sessionId.clear();
        }
        return;
    }
    if (method != "Target.targetDestroyed" && method != "Target.targetCrashed")
        return;
    const std::string targetId = member(params, "targetId");
    int closed = 0;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, page] : m_pages) {
            if (page->browser.get() == browser && page->targetId == targetId && page->alive) {
                page->alive = false;
                closed = id;
            }
        }
    }
    if (closed > 0)
        report(closed, browser->id, PageClosed);
}

void BrowserLibraryPrivate::onClosed(BrowserEntry *browser)
{
    browser->alive = false;
    std::vector<int> closed;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, page] : m_pages) {
            if (page->browser.get() == browser && page->alive) {
                page->alive = false;
                closed.push_back(id);
            }
        }
    }
    for (int id : closed)
        report(id, browser->id, PageClosed);
}

void BrowserLibraryPrivate::reapDead()
{
    std::vector<std::shared_ptr<BrowserEntry>> dead;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, browser] : m_browsers) {
            if (!browser->alive && browser->started)
                dead.push_back(browser);
        }
    }
    for (const auto &browser : dead) {
        qCInfo(lcBrowser) << "browser" << browser->id << "went away; its entry is removed";
        closeBrowser(browser, 0);
    }
}

void BrowserLibraryPrivate::closeBrowser(const std::shared_ptr<BrowserEntry> &browser, int graceMs)
{
    if (browser->remote && browser->alive) {
        // Somebody else's browser keeps running; only our own pages close.
        std::set<std::string> own;
        {
            std::lock_guard lock(m_mutex);
            own = browser->ownTargets;
        }
        for (const std::string &target : own)
            browser->connection->call("Target.closeTarget", CdpParams().text("targetId", target).json(), {}, 2000);
    }
    browser->connection->close(graceMs);
    browser->alive = false;
    std::lock_guard lock(m_mutex);
    m_browsers.erase(browser->id);
    for (auto it = m_pages.begin(); it != m_pages.end();) {
        if (it->second->browser == browser)
            it = m_pages.erase(it);
        else
            ++it;
    }
}

bool BrowserLibraryPrivate::attach(const std::shared_ptr<PageEntry> &page, std::string &sessionId)
{
    std::lock_guard attachLock(page->attachMutex);
    {
        std::lock_guard lock(m_mutex);
        if (!page->sessionId.empty()) {
            sessionId = page->sessionId;
            return true;
        }
    }
    BrowserEntry &browser = *page->browser;
    const CdpReply reply = browser.connection->call(
        "Target.attachToTarget", CdpParams().text("targetId", page->targetId).flag("flatten", true).json(), {}, m_callTimeoutMs);
    sessionId = member(reply.result(), "sessionId");
    if (!reply.ok || sessionId.empty()) {
        qCWarning(lcBrowser) << "cannot attach to page" << page->id;
        return false;
    }
    if (browser.autoDialogs)
        browser.connection->call("Page.enable", {}, sessionId, m_callTimeoutMs);
    // A click on a file input must never leave a native file chooser open on
    // an unattended desktop; files go in through DOM.setFileInputFiles.
    browser.connection->call("Page.setInterceptFileChooserDialog", CdpParams().flag("enabled", true).json(), sessionId, m_callTimeoutMs);
    std::lock_guard lock(m_mutex);
    page->sessionId = sessionId;
    return true;
}

bool BrowserLibraryPrivate::resolve(int pageId, PageRef &ref, bool needSession)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_pages.find(pageId);
        if (it == m_pages.end() || !it->second->alive || !it->second->browser->alive) {
            // Polls ask again and again; the first time is worth a line.
            if (pageId != m_lastMissingPage) {
                m_lastMissingPage = pageId;
                qCInfo(lcBrowser) << "page" << pageId << (it == m_pages.end() ? "is unknown" : "is closed");
            }
            return false;
        }
        ref.page = it->second;
        ref.browser = it->second->browser;
        ref.sessionId = it->second->sessionId;
    }
    if (!needSession || !ref.sessionId.empty())
        return true;
    return attach(ref.page, ref.sessionId);
}

CdpReply BrowserLibraryPrivate::evaluate(const PageRef &ref, const std::string &expression, bool byValue, bool awaitPromise)
{
    CdpParams p;
    p.text("expression", expression);
    if (byValue)
        p.flag("returnByValue", true);
    if (awaitPromise)
        p.flag("awaitPromise", true);
    const std::string params = p.json();
    CdpReply reply = ref.browser->connection->call("Runtime.evaluate", params, ref.sessionId, m_callTimeoutMs);
    if (reply.ok && child(reply.result(), "exceptionDetails")) {
        reply.ok = false;
        reply.error = "exception";
        const rapidjson::Value &details = *child(reply.result(), "exceptionDetails");
        const rapidjson::Value *exception = child(details, "exception");
        std::string what = exception ? member(*exception, "description") : std::string();
        if (what.empty())
            what = member(details, "text");
        qCWarning(lcBrowser).noquote() << "a script on page" << ref.page->id << "threw:" << QString::fromStdString(what).left(300);
    }
    return reply;
}

const rapidjson::Value *BrowserLibraryPrivate::evaluatedValue(const CdpReply &reply)
{
    if (!reply.ok)
        return nullptr;
    const rapidjson::Value *result = child(reply.result(), "result");
    return result ? child(*result, "value") : nullptr;
}
