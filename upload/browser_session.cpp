#include "upload/browser_session.h"

#include "accounts/account_document.h"
#include "accounts/account_table.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "base/service_config.h"
#include "browser/browser_library.h"
#include "form/form.h"
#include "upload/delay_wait.h"
#include "upload/job_state.h"
#include "upload/log.h"

#include <QDir>
#include <QLocale>

#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

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

BrowserSession::BrowserSession(Form &form, AccountTable &table, BrowserLibrary &library)
    : m_form(form)
    , m_table(table)
    , m_library(library)
    , m_screenSize([] { return QSize(1920, 1080); })
{
}

QString BrowserSession::profileDirectory(const QString &cacheId)
{
    return rundir::join(QStringLiteral("huancun/tolvar") + (cacheId.isEmpty() ? QStringLiteral("100") : cacheId));
}

QString BrowserSession::windowSizeText(const QSize &screen)
{
    return decimal(screen.width() / 2.0) + u',' + decimal(screen.height() * 0.8);
}

void BrowserSession::onPageEvent(int pageId, int browserId, int)
{
    currentPageId = pageId;
    currentBrowserId = browserId;
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

void BrowserSession::openUploadPage(int row, const QString &cacheId)
{
    const ServiceConfig config = ServiceConfig::load();
    BrowserStartOptions options;
    options.profileDirectory = profileDirectory(cacheId);
    options.windowSize = windowSizeText(m_screenSize());
    options.windowPosition = QStringLiteral("1,1");
    options.headless = config.browserHeadless;
    options.extraArgs = config.browserExtraArgs;
    currentBrowserId = m_library.form_browser_start(config.studioOrigin + QStringLiteral("/upload"), options);
    if (currentBrowserId <= 0)
        qCWarning(lcUpload).noquote() << "no browser for account row" << row + 1 << "on profile" << options.profileDirectory;

    bool shown = false;
    for (int poll = 0; poll < 20; ++poll) {
        DelayWait(500);
        const QString html = m_library.form_get_html(currentPageId);
        const qsizetype found = html.indexOf(QStringLiteral("点击上传或将"));
        const qsizetype position = found < 0 ? -1 : found + 1;
        m_library.form_set_window_title(currentPageId, QStringLiteral("上传载入中=") + QString::number(position));
        if (position != -1) {
            shown = true;
            break;
        }
    }
    if (!shown)
        qCWarning(lcUpload).noquote() << "the upload page of" << config.studioOrigin << "did not show its upload box within 20 polls (page" << currentPageId << ")";
    m_library.form_set_window_title(currentPageId, QStringLiteral("载入成功"));
    m_table.setCell(row, AccountTable::Nickname, m_library.form_dom_gettext(currentPageId, QStringLiteral(".user-info__username")));
}

void BrowserSession::attachOrOpenBrowser()
{
    // Only a page on this account's own profile will do: a browser of another
    // account still open would publish under that account's login.
    const QString cacheId = accountDocument().value(QStringLiteral("缓存id"));
    const QString profile = QDir(profileDirectory(cacheId)).absolutePath();
    int own = 0;
    for (int page : m_library.form_connect_started().pageIds) {
        if (m_library.profileOfPage(page) == profile) {
            own = page;
            break;
        }
    }
    if (own > 0) {
        currentPageId = own;
        m_library.form_active_page(own);
    }
    if (own == 0 || m_library.form_page_isactive(currentPageId) == 0)
        openUploadPage(currentRow, cacheId);
}
