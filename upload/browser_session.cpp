#include "upload/browser_session.h"

#include "accounts/account_browser.h"
#include "accounts/account_document.h"
#include "accounts/account_id.h"
#include "accounts/account_proxy.h"
#include "accounts/account_table.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "base/service_config.h"
#include "browser/browser_discovery.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "net/proxy_check.h"
#include "studio/studio_source.h"
#include "upload/delay_wait.h"
#include "upload/grid_session.h"
#include "upload/job_state.h"
#include "upload/log.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QScopeGuard>
#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <map>
#include <utility>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

using studio::Role;

namespace {

std::shared_ptr<const studio::StudioDescription> description()
{
    return studio::StudioDescriptions::instance().current();
}

// The first selector of the role that finds the element gives its text.
QString roleText(BrowserLibrary &library, int pageId, Role role)
{
    const auto studio = description();
    QString text;
    for (const studio::Selector &s : studio->selectors(role)) {
        ElementStatus status = ElementStatus::NoMatch;
        text = library.form_dom_gettext(pageId, s.css, s.index, &status);
        if (status != ElementStatus::NoMatch)
            break;
    }
    return text;
}

// Login windows the user opened from the list (the window's thread starts
// them while the lanes of a run work on their own).
std::mutex g_loginMutex;
QSet<int> g_loginPages;
QHash<QString, int> g_loginsStarting; // by profile folder
// The Grid sessions of login windows, by profile key: they outlive the
// session object that opened them, until the account's job needs its node.
// Never destroyed: a DELETE to the Grid from a static destructor could run
// after the HTTP client is gone; a session left at exit is ended by the
// Grid's own session time-out.
auto &g_loginGrids = *new std::map<QString, std::unique_ptr<GridSession>>;

QString decimal(double value)
{
    // Whole values print without a fraction; others with what they need.
    return QString::number(value, 'g', 15);
}

void trimWorkingSet()
{
#ifdef Q_OS_WIN
    SetProcessWorkingSetSize(GetCurrentProcess(), 100, 1000);
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace

void startWorkingSetTrimmer()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            for (;;) {
                delayWaitMs(60000);
                trimWorkingSet();
            }
        }).detach();
    });
}

BrowserSession::BrowserSession(Form &form, AccountTable &table, BrowserLibrary &library, LaneState &lane)
    : m_form(form)
    , m_table(table)
    , m_library(library)
    , m_lane(lane)
    , m_screenSize([] { return QSize(1920, 1080); })
{
}

BrowserSession::BrowserSession(const BrowserSession &other, LaneState &lane)
    : m_form(other.m_form)
    , m_table(other.m_table)
    , m_library(other.m_library)
    , m_lane(lane)
    , m_screenSize(other.m_screenSize)
{
}

BrowserSession::~BrowserSession() = default;

QString BrowserSession::profileKey(const QString &cacheId, const AccountBrowser &where)
{
    const QString id = cacheId.isEmpty() ? QStringLiteral("100") : cacheId;
    switch (where.kind) {
    case AccountBrowser::Endpoint:
        return QStringLiteral("endpoint:") + where.endpoint;
    case AccountBrowser::Grid:
        return QStringLiteral("grid:%1/tolvar%2").arg(where.node, id);
    case AccountBrowser::Local:
        break;
    }
    return QDir(profileDirectory(cacheId)).absolutePath();
}

std::optional<AccountBrowser> BrowserSession::readWhere(const QString &cacheId)
{
    const QString id = cacheId.isEmpty() ? QStringLiteral("100") : cacheId;
    QString why;
    const std::optional<QString> text = accounts::browserTextOf(id, &why);
    if (!text) {
        m_nodeFailure = QStringLiteral("where the account's browser is cannot be known: %1").arg(why);
        qCWarning(lcUpload).noquote() << "no browser for account" << id << ":" << m_nodeFailure;
        return std::nullopt;
    }
    const AccountBrowser where = AccountBrowser::parse(*text, &why);
    if (!why.isEmpty()) {
        m_nodeFailure = why;
        qCWarning(lcUpload).noquote() << "no browser for account" << id << ": its browser address cannot be used --" << why;
        return std::nullopt;
    }
    m_where = std::make_shared<const AccountBrowser>(where);
    return where;
}

