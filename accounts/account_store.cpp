#include "accounts/account_store.h"

#include "accounts/account_browser.h"
#include "accounts/account_document.h"
#include "accounts/account_id.h"
#include "accounts/account_proxy.h"
#include "accounts/account_table.h"
#include "accounts/log.h"
#include "base/message_box.h"
#include "base/recycle_bin.h"
#include "base/run_directory.h"
#include "form/form.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace accounts {

namespace {
const QString kNickname = QStringLiteral("昵称");
const QString kFolder = QStringLiteral("素材目录");
const QString kCacheId = QStringLiteral("缓存id");

bool onUiThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// The status a loaded row starts with: empty, or why the job will not run it.
// The file's own name counts too: it is the account's file on disk.
QString loadedStatus(const QString &file, bool read, const QString &id)
{
    if (!read)
        return QStringLiteral("账号文件无法读取");
    const QString fileName = QFileInfo(file).fileName();
    const QString baseName = fileName.left(fileName.size() - 5); // without ".json"
    for (const QString &name : {id, baseName}) {
        const QString why = accountid::whyUnsafe(name);
        if (!why.isEmpty()) {
            qCWarning(lcAccounts).noquote() << "the account file" << file << "will not run:" << why << "--" << name;
            return QStringLiteral("账号标识无效");
        }
    }
    return {};
}

// What the list shows of a proxy: scheme, host and port, never the password.
QString proxyColumnText(const QString &text, const QString &id)
{
    QString why;
    const AccountProxy proxy = AccountProxy::parse(text, &why);
    if (!why.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "the proxy of account" << id << "is not usable:" << why;
        return QStringLiteral("代理无效");
    }
    return proxy.serverText();
}

// What the list shows of where the browser is, never a login or a token.
QString browserColumnText(const QString &text, const QString &id)
{
    QString why;
    const AccountBrowser browser = AccountBrowser::parse(text, &why);
    if (!why.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "the browser address of account" << id << "is not usable:" << why;
        return QStringLiteral("浏览器地址无效");
    }
    return browser.columnText();
}

// A row other than `row` that shows the account id: two rows with one id
// would share one browser profile (-1 when none does).
int otherRowWithId(const AccountTable &table, const QString &id, int row)
{
    for (int r = 0; r < table.rowCount(); ++r) {
        if (r != row && table.cell(r, AccountTable::AccountId) == id)
            return r;
    }
    return -1;
}

QStringList accountFiles()
{
    QStringList files;
    QDirIterator it(accountListDirectory(), {QStringLiteral("*.json")}, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext())
        files.append(it.next());
    return files;
}
} // namespace

QString accountListDirectory()
{
    return rundir::join(u"data/list");
}

QString accountFilePath(const QString &id)
{
    return rundir::join(QStringLiteral("data/list/") + id + QStringLiteral(".json"));
}

