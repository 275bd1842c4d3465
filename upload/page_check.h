#pragma once

#include "upload/page_parts.h"

#include <QList>
#include <QString>

class AccountTable;
class BrowserLibrary;
class BrowserSession;

// The check of the studio's upload page against the studio description in
// use, before a run burns its accounts on a redesigned page: a fresh upload
// page of a logged-in account must show every role a fresh upload page
// shows.
struct PageCheckResult {
    enum Kind { Fine, Redesigned, NoLoggedInAccount };
    Kind kind = NoLoggedInAccount;
    QString message; // for the status bar: "发布页面正常", "发布页面已改版：找不到 …"
    QString census;  // every role and whether it matched (empty unless a page was read)
};

// Checks a fresh upload page the caller has open (a run checks the first
// page one of its lanes opened, before any file goes in). Kind
// NoLoggedInAccount when the page gives no answer.
PageCheckResult checkOpenPage(BrowserLibrary &library, int pageId, const QString &accountId);

// The check of the window's command: tries the accounts from `firstRow`
// on, at most `maxAccounts` of them, on a session of its own that closes
// its browser afterwards. Never while a run's lanes work: it would take
// over their pages. Any thread but the user-interface thread.
PageCheckResult checkUploadPage(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, int maxAccounts = 3);

// The studio's category tree, read from the upload page of the first
// logged-in account from `firstRow` on (its browser closed afterwards);
// empty when none shows one. The same rules as the check.
QList<pageparts::Category> readStudioCategories(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow,
                                                int maxAccounts = 3);