int BrowserSession::attachRemote(const AccountBrowser &where, const QString &cacheId, BrowserStartOptions &options, const QString &startUrl)
{
    const ServiceConfig config = ServiceConfig::load();
    RemoteBrowser remote;
    remote.identity = profileKey(cacheId, where);
    QString why;
    if (where.kind == AccountBrowser::Endpoint) {
        remote.webSocketUrl = devToolsWebSocketOf(where.endpoint, &why);
        if (remote.webSocketUrl.isEmpty()) {
            m_nodeFailure = why;
            return 0;
        }
    } else {
        // Our own browser on the node, on the account's profile there.
        BrowserStartOptions there = options;
        there.profileDirectory = GridSession::nodeProfile(config.gridProfileRoot, cacheId);
        there.extraArgs = config.browserExtraArgs + config.gridExtraArgs;
        if (config.gridProfileRoot.isEmpty()) {
            m_nodeFailure = QStringLiteral("no profile folder on the nodes is set ([grid] profile_root)");
            qCWarning(lcUpload).noquote() << "no Grid browser for account" << cacheId << "--" << m_nodeFailure;
            return 0;
        }
        auto grid = std::make_unique<GridSession>(config);
        // A node that died may leave the WebSocket open with nobody behind
        // it: the calls in flight fail now, not at their time-outs.
        auto attached = std::make_shared<std::atomic<int>>(0);
        BrowserLibrary *library = &m_library;
        grid->setOnLost([library, attached] {
            if (const int id = attached->load(); id > 0)
                library->dropRemoteBrowser(id);
        });
        m_attachedGrid = attached;
        if (!grid->start(where.node, browserdiscovery::remoteArguments(there), &why)) {
            m_nodeFailure = why;
            return 0;
        }
        remote.webSocketUrl = grid->cdpUrl();
        remote.headers = grid->headers();
        remote.ours = true;
        m_grid = std::move(grid);
    }
    const int browser = m_library.form_browser_attach(startUrl, remote, options);
    if (browser > 0 && m_attachedGrid && m_grid)
        m_attachedGrid->store(browser);
    if (browser <= 0) {
        m_nodeFailure = where.kind == AccountBrowser::Grid ? QStringLiteral("the browser the Grid started on node %1 could not be attached").arg(where.node)
                                                           : QStringLiteral("the browser at the endpoint could not be attached");
        m_grid.reset();
    }
    return browser;
}

bool BrowserSession::nodeUnusable(const JobAccount &account)
{
    if (!m_nodeFailure.isEmpty())
        return true;
    if (!m_where || m_where->isLocal())
        return false;
    // The connection to a remote browser is gone: its node or the browser
    // itself went away (a crashed tab leaves the connection up).
    const bool gone = m_browserId > 0 && !m_library.form_connect_started().browserIds.contains(m_browserId);
    const bool lost = m_grid && m_grid->lost();
    if (!gone && !lost)
        return false;
    m_nodeFailure = m_where->kind == AccountBrowser::Grid ? QStringLiteral("the browser on node %1 went away").arg(m_where->node)
                                                          : QStringLiteral("the browser at the endpoint went away");
    qCWarning(lcUpload).noquote() << "account" << account.id << ":" << m_nodeFailure;
    return true;
}

QString BrowserSession::pathForBrowser(const QString &localPath, QString *why) const
{
    if (!m_where || m_where->kind != AccountBrowser::Grid)
        return localPath;
    const ServiceConfig config = ServiceConfig::load();
    return GridSession::nodePath(localPath, config.gridVideoRoot, config.gridNodeVideoRoot, why);
}

QString BrowserSession::profileDirectory(const QString &cacheId)
{
    return rundir::join(QStringLiteral("huancun/tolvar") + (cacheId.isEmpty() ? QStringLiteral("100") : cacheId));
}

QString BrowserSession::windowPositionText(const QSize &screen, int laneNumber)
{
    // Lanes' windows side by side, two across, each row a little lower, so
    // that every one stays at least partly visible: a window fully covered
    // gets no animation frames on Windows.
    const int index = std::max(laneNumber, 1) - 1;
    const int x = 1 + (index % 2) * (screen.width() / 2);
    const int y = 1 + (index / 2) * 40;
    return QStringLiteral("%1,%2").arg(x).arg(y);
}

QString BrowserSession::windowSizeText(const QSize &screen)
{
    return decimal(screen.width() / 2.0) + u',' + decimal(screen.height() * 0.8);
}

void BrowserSession::onPageEvent(int pageId, int, int event)
{
    // Pages open and close in every browser of the program (login windows,
    // pop-ups, other accounts); only a start made for the job sets its page,
    // and the job's own page closing leaves it with none.
    if (event == PageClosed) {
        LaneState::forEach([pageId](LaneState &state) {
            int expected = pageId;
            if (state.pageId.compare_exchange_strong(expected, 0))
                qCInfo(lcUpload) << "the job's page" << pageId << "of lane" << state.number << "closed";
        });
    }
}

