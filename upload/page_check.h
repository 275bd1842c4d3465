#pragma once

#include <QString>

class AccountTable;
class BrowserLibrary;
class BrowserSession;

// The check of the studio's upload page against the studio description in
// use, before a run burns its accounts on a redesigned page: the upload page
// of the first logged-in account must show every role a fresh upload page
// shows.
struct PageCheckResult {
    enum Kind { Fine, Redesigned, NoLoggedInAccount };
    Kind kind = NoLoggedInAccount;
    QString message; // for the status bar: "发布页面正常", "发布页面已改版：找不到 …"
    QString census;  // every role and whether it matched (empty unless a page was read)
};

// Tries the accounts from `firstRow` on, at most `maxAccounts` of them, on a
// session of its own that closes its browser afterwards. Runs on any
// thread but the user-interface thread; a stop of the calling job unwinds
// it.
PageCheckResult checkUploadPage(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, int maxAccounts = 3);
