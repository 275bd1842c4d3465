#include "upload/page_check.h"

#include "accounts/account_table.h"
#include "browser/browser_library.h"
#include "studio/page_census.h"
#include "studio/studio_source.h"
#include "upload/browser_session.h"
#include "upload/job_state.h"
#include "upload/log.h"

#include <QScopeGuard>

PageCheckResult checkUploadPage(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, bool keepForRun, int maxAccounts)
{
    LaneState none(0);
    BrowserSession session(like, none);
    bool keep = false;
    const auto closing = qScopeGuard([&] {
        if (!keep)
            session.closeBrowser();
    });
    const int rows = table.rowCount();
    for (int k = 0; k < std::min(rows, maxAccounts); ++k) {
        const int row = (std::max(firstRow, 0) + k) % rows;
        const JobAccount account{row, table.cell(row, AccountTable::AccountId), table.cell(row, AccountTable::Folder)};
        const int page = session.attachOrOpenBrowser(account);
        if (page <= 0 || session.loggedOut()) {
            qCInfo(lcUpload).noquote() << "page check: account" << account.id << "has no logged-in upload page";
            session.closeBrowser();
            continue;
        }
        const auto description = studio::StudioDescriptions::instance().verified(studio::selectorCheckOn(library, page));
        const std::optional<studio::Census> census = studio::takeCensus(library, page, *description);
        if (!census) {
            session.closeBrowser();
            continue;
        }
        PageCheckResult result;
        result.census = census->text();
        if (const std::optional<studio::Role> missing = census->firstMissingOnFreshPage()) {
            result.kind = PageCheckResult::Redesigned;
            result.message = QStringLiteral("发布页面已改版：找不到 ") + studio::roleWithSelector(*description, *missing);
            qCWarning(lcUpload).noquote() << "page check on account" << account.id << "with the studio description" << description->origin() << "version"
                                          << description->version() << "failed: role" << studio::infoOf(*missing).name << "matches nothing on"
                                          << census->address << "\n" << result.census;
        } else {
            result.kind = PageCheckResult::Fine;
            result.message = QStringLiteral("发布页面正常");
            keep = keepForRun;
            result.keptBrowser = keep ? none.browserId.load() : 0;
            qCInfo(lcUpload).noquote() << "page check on account" << account.id << "passed with the studio description" << description->origin()
                                       << "version" << description->version();
        }
        return result;
    }
    PageCheckResult nobody;
    nobody.message = QStringLiteral("没有已登录的账号，未检测发布页面");
    qCInfo(lcUpload) << "page check: none of the first" << std::min(rows, maxAccounts) << "accounts has a logged-in upload page; the run goes on";
    return nobody;
}

QList<pageparts::Category> readStudioCategories(const BrowserSession &like, AccountTable &table, BrowserLibrary &library, int firstRow, int maxAccounts)
{
    LaneState none(0);
    BrowserSession session(like, none);
    const auto closing = qScopeGuard([&session] { session.closeBrowser(); });
    const int rows = table.rowCount();
    for (int k = 0; k < std::min(rows, maxAccounts); ++k) {
        const int row = (std::max(firstRow, 0) + k) % rows;
        const JobAccount account{row, table.cell(row, AccountTable::AccountId), table.cell(row, AccountTable::Folder)};
        const int page = session.attachOrOpenBrowser(account);
        if (page > 0 && !session.loggedOut()) {
            const auto description = studio::StudioDescriptions::instance().verified(studio::selectorCheckOn(library, page));
            const QList<pageparts::Category> tree = pageparts::readCategoryTree(library, page, *description);
            if (!tree.isEmpty())
                return tree;
        }
        session.closeBrowser();
    }
    qCWarning(lcUpload) << "no category tree: none of the first" << std::min(rows, maxAccounts) << "accounts from row" << firstRow + 1
                        << "showed a logged-in upload page with one";
    return {};
}
