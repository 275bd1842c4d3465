#pragma once

#include <QString>

class AccountTable;
class Form;

// The account files under data/list (one <id>.json per account) and the
// commands that keep them and the account list in step.
namespace accounts {

// data/list/<id>.json under the run directory.
QString accountFilePath(const QString &id);
QString accountListDirectory();

// Rebuilds the list from the account files. On the user-interface thread
// pending events run between files so the window stays live.
void loadAllAccounts(AccountTable &table);
// A new account with the smallest id from 100 that neither names a file nor
// is listed, and the folder in
// 编辑框_视频素材目录; its row is appended and selected as current.
void addAccount(Form &form, AccountTable &table);
// Writes 编辑框_账号标识 and 编辑框_视频素材目录 to that account's file;
// an id another row has already is refused ("账号标识重复").
void saveAccountEdits(Form &form, AccountTable &table);
void deleteAccountFile(const QString &id);
// Empties the list and sends every account file to the trash.
void clearAllAccounts(AccountTable &table);

// The folder guard of clearAllAccounts: an absolute path that is not a
// root and an existing directory (on Windows: drive letter, ":\", not "C:\").
bool isClearableFolder(const QString &path);

} // namespace accounts
