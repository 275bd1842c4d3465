#pragma once

#include <QString>

#include <optional>

class AccountTable;
class Form;

// The account files under data/list (one <id>.json per account) and the
// commands that keep them and the account list in step.
namespace accounts {

// data/list/<id>.json under the run directory.
QString accountFilePath(const QString &id);
QString accountListDirectory();
// A text member of the account's own file: "" when the file has none.
// nullopt (and the reason in `why`, also logged) when the file cannot be
// read or parsed, or holds something other than text there: then nobody
// knows the member, and it must never be taken for empty.
std::optional<QString> memberTextOf(const QString &accountId, const QString &member, QString *why = nullptr);

// Rebuilds the list from the account files. On the user-interface thread
// pending events run between files so the window stays live.
void loadAllAccounts(AccountTable &table);
// A new account with the smallest id from 100 that neither names a file nor
// is listed, and the folder in
// 编辑框_视频素材目录; its row is appended and selected as current.
void addAccount(Form &form, AccountTable &table);
// Writes 编辑框_账号标识, 编辑框_视频素材目录, 编辑框_代理 and
// 编辑框_浏览器地址 to that account's file; an id another row has already is
// refused ("账号标识重复"), and so is a proxy beside a remote browser.
void saveAccountEdits(Form &form, AccountTable &table);
void deleteAccountFile(const QString &id);
// Empties the list and sends every account file to the trash.
void clearAllAccounts(AccountTable &table);

// The folder guard of clearAllAccounts: an absolute path that is not a
// root and an existing directory (on Windows: drive letter, ":\", not "C:\").
bool isClearableFolder(const QString &path);

} // namespace accounts
