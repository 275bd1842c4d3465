#pragma once

#include "upload/job_state.h"

#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class AccountTable;
struct AccountBrowser;
class GridSession;
struct AccountProxy;
class BrowserLibrary;
struct BrowserStartOptions;
class Form;

// The account a video is for, taken when the job picks the video and kept
// for the whole video: selecting another row or reloading the list during
// the run never redirects it.
struct JobAccount {
    int row = -1;
    QString id;     // the cache id: names the browser profile
    QString folder; // the material folder the video came from
};

// One account's browser: its own profile (its login), the creator studio's
// upload page, reused while the job stays on the account.
class BrowserSession final {
public:
    // The session of `lane`: its page is the one the lane's pipeline works on.
    BrowserSession(Form &form, AccountTable &table, BrowserLibrary &library, LaneState &lane = LaneState::first());
    // Another lane's session on the same form, table, library and screen.
    BrowserSession(const BrowserSession &other, LaneState &lane);
    ~BrowserSession();

    LaneState &lane() const { return m_lane; }

    // The primary screen's size (the window is half its width, 0.8 of its height).
    void setScreenSize(std::function<QSize()> screenSize) { m_screenSize = std::move(screenSize); }

    // Finds and initialises the browser unless a page is already known;
    // tells the user when none is installed.
    void initBrowserLibrary();
    // Starts a browser on the account's profile showing the upload page,
    // waits for it, and writes the signed-in user's name into the row. The
    // job's page becomes the new one only when `forTheJob` (a login window
    // opened from the list never takes the job's page). Returns the page, 0
    // when none opened.
    int openUploadPage(int row, const QString &cacheId, bool forTheJob = true);
    // The login window of the list's 配置登陆此账号: the account's upload
    // page on a session of its own (same form, table, library and screen),
    // so that what it finds (a login page, a failed proxy) is never taken
    // for what the job's lane found. Any thread; returns the page, 0 when
    // none opened.
    int openLoginWindow(int row, const QString &cacheId) const;
    // Makes the account's own page the job's page on a fresh upload form:
    // an open page of its profile is taken to the upload address again (a
    // form left from an earlier attempt is never reused), else a browser is
    // started. The job's page is 0 until then, and stays 0 when no page of
    // this profile could be had. Returns the page.
    int attachOrOpenBrowser(const JobAccount &account);
    // Whether the page shows a browser on this account's own profile.
    bool isOwnPage(int pageId, const QString &cacheId) const;
    // The last page opened or attached showed the studio's login instead of
    // the upload page: the account's login has expired.
    bool loggedOut() const { return m_loggedOut; }
    // Why the account's proxy could not be used by the last page opened or
    // attached ("" when it could, or the account has none). Such an attempt
    // fails at once: the browser never goes to the studio another way.
    QString proxyFailure() const { return m_proxyFailure; }
    // After a failed attempt: checks the account's proxy again; true (and
    // proxyFailure() set) when it is down or refuses the account.
    bool proxyUnusable(const JobAccount &account);
    // The account of the last page opened or attached has a proxy.
    bool viaProxy() const { return m_viaProxy; }
    // Why the account's remote browser (a DevTools endpoint, a Grid node)
    // could not be had by the last page opened or attached ("" when it
    // could, or the account's browser is local). Such an attempt fails at
    // once and never falls back to a local browser.
    QString nodeFailure() const { return m_nodeFailure; }
    // After a failed attempt or while an upload stands still: is the
    // account's remote browser gone (its node died, the Grid lost the
    // session, the endpoint stopped answering)? Sets nodeFailure().
    bool nodeUnusable(const JobAccount &account);
    // The path under which the account's browser reads a file of ours: the
    // file itself for a browser on this machine, its place in the shared
    // folder for a Grid node's. "" (reason in *why) when it cannot reach it.
    QString pathForBrowser(const QString &localPath, QString *why) const;
    // The account's proxy as its file says (direct only when the file says
    // so). nullopt, with proxyFailure() set and logged, when the file cannot
    // be read or parsed or its proxy text is refused: such an account gets
    // no browser, since going direct would publish from this machine's own
    // address.
    std::optional<AccountProxy> readProxy(const QString &cacheId);
    // Closes the browser this session started or attached for the job, by
    // the browser itself: its page may be gone already (a crashed renderer,
    // a tab the studio closed) while the browser lives on.
    void closeBrowser();

    // huancun/tolvar<cache id> under the run directory ("" counts as "100").
    static QString profileDirectory(const QString &cacheId);
    // What stands for the account's profile among the library's browsers:
    // the absolute profile folder of a local browser, "endpoint:<address>"
    // or "grid:<node>/tolvar<id>" for a remote one.
    static QString profileKey(const QString &cacheId, const AccountBrowser &where);
    // "1,1" for lane 1; lane 2 beside it, lanes 3 and 4 below them, and so on.
    static QString windowPositionText(const QSize &screen, int laneNumber);
    // "960,864" for 1920 x 1080; "683,614.4" for 1366 x 768.
    static QString windowSizeText(const QSize &screen);
    static void onPageEvent(int pageId, int browserId, int event);

private:
    int initialise(const QString &path);
    // Waits for the upload box of the page; false when it never showed.
    bool waitForUploadBox(int pageId);
    // The newest open page on the profile (0 when none); login windows are
    // never the job's.
    int newestPageOn(const QString &profile) const;
    // A login window opened from the list is open or starting on the profile.
    bool loginWindowOn(const QString &profile) const;
    bool isLoginPage(int pageId) const;
    // After the upload box never showed: is the page the studio's login?
    bool showsLogin(int pageId);
    bool studioDocumentLoaded(int pageId);
    // The account's proxy, checked from this machine; false (and
    // m_proxyFailure set) when it cannot be used.
    bool proxyUsable(const QString &cacheId, BrowserStartOptions *options);
    // After the upload box never showed: was it the proxy's fault?
    void blameProxy(const QString &cacheId);
    // Where the account's browser runs, from its file; nullopt (and
    // nodeFailure() set) when the file cannot say.
    std::optional<AccountBrowser> readWhere(const QString &cacheId);
    // Attaches to the account's remote browser; the browser id, 0 (and
    // nodeFailure() set) when there is none to be had.
    int attachRemote(const AccountBrowser &where, const QString &cacheId, BrowserStartOptions &options, const QString &startUrl);

    Form &m_form;
    AccountTable &m_table;
    BrowserLibrary &m_library;
    LaneState &m_lane;
    std::function<QSize()> m_screenSize;
    bool m_loggedOut = false;
    QString m_proxyFailure;
    bool m_viaProxy = false; // the page being waited for goes through a proxy
    int m_browserId = 0;     // the job's browser of this session (0 = none)
    QString m_nodeFailure;
    std::shared_ptr<const AccountBrowser> m_where; // of the account last opened or attached
    std::unique_ptr<GridSession> m_grid; // the Grid session of the job's browser
    std::shared_ptr<std::atomic<int>> m_attachedGrid; // its browser id, for the session's keep-alive thread
};

// Gives unused memory back to the system once a minute (a thread of its own).
void startWorkingSetTrimmer();
