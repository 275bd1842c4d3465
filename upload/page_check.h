#pragma once

#include "upload/page_parts.h"

#include <QList>
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
    int keptBrowser = 0; // the browser left open for the run (0: none)
};

// Tries the accounts from `firstRow` on, at most `maxAccounts` of them, on a
// session of its own. Its browser is closed afterwards, unless `keepForRun`
// and the page passed: then the run's lane of that account takes it over
// (no second start), and the run closes it should no lane take it. Never
// while a run's lanes work: it would take over their pages. Runs on any
// thread but the user-interface thread; a stop of the calling job unwinds
// it.
PageCheckResult checkUploadPage(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, bool keepForRun,
                                int maxAccounts = 3);

// The studio's category tree, read from the upload page of the first
// logged-in account from `firstRow` on (its browser closed afterwards);
// empty when none shows one. The same rules as the check.
QList<pageparts::Category> readStudioCategories(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow,
                                                int maxAccounts = 3);