int BrowserSession::initialise(const QString &path)
{
    startWorkingSetTrimmer();
    return m_library.form_global_init(path, &BrowserSession::onPageEvent);
}

void BrowserSession::initBrowserLibrary()
{
    if (currentPageId > 0)
        return;
    if (initialise(QString()) != 0)
        return;
    if (initialise(m_form.text(QStringLiteral("编辑框_google"))) != 0)
        return;
    messagebox::show(QStringLiteral("请下载安装谷歌浏览器后再使用"));
}

int BrowserSession::openUploadPage(int row, const QString &cacheId, bool forTheJob)
{
    if (!cacheId.isEmpty() && !accountid::isSafe(cacheId)) {
        qCWarning(lcUpload).noquote() << "no browser for account row" << row + 1 << "--" << accountid::whyUnsafe(cacheId);
        return 0;
    }
    const ServiceConfig config = ServiceConfig::load();
    m_nodeFailure.clear();
    const std::optional<AccountBrowser> where = readWhere(cacheId);
    if (!where)
        return 0;
    BrowserStartOptions options;
    options.profileDirectory = profileDirectory(cacheId);
    const QString profile = profileKey(cacheId, *where);
    if (!forTheJob) {
        std::lock_guard lock(g_loginMutex);
        ++g_loginsStarting[profile];
    }
    const auto started = qScopeGuard([&] {
        if (forTheJob)
            return;
        std::lock_guard lock(g_loginMutex);
        if (--g_loginsStarting[profile] <= 0)
            g_loginsStarting.remove(profile);
    });
    m_proxyFailure.clear();
    if (!proxyUsable(cacheId, &options))
        return 0;
    if (where->kind == AccountBrowser::Endpoint && m_viaProxy) {
        // Never the endpoint's own way out under a proxy it does not know of.
        m_nodeFailure = QStringLiteral("the account has both a browser endpoint and a proxy; an endpoint's browser sets its own proxy");
        qCWarning(lcUpload).noquote() << "no browser for account" << cacheId << "--" << m_nodeFailure;
        return 0;
    }
    options.windowSize = windowSizeText(m_screenSize());
    options.windowPosition = windowPositionText(m_screenSize(), forTheJob ? m_lane.number : 1);
    options.headless = config.browserHeadless;
    options.extraArgs = config.browserExtraArgs;
    if (forTheJob)
        m_lane.pageId = 0; // never another account's page while this one starts
    const QString startUrl = config.studioOrigin + description()->path(Role::UploadPath);
    const int browser = where->isLocal() ? m_library.form_browser_start(startUrl, options) : attachRemote(*where, cacheId, options, startUrl);
    if (forTheJob && browser > 0)
        m_browserId = browser; // the session's to close, whatever becomes of its page
    const int page = browser > 0 ? newestPageOn(profile) : 0;
    if (page > 0 && !forTheJob) {
        std::lock_guard lock(g_loginMutex);
        g_loginPages.insert(page);
        if (m_grid)
            g_loginGrids[profile] = std::move(m_grid);
    }
    if (page <= 0) {
        qCWarning(lcUpload).noquote() << "no browser page for account row" << row + 1 << "on profile" << profile;
        if (!forTheJob)
            m_grid.reset();
        return 0;
    }
    if (forTheJob && stopRequestedHere()) {
        // Stopped while the browser came up: it goes again, with nothing left behind.
        closeBrowser();
        checkStop();
    }
    if (forTheJob) {
        m_lane.browserId = browser;
        m_lane.pageId = page;
    }
    m_loggedOut = false;
    if (!waitForUploadBox(page)) {
        qCWarning(lcUpload).noquote() << "the upload page of" << config.studioOrigin << "did not show its upload box (page" << page << ")";
        blameProxy(cacheId);
        m_loggedOut = m_proxyFailure.isEmpty() && showsLogin(page);
    }
    m_library.form_set_window_title(page, QStringLiteral("载入成功"));
    const QString nickname = roleText(m_library, page, Role::UserName);
    // Into the account's own row, wherever it is by now.
    if (cacheId.isEmpty())
        m_table.setCell(row, AccountTable::Nickname, nickname);
    else
        m_table.setCellOf(cacheId, row, AccountTable::Nickname, nickname);
    return page;
}

int BrowserSession::openLoginWindow(int row, const QString &cacheId) const
{
    // Flags and lane state of its own: the job's lane reads this session's
    // flags while it works, from its own thread.
    LaneState none(0);
    BrowserSession login(*this, none);
    return login.openUploadPage(row, cacheId, false);
}

