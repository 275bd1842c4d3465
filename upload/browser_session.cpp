#include "upload/browser_session.h"

#include "accounts/account_document.h"
#include "accounts/account_id.h"
#include "accounts/account_proxy.h"
#include "accounts/account_table.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "base/service_config.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "net/proxy_check.h"
#include "studio/studio_source.h"
#include "upload/delay_wait.h"
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
    BrowserStartOptions options;
    options.profileDirectory = profileDirectory(cacheId);
    const QString profile = QDir(options.profileDirectory).absolutePath();
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
    options.windowSize = windowSizeText(m_screenSize());
    options.windowPosition = windowPositionText(m_screenSize(), forTheJob ? m_lane.number : 1);
    options.headless = config.browserHeadless;
    options.extraArgs = config.browserExtraArgs;
    if (forTheJob)
        m_lane.pageId = 0; // never another account's page while this one starts
    const int browser = m_library.form_browser_start(config.studioOrigin + description()->path(Role::UploadPath), options);
    if (forTheJob && browser > 0)
        m_browserId = browser; // the session's to close, whatever becomes of its page
    const int page = browser > 0 ? newestPageOn(profile) : 0;
    if (page > 0 && !forTheJob) {
        std::lock_guard lock(g_loginMutex);
        g_loginPages.insert(page);
    }
    if (page <= 0) {
        qCWarning(lcUpload).noquote() << "no browser page for account row" << row + 1 << "on profile" << options.profileDirectory;
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
    return pageId > 0 && m_library.form_page_isactive(pageId) == 1
        && m_library.profileOfPage(pageId) == QDir(profileDirectory(cacheId)).absolutePath();
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
    const std::optional<AccountProxy> proxy = readProxy(account.id);
    if (!proxy)
        return 0;
    m_viaProxy = !proxy->isDirect();
    const QString profile = QDir(profileDirectory(account.id)).absolutePath();
    // The user's login window is the user's: the job neither takes it over
    // nor starts a second browser on its profile.
    if (loginWindowOn(profile)) {
        qCWarning(lcUpload).noquote() << "the login window of account" << account.id << "is open; the job does not use it (close it to publish)";
        return 0;
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
