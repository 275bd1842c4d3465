#pragma once

#include <QSize>
#include <QString>

#include <functional>

class AccountTable;
class BrowserLibrary;
class Form;

// One account's browser: its own profile (its login), the creator studio's
// upload page, reused while the job stays on the account.
class BrowserSession final {
public:
    BrowserSession(Form &form, AccountTable &table, BrowserLibrary &library);

    // The primary screen's size (the window is half its width, 0.8 of its height).
    void setScreenSize(std::function<QSize()> screenSize) { m_screenSize = std::move(screenSize); }

    // Finds and initialises the browser unless a page is already known;
    // tells the user when none is installed.
    void initBrowserLibrary();
    // Starts a browser on the account's profile showing the upload page,
    // waits for it, and writes the signed-in user's name into the row.
    void openUploadPage(int row, const QString &cacheId);
    // Reuses an open page, or opens the upload page for the job's account.
    void attachOrOpenBrowser();

    // huancun/tolvar<cache id> under the run directory ("" counts as "100").
    static QString profileDirectory(const QString &cacheId);
    // "960,864" for 1920 x 1080; "683,614.4" for 1366 x 768.
    static QString windowSizeText(const QSize &screen);
    static void onPageEvent(int pageId, int browserId, int event);

private:
    int initialise(const QString &path);

    Form &m_form;
    AccountTable &m_table;
    BrowserLibrary &m_library;
    std::function<QSize()> m_screenSize;
};

// Gives unused memory back to the system once a minute (a thread of its own).
void startWorkingSetTrimmer();