bool BrowserSession::waitForUploadBox(int pageId)
{
    // Twenty polls half a second apart. With the waits shrunk for tests those
    // twenty may end before a busy machine has loaded the page at all; a page
    // not yet loaded then gets the rest of the ten seconds, which the polls
    // take by themselves at full scale.
    QElapsedTimer clock;
    clock.start();
    const auto studio = description();
    const QString uploadBoxText = studio->text(Role::UploadBoxText);
    for (int poll = 1;; ++poll) {
        DelayWait(studio->waitMs(Role::WaitUploadBoxPoll));
        // A proxy that failed leaves the browser's error page: no use waiting.
        if (m_viaProxy && m_library.form_get_page_url(pageId).startsWith(QStringLiteral("chrome-error:")))
            return false;
        const QString html = m_library.form_get_html(pageId);
        const qsizetype found = html.indexOf(uploadBoxText);
        const qsizetype position = found < 0 ? -1 : found + 1;
        m_library.form_set_window_title(pageId, QStringLiteral("上传载入中=") + QString::number(position));
        if (position != -1)
            return true;
        // A page whose browser ended, or whose tab was closed, shows nothing ever again.
        if (m_library.form_page_isactive(pageId) == 0)
            return false;
        if (poll >= 20 && (clock.elapsed() >= 10000 || studioDocumentLoaded(pageId)))
            return false;
    }
}

bool BrowserSession::studioDocumentLoaded(int pageId)
{
    // A browser's first document is an empty about:blank that is "complete"
    // while the studio's address is still on its way: only a page of the
    // web that finished loading counts.
    return m_library.evaluateScript(pageId, QStringLiteral("document.readyState === 'complete' && /^https?:$/.test(location.protocol)"))
        == QStringLiteral("true");
}

int BrowserSession::newestPageOn(const QString &profile) const
{
    int newest = 0;
    for (int page : m_library.form_connect_started().pageIds) {
        if (page > newest && m_library.profileOfPage(page) == profile && !isLoginPage(page))
            newest = page;
    }
    return newest;
}

bool BrowserSession::isLoginPage(int pageId) const
{
    std::lock_guard lock(g_loginMutex);
    return g_loginPages.contains(pageId);
}

bool BrowserSession::loginWindowOn(const QString &profile) const
{
    QList<int> pages;
    {
        std::lock_guard lock(g_loginMutex);
        if (g_loginsStarting.contains(profile))
            return true;
        pages = g_loginPages.values();
    }
    for (int page : pages) {
        if (m_library.form_page_isactive(page) == 1 && m_library.profileOfPage(page) == profile)
            return true;
    }
    return false;
}

bool BrowserSession::isOwnPage(int pageId, const QString &cacheId) const
{
    const QString profile = m_where ? profileKey(cacheId, *m_where) : QDir(profileDirectory(cacheId)).absolutePath();
    return pageId > 0 && m_library.form_page_isactive(pageId) == 1 && m_library.profileOfPage(pageId) == profile;
}

int BrowserSession::attachOrOpenBrowser(const JobAccount &account)
{
    // Only a page on this account's own profile will do: a browser of another
    // account still open would publish under that account's login.
    m_lane.pageId = 0;
    m_loggedOut = false;
    m_proxyFailure.clear();
    // Not even a browser already open: its account may have been moved to
    // another proxy, or off one, in the file that cannot be read now.
    m_nodeFailure.clear();
    const std::optional<AccountProxy> proxy = readProxy(account.id);
    if (!proxy)
        return 0;
    m_viaProxy = !proxy->isDirect();
    const std::optional<AccountBrowser> where = readWhere(account.id);
    if (!where)
        return 0;
    const QString profile = profileKey(account.id, *where);
    // The user's login window is the user's: the job neither takes it over
    // nor starts a second browser on its profile.
    if (loginWindowOn(profile)) {
        qCWarning(lcUpload).noquote() << "the login window of account" << account.id << "is open; the job does not use it (close it to publish)";
        return 0;
    }
    {
        // A login window closed on the node leaves its Grid session: one
        // profile is never in two sessions.
        std::unique_ptr<GridSession> loginGrid;
        {
            std::lock_guard lock(g_loginMutex);
            if (const auto it = g_loginGrids.find(profile); it != g_loginGrids.end()) {
                loginGrid = std::move(it->second);
                g_loginGrids.erase(it);
            }
        }
        if (loginGrid) {
            for (int page : m_library.form_connect_started().pageIds) {
                if (m_library.profileOfPage(page) == profile)
                    m_library.form_browser_close(m_library.browserOfPage(page));
            }
        }
    }
    const int own = newestPageOn(profile);
    if (own == 0)
        return openUploadPage(account.row, account.id);
    m_browserId = m_library.browserOfPage(own);
    m_lane.browserId = m_browserId;
    m_library.form_active_page(own);
    // A fresh form every attempt: one left from an earlier attempt may still
    // hold a finished upload that would go out under the new title.
    const QString origin = ServiceConfig::load().studioOrigin;
    if (!m_library.form_forward_url(own, origin + description()->path(Role::UploadPath))) {
        qCWarning(lcUpload) << "the open page" << own << "of account row" << account.row + 1 << "did not load the upload page; a new browser starts";
        closeBrowser();
        return openUploadPage(account.row, account.id);
    }
    m_loggedOut = false;
    if (!waitForUploadBox(own)) {
        qCWarning(lcUpload) << "the upload page" << own << "did not show its upload box";
        blameProxy(account.id);
        m_loggedOut = m_proxyFailure.isEmpty() && showsLogin(own);
    }
    m_lane.pageId = own;
    return own;
}