std::optional<QString> memberTextOf(const QString &accountId, const QString &member, QString *why)
{
    const auto unknown = [&](const QString &reason, bool logged = false) -> std::optional<QString> {
        if (!logged)
            qCWarning(lcAccounts).noquote() << "the member" << member << "of account" << accountId << "is not known --" << reason;
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (why)
        why->clear();
    if (!accountid::isSafe(accountId))
        return unknown(QStringLiteral("the account id cannot name a file: %1").arg(accountid::whyUnsafe(accountId)));
    // A document of its own: the shared one may hold another account or the
    // job's context at this moment.
    AccountDocument doc;
    QString reason;
    if (!doc.loadFile(accountFilePath(accountId), &reason))
        return unknown(reason, true); // the document has said why
    if (doc.holdsNonText(member))
        return unknown(QStringLiteral("the member %1 of the account file %2 is not text").arg(member, accountFilePath(accountId)));
    return doc.value(member);
}

void loadAllAccounts(AccountTable &table)
{
    const bool pumpEvents = onUiThread();
    const QStringList files = accountFiles();
    AccountDocument &doc = accountDocument();
    QList<QStringList> rows;
    rows.reserve(files.size());
    qCInfo(lcAccounts).noquote() << "loading" << files.size() << "account files from" << accountListDirectory();
    for (const QString &file : files) {
        const bool read = doc.loadFile(file); // a file that does not parse gives a row of empty cells, and a log line
        const QString id = doc.value(kCacheId);
        QStringList cells = {QString::number(rows.size() + 1), doc.value(kNickname), doc.value(kFolder), id, loadedStatus(file, read, id)};
        cells.resize(AccountTable::kColumnCount);
        cells[AccountTable::Proxy] = proxyColumnText(doc.value(proxyMember()), id);
        cells[AccountTable::Browser] = browserColumnText(doc.value(browserMember()), id);
        rows.append(cells);
        if (pumpEvents && rows.size() % 64 == 0)
            QCoreApplication::processEvents();
    }
    // One step, so that the job never reads an emptied or half-built list.
    table.replaceRows(rows);
    if (!rows.isEmpty())
        currentRow = static_cast<int>(rows.size()) - 1;
}

void addAccount(Form &form, AccountTable &table)
{
    const int row = table.appendRow();
    currentRow = row;
    // Free as a file name and in the list: a listed account's file may be
    // named for another id, or be gone.
    int n = 100;
    while (QFile::exists(accountFilePath(QString::number(n))) || otherRowWithId(table, QString::number(n), row) >= 0)
        ++n;
    const QString id = QString::number(n);
    const QString folder = form.text(QStringLiteral("编辑框_视频素材目录"));
    form.setText(QStringLiteral("编辑框_账号标识"), id);
    table.setCell(row, AccountTable::Number, QString::number(row + 1));
    table.setCell(row, AccountTable::Nickname, QString());
    table.setCell(row, AccountTable::Folder, folder);
    table.setCell(row, AccountTable::AccountId, id);
    table.setCell(row, AccountTable::Status, QStringLiteral("已添加"));
    AccountDocument &doc = accountDocument();
    doc.setValue(kNickname, QStringLiteral("自动获取"));
    doc.setValue(kFolder, folder);
    doc.setValue(kCacheId, id);
    // The last file read may have been another account's.
    doc.remove(proxyMember());
    doc.remove(browserMember());
    if (!doc.saveFile(accountFilePath(id)))
        qCWarning(lcAccounts) << "the new account" << id << "was not saved";
}

void saveAccountEdits(Form &form, AccountTable &table)
{
    const QString id = form.text(QStringLiteral("编辑框_账号标识"));
    const QString folder = form.text(QStringLiteral("编辑框_视频素材目录"));
    const QString proxyText = form.text(QStringLiteral("编辑框_代理")).trimmed();
    const QString browserText = form.text(QStringLiteral("编辑框_浏览器地址")).trimmed();
    if (id.isEmpty()) {
        messagebox::show(QStringLiteral("账号标识 不能为空"));
        return;
    }
    if (folder.isEmpty()) {
        messagebox::show(QStringLiteral("视频素材目录 不能为空"));
        return;
    }
    // The id names a file and a profile folder: it must stay one plain name.
    if (const QString why = accountid::whyUnsafe(id); !why.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "edits refused for the account id" << id << "--" << why;
        messagebox::show(why);
        return;
    }
    if (const int other = otherRowWithId(table, id, currentRow); other >= 0) {
        qCWarning(lcAccounts).noquote() << "edits refused: account" << other + 1 << "has the id" << id << "already";
        messagebox::show(QStringLiteral("账号标识重复"));
        return;
    }
    // A proxy the browser could not use as written is never stored.
    QString proxyWhy;
    const AccountProxy proxy = AccountProxy::parse(proxyText, &proxyWhy);
    if (!proxyWhy.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "edits refused for account" << id << "-- proxy:" << proxyWhy;
        messagebox::show(proxyWhy);
        return;
    }
    QString browserWhy;
    const AccountBrowser browser = AccountBrowser::parse(browserText, &browserWhy);
    if (!browserWhy.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "edits refused for account" << id << "-- browser:" << browserWhy;
        messagebox::show(browserWhy);
        return;
    }
    // An endpoint's browser goes out through whatever its owner set; a proxy
    // here would never reach it and would only look as if it did. A Grid
    // node's browser is ours and takes the account's proxy.
    if (browser.kind == AccountBrowser::Endpoint && !proxy.isDirect()) {
        qCWarning(lcAccounts).noquote() << "edits refused for account" << id << "-- a proxy and a browser endpoint" << browser.columnText();
        messagebox::show(QStringLiteral("远程浏览器的代理由它自己设置，不能同时填写代理"));
        return;
    }
    const int row = currentRow;
    table.setCell(row, AccountTable::Number, QString::number(row + 1));
    table.setCell(row, AccountTable::Folder, folder);
    table.setCell(row, AccountTable::AccountId, id);
    // Start from the account's own file, so that no other account's members
    // (or the job's context) are written into it.
    AccountDocument &doc = accountDocument();
    const QString path = accountFilePath(id);
    if (!QFile::exists(path) || !doc.loadFile(path))
        doc.clear();
    doc.setValue(kFolder, folder);
    doc.setValue(kCacheId, id);
    if (proxyText.isEmpty())
        doc.remove(proxyMember());
    else
        doc.setValue(proxyMember(), proxyText);
    if (browser.isLocal())
        doc.remove(browserMember());
    else
        doc.setValue(browserMember(), browser.text());
    table.setCell(row, AccountTable::Proxy, proxy.serverText());
    table.setCell(row, AccountTable::Browser, browser.columnText());
    if (!doc.saveFile(path))
        qCWarning(lcAccounts) << "the edits of account" << id << "were not saved";
}

void deleteAccountFile(const QString &id)
{
    if (const QString why = accountid::whyUnsafe(id); !why.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "no account file deleted for the id" << id << "--" << why;
        return;
    }
    QFile file(accountFilePath(id));
    if (file.exists() && !file.remove())
        qCWarning(lcAccounts) << "cannot delete the account file" << file.fileName() << "--" << file.errorString();
}

bool isClearableFolder(const QString &path)
{
    QString p = path;
    while (p.contains(QStringLiteral("\\\\")))
        p.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    while (p.contains(QStringLiteral("//")))
        p.replace(QStringLiteral("//"), QStringLiteral("/"));
    if (p.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const QChar drive = p.at(0).toUpper();
    if (drive < u'A' || drive > u'Z')
        return false;
    if (!p.contains(QStringLiteral(":\\")) && !p.contains(QStringLiteral(":/")))
        return false;
    if (p.size() == 3)
        return false;
#else
    if (!p.startsWith(u'/'))
        return false;
    if (QDir::cleanPath(p) == QStringLiteral("/"))
        return false;
#endif
    return QFileInfo(p).isDir();
}

void clearAllAccounts(AccountTable &table)
{
    table.clear();
    QString dir = accountListDirectory();
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    if (!isClearableFolder(dir)) {
        qCWarning(lcAccounts) << "the account folder" << dir << "is not one that may be cleared; its files stay";
        return;
    }
    QDirIterator it(dir, {QStringLiteral("*.json")}, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext())
        recyclebin::moveToRecycleBin(it.next());
}

} // namespace accounts
