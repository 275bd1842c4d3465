#include "upload/page_check.h"

#include "accounts/account_table.h"
#include "browser/browser_library.h"
#include "studio/page_census.h"
#include "studio/studio_source.h"
#include "upload/browser_session.h"
#include "upload/job_state.h"
#include "upload/log.h"

#include <QScopeGuard>

namespace {

// Runs `use` on the upload page of each account from `firstRow` on until it
// returns true; a session of its own, its browser closed afterwards.
bool onFirstLoggedInPage(const BrowserSession &like, AccountTable &table, int firstRow, int maxAccounts,
                         const std::function<bool(int page, const QString &accountId)> &use)
{
    LaneState none(0);
    BrowserSession session(like, none);
    const auto closing = qScopeGuard([&session] { session.closeBrowser(); });
    const int rows = table.rowCount();
    for (int k = 0; k < std::min(rows, maxAccounts); ++k) {
        const int row = (std::max(firstRow, 0) + k) % rows;
        const JobAccount account{row, table.cell(row, AccountTable::AccountId), table.cell(row, AccountTable::Folder)};
        const int page = session.attachOrOpenBrowser(account);
        if (page > 0 && !session.loggedOut() && use(page, account.id))
            return true;
        qCInfo(lcUpload).noquote() << "account" << account.id << "has no logged-in upload page that would do";
        session.closeBrowser();
    }
    return false;
}

} // namespace

PageCheckResult checkOpenPage(BrowserLibrary &library, int pageId, const QString &accountId)
{
    PageCheckResult result;
    const auto description = studio::StudioDescriptions::instance().verified(studio::selectorCheckOn(library, pageId));
    const std::optional<studio::Census> census = studio::takeCensus(library, pageId, *description);
    if (!census) {
        result.message = QStringLiteral("未能检测发布页面");
        return result;
    }
    result.census = census->text();
    if (const std::optional<studio::Role> missing = census->firstMissingOnFreshPage()) {
        result.kind = PageCheckResult::Redesigned;
        result.message = QStringLiteral("发布页面已改版：找不到 ") + studio::roleWithSelector(*description, *missing);
        qCWarning(lcUpload).noquote() << "page check on account" << accountId << "with the studio description" << description->origin() << "version"
                                      << description->version() << "failed: role" << studio::infoOf(*missing).name << "matches nothing on" << census->address
                                      << "\n" << result.census;
    } else {
        result.kind = PageCheckResult::Fine;
        result.message = QStringLiteral("发布页面正常");
        qCInfo(lcUpload).noquote() << "page check on account" << accountId << "passed with the studio description" << description->origin() << "version"
                                   << description->version();
    }
    return result;
}

PageCheckResult checkUploadPage(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, int maxAccounts)
{
    PageCheckResult result;
    const bool checked = onFirstLoggedInPage(like, table, firstRow, maxAccounts, [&](int page, const QString &id) {
        result = checkOpenPage(library, page, id);
        return result.kind != PageCheckResult::NoLoggedInAccount;
    });
    if (!checked) {
        result.message = QStringLiteral("没有已登录的账号，未检测发布页面");
        qCInfo(lcUpload) << "page check: none of the first" << std::min(table.rowCount(), maxAccounts) << "accounts has a logged-in upload page";
    }
    return result;
}

QList<pageparts::Category> readStudioCategories(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, int maxAccounts)
{
    QList<pageparts::Category> tree;
    onFirstLoggedInPage(like, table, firstRow, maxAccounts, [&](int page, const QString &) {
        const auto description = studio::StudioDescriptions::instance().verified(studio::selectorCheckOn(library, page));
        tree = pageparts::readCategoryTree(library, page, *description);
        return !tree.isEmpty();
    });
    if (tree.isEmpty())
        qCWarning(lcUpload) << "no category tree: none of the first" << std::min(table.rowCount(), maxAccounts) << "accounts from row" << firstRow + 1
                            << "showed a logged-in upload page with one";
    return tree;
}