bool BrowserSession::showsLogin(int pageId)
{
    // Only a page that says so: the login address, or a page that finished
    // loading with neither the upload box nor a signed-in user. A page still
    // loading on a busy machine is no sign of anything.
    const auto studio = description();
    const QString address = m_library.form_get_page_url(pageId);
    const bool loginAddress = QUrl(address).path().contains(studio->text(Role::LoginPathText), Qt::CaseInsensitive);
    const bool loaded = studioDocumentLoaded(pageId);
    const bool noUser = roleText(m_library, pageId, Role::UserName).trimmed().isEmpty();
    const bool noUploadBox = !m_library.form_get_html(pageId).contains(studio->text(Role::UploadBoxText));
    const bool loggedOut = loginAddress || (loaded && noUser && noUploadBox);
    if (loggedOut)
        qCWarning(lcUpload).noquote() << "page" << pageId << "shows the studio's login, not the upload page:" << address;
    return loggedOut;
}

std::optional<AccountProxy> BrowserSession::readProxy(const QString &cacheId)
{
    const QString id = cacheId.isEmpty() ? QStringLiteral("100") : cacheId;
    QString why;
    const std::optional<QString> text = accounts::proxyTextOf(id, &why);
    if (!text) {
        m_proxyFailure = QStringLiteral("the proxy cannot be known: %1").arg(why);
        qCWarning(lcUpload).noquote() << "no browser for account" << id << ":" << m_proxyFailure;
        return std::nullopt;
    }
    const AccountProxy proxy = AccountProxy::parse(*text, &why);
    if (!why.isEmpty()) {
        m_proxyFailure = why;
        qCWarning(lcUpload).noquote() << "no browser for account" << id << ": its proxy cannot be used --" << why;
        return std::nullopt;
    }
    return proxy;
}

void BrowserSession::closeBrowser()
{
    const int browser = std::exchange(m_browserId, 0);
    m_lane.pageId = 0;
    m_lane.browserId = 0;
    if (browser > 0)
        m_library.form_browser_close(browser);
    m_grid.reset(); // after its browser closed: the Grid ends the session
}

bool BrowserSession::proxyUsable(const QString &cacheId, BrowserStartOptions *options)
{
    const std::optional<AccountProxy> proxy = readProxy(cacheId);
    m_viaProxy = !proxy || !proxy->isDirect();
    if (!proxy)
        return false;
    if (proxy->isDirect())
        return true;
    // Checked before the browser starts: a proxy that is down or refuses the
    // account fails the attempt now, not after the page's time-outs.
    const net::ProxyCheck check = net::checkProxy(proxy->serverText(), proxy->user, proxy->password, ServiceConfig::load().studioOrigin);
    if (!check.usable) {
        m_proxyFailure = check.reason;
        qCWarning(lcUpload).noquote() << "no browser for account" << cacheId << ": its proxy" << proxy->serverText() << "is not usable --" << check.reason;
        return false;
    }
    options->proxyServer = proxy->serverText();
    options->proxyUser = proxy->user;
    options->proxyPassword = proxy->password;
    return true;
}

void BrowserSession::blameProxy(const QString &cacheId)
{
    if (!m_viaProxy)
        return;
    BrowserStartOptions unused;
    if (!proxyUsable(cacheId, &unused))
        qCWarning(lcUpload).noquote() << "the upload page of account" << cacheId << "failed because of its proxy:" << m_proxyFailure;
}

bool BrowserSession::proxyUnusable(const JobAccount &account)
{
    if (!m_proxyFailure.isEmpty())
        return true;
    BrowserStartOptions unused;
    return !proxyUsable(account.id, &unused);
}
