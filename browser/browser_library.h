#pragma once

#include "browser/element_status.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

// How a browser is started for one account.
struct BrowserStartOptions {
    QString profileDirectory;        // --user-data-dir; created when missing
    QString windowSize;              // "width,height", e.g. "960,864" or "683,614.4"
    QString windowPosition = "1,1";  // "x,y"
    bool headless = false;
    QStringList extraArgs;           // appended to the command line as they stand
    // The account's proxy: scheme://host:port (empty = direct). Its
    // credentials are answered to the proxy's challenge over the protocol,
    // never put on the command line; a proxy that fails fails the requests
    // (no direct connection instead).
    QString proxyServer;
    QString proxyUser;
    QString proxyPassword;
};

// A browser that runs already, reached over its DevTools WebSocket: one a
// user started with a debugging port, or one a Selenium Grid started for a
// session.
struct RemoteBrowser {
    QString webSocketUrl; // the browser-wide ws:// address
    QList<std::pair<QByteArray, QByteArray>> headers; // extra request headers (a router's Authorization)
    // Stands for the profile: a second start on the same identity gets a page
    // in the browser attached already.
    QString identity;
    // The browser is ours to end (a Grid session's); else closing it closes
    // only the pages we opened and leaves the browser running.
    bool ours = false;
};

// What form_connect_started reports: the live browsers and their open pages.
struct StartedBrowsers {
    QList<int> browserIds;
    QList<int> pageIds;
};

// Page events: a page came up (the start page of form_browser_start, or a tab
// or pop-up the page or the user opened) or went away.
enum PageEvent : int { PageOpened = 1, PageClosed = 2 };

// (pageId, browserId, event). The start page is reported on the calling thread
// before form_browser_start returns; later events arrive on the library's
// reader thread, so the callback must be short and must not call the library.
using PageEventCallback = std::function<void(int pageId, int browserId, int event)>;

class BrowserLibraryPrivate;
struct PageRef;

// Drives Chromium, Chrome or Edge over the DevTools protocol through the
// browser's own pipe (no debugging port is ever opened).
//
// Every operation may be called from any thread, with or without an event loop,
// and returns within its time-out: failure is the empty text, 0 or false.
// Page and browser ids are small positive integers, never reused.
// Element index: 0 and 1 both address the first match, n >= 1 the n-th match
// in document order.
class BrowserLibrary final {
public:
    BrowserLibrary();
    ~BrowserLibrary(); // closes the browsers this instance started
    BrowserLibrary(const BrowserLibrary &) = delete;
    BrowserLibrary &operator=(const BrowserLibrary &) = delete;

    // The process-wide instance the program uses (never destroyed; the browsers
    // go away with the process because their pipe closes).
    static BrowserLibrary &instance();

    // Finds the browser: an empty path looks in the usual install places and
    // then the PATH; a given path must be an executable file. Nonzero = ready.
    int form_global_init(const QString &browserPath = {}, PageEventCallback onPageEvent = {});

    // Launches a browser on the options' profile showing startUrl; returns the
    // browser id (0 = failure). A profile already open in one of our browsers
    // gets a new page in that browser instead of a second process.
    int form_browser_start(const QString &startUrl, const BrowserStartOptions &options);

    // Attaches to a running browser and opens a page of our own in it on
    // startUrl; returns the browser id (0 = failure, the reason logged). Only
    // the pages we open and the pop-ups they open are reported and driven.
    // The options count for the proxy's credentials (answered over the
    // protocol, as for a browser we start) and nothing else.
    int form_browser_attach(const QString &startUrl, const RemoteBrowser &remote, const BrowserStartOptions &options);

    StartedBrowsers form_connect_started();
    bool form_active_page(int pageId);
    int form_page_isactive(int pageId); // 0 = page gone

    QString form_get_html(int pageId);
    QString form_get_page_url(int pageId);
    bool form_forward_url(int pageId, const QString &url);
    bool form_set_window_title(int pageId, const QString &title);

    // The element operations; `status`, when given, says why one failed.
    int form_dom_isexist(int pageId, const QString &selector, ElementStatus *status = nullptr); // 1 = a match exists
    bool form_dom_click(int pageId, const QString &selector, int index = 0, ElementStatus *status = nullptr);
    QString form_dom_gettext(int pageId, const QString &selector, int index = 0, ElementStatus *status = nullptr);
    bool form_dom_setvalue(int pageId, const QString &selector, const QString &value, int index = 0, ElementStatus *status = nullptr);
    bool form_dom_input(int pageId, const QString &selector, const QString &text, int index = 0, ElementStatus *status = nullptr);
    // Types each text into the match and confirms it with Enter, as a person
    // enters tags or a time into a field that takes them one at a time.
    bool typeAndConfirm(int pageId, const QString &selector, int index, const QStringList &texts, ElementStatus *status = nullptr);
    // ordinal counts the page's input[type=file] elements like an element index.
    bool form_upload_file(int pageId, int ordinal, const QString &path);
    // The same for the index-th match of any selector that finds a file input.
    bool uploadFileTo(int pageId, const QString &selector, int index, const QString &path, ElementStatus *status = nullptr);
    // Later alerts, confirms, prompts and leave-page prompts of this page's
    // browser are accepted as soon as they open.
    bool form_js_dialog_overwrite(int pageId);
    // Closes the browser that shows the page (the whole process).
    bool form_close_browser(int pageId);
    // Closes the browser itself, whatever became of its pages (all closed, or
    // crashed). False when it is unknown or closed already.
    bool form_browser_close(int browserId);
    // Lets go of a browser attached over a WebSocket at once, asking it
    // nothing (its node is gone): pending calls fail and its pages close.
    // Any thread. False when it is unknown or closed already.
    bool dropRemoteBrowser(int browserId);
    // {"Browser", "Protocol-Version", "User-Agent", "V8-Version",
    //  "WebKit-Version", "webSocketDebuggerUrl"} as JSON text.
    QString form_get_version(int pageId);

    // Additions beyond the operation table.
    // Value of a JavaScript expression as JSON text ("" on failure or exception).
    QString evaluateScript(int pageId, const QString &expression);
    // The page as it shows now, as PNG bytes (empty on failure).
    QByteArray captureScreenshot(int pageId);
    QString browserPath() const;
    // Time-out of one protocol call; default 10 s. Launch waits at most 30 s.
    void setCallTimeoutMs(int milliseconds);
    // Process ids of the live browsers' main processes (diagnostics, tests).
    QList<qint64> browserProcessIds() const;
    // Absolute profile folder of the browser showing the page ("" when unknown).
    QString profileOfPage(int pageId) const;
    // The browser of the page, also of one that has closed since (0 when
    // unknown, or its browser has been closed).
    int browserOfPage(int pageId) const;

private:
    // Waits (up to 2 s) until the match is attached, visible and enabled.
    bool waitEditable(PageRef &ref, int pageId, const QString &selector, int index, int offset, ElementStatus *status);

    std::unique_ptr<BrowserLibraryPrivate> d;
};
