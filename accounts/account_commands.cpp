#include "accounts/account_commands.h"

#include "accounts/account_browser.h"
#include "accounts/account_id.h"
#include "accounts/account_proxy.h"
#include "accounts/account_store.h"
#include "accounts/account_table.h"
#include "accounts/log.h"
#include "base/message_box.h"
#include "base/run_directory.h"
#include "base/service_config.h"
#include "form/command_registry.h"
#include "form/form.h"
#include "net/proxy_check.h"

#include <QThread>

AccountCommands::AccountCommands(Form &form, AccountTable &table, CommandRegistry &commands, QObject *parent)
    : QObject(parent)
    , m_form(form)
    , m_table(table)
{
    commands.addCommand(QStringLiteral("按钮_读取所有账号"), [this] { loadAllAccounts(); });
    commands.addCommand(QStringLiteral("按钮_修改账号信息"), [this] { accounts::saveAccountEdits(m_form, m_table); });
    commands.addCommand(QStringLiteral("按钮_删除本账号"), [this] { deleteCurrentAccount(); });
    commands.addCommand(QStringLiteral("按钮8"), [this] { browseMaterialFolder(); });
    commands.addCommand(QStringLiteral("按钮14"), [this] { openUploadPage(currentRow, m_form.text(QStringLiteral("编辑框_账号标识"))); });
}

const QStringList &AccountCommands::menuItems()
{
    static const QStringList items = {
        QStringLiteral("添加账号"), QStringLiteral("删除此账号"), QStringLiteral("清空账号列表"),
        QStringLiteral("配置登陆此账号"), QStringLiteral("此项移动到最底部"), QStringLiteral("打开此账号缓存目录"),
        QStringLiteral("打开作者主页"), QStringLiteral("检测代理"),
    };
    return items;
}

QString AccountCommands::profileFolder(const QString &id)
{
    return rundir::join(QStringLiteral("huancun/tolvar") + id);
}

void AccountCommands::selectRow(int row)
{
    m_selected = (row >= 0 && row < m_table.rowCount()) ? row : -1;
    if (m_selected < 0)
        return;
    currentRow = m_selected;
    const QString id = m_table.cell(m_selected, AccountTable::AccountId);
    m_form.setText(QStringLiteral("编辑框_账号标识"), id);
    // The list shows no credentials: the editor takes the proxy and the
    // browser address from the file (empty when the file cannot be read; the
    // reader has said why).
    m_form.setText(QStringLiteral("编辑框_代理"), accounts::proxyTextOf(id).value_or(QString()));
    m_form.setText(QStringLiteral("编辑框_浏览器地址"), accounts::browserTextOf(id).value_or(QString()));
    const QString folder = m_table.cell(m_selected, AccountTable::Folder);
    if (!folder.isEmpty())
        m_form.setText(QStringLiteral("编辑框_视频素材目录"), folder);
}

void AccountCommands::runMenuItem(const QString &item)
{
    switch (menuItems().indexOf(item)) {
    case 0: accounts::addAccount(m_form, m_table); break;
    case 1: deleteSelected(); break;
    case 2: accounts::clearAllAccounts(m_table); break;
    case 3: configureLogin(); break;
    case 4: moveSelectedToBottom(); break;
    case 5: openProfileFolder(); break;
    case 6: openHomePage(); break;
    case 7: checkSelectedProxyInBackground(); break;
    default: break;
    }
}

void AccountCommands::loadAllAccountsInBackground()
{
    ++m_loads;
    QThread *thread = QThread::create([this] { accounts::loadAllAccounts(m_table); });
    thread->setObjectName(QStringLiteral("accounts"));
    connect(thread, &QThread::finished, this, &AccountCommands::endLoad); // back on this thread
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void AccountCommands::loadAllAccounts()
{
    ++m_loads;
    accounts::loadAllAccounts(m_table);
    endLoad();
}

void AccountCommands::endLoad()
{
    if (--m_loads == 0)
        emit loadFinished();
}

void AccountCommands::deleteSelected()
{
    if (m_selected < 0)
        return;
    accounts::deleteAccountFile(m_table.cell(m_selected, AccountTable::AccountId));
    m_selected = -1;
    loadAllAccounts();
}

void AccountCommands::configureLogin()
{
    if (m_selected < 0)
        return;
    currentRow = m_selected;
    const QString id = m_table.cell(m_selected, AccountTable::AccountId);
    m_form.setText(QStringLiteral("编辑框_账号标识"), id);
    openUploadPage(m_selected, id);
}

void AccountCommands::openUploadPage(int row, const QString &id)
{
    // The browser makes its profile folder from the id: a bad one would log
    // in through another account's profile or outside the run directory.
    if (const QString why = accountid::whyUnsafe(id); !why.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "no upload page opened for the account id" << id << "--" << why;
        messagebox::show(why);
        return;
    }
    if (m_openUploadPage)
        m_openUploadPage(row, id);
}

void AccountCommands::moveSelectedToBottom()
{
    if (m_selected < 0)
        return;
    const int r = m_selected;
    const QStringList cells = m_table.row(r);
    const int n = m_table.rowCount();
    QStringList moved = {QString::number(n), cells.value(AccountTable::Nickname), cells.value(AccountTable::Folder), cells.value(AccountTable::AccountId)};
    moved.resize(AccountTable::kColumnCount);
    moved[AccountTable::Proxy] = cells.value(AccountTable::Proxy);
    moved[AccountTable::Browser] = cells.value(AccountTable::Browser);
    m_table.appendRow(moved);
    m_table.removeRow(r);
    m_selected = -1;
}

void AccountCommands::openProfileFolder()
{
    const int row = m_selected >= 0 ? m_selected : currentRow.load();
    const QString id = m_table.cell(row, AccountTable::AccountId);
    if (const QString why = accountid::whyUnsafe(id); !why.isEmpty()) {
        qCWarning(lcAccounts).noquote() << "no profile folder opened for the account id" << id << "--" << why;
        return;
    }
    // The folder the browser really keeps the profile in (no separator before the id).
    if (m_openFolder)
        m_openFolder(profileFolder(id));
}

void AccountCommands::openHomePage()
{
    if (m_selected < 0)
        return;
    const QString url = m_table.cell(m_selected, AccountTable::HomePage);
    if (!url.isEmpty() && m_openUrl)
        m_openUrl(url);
}

void AccountCommands::deleteCurrentAccount()
{
    accounts::deleteAccountFile(m_form.text(QStringLiteral("编辑框_账号标识")));
    m_table.removeRow(currentRow);
}

void AccountCommands::browseMaterialFolder()
{
    const QString folder = m_pickFolder ? m_pickFolder().trimmed() : QString();
    if (!folder.isEmpty())
        m_form.setText(QStringLiteral("编辑框_视频素材目录"), folder);
}

void AccountCommands::checkSelectedProxyInBackground()
{
    if (m_selected < 0)
        return;
    const int row = m_selected;
    const QString id = m_table.cell(row, AccountTable::AccountId);
    // A check may take seconds: the window stays live meanwhile.
    QThread *thread = QThread::create([this, row, id] { checkProxy(row, id); });
    thread->setObjectName(QStringLiteral("proxy check"));
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

QString AccountCommands::checkProxy(int row, const QString &id)
{
    QString why;
    const std::optional<QString> text = accounts::proxyTextOf(id, &why);
    const AccountProxy proxy = text ? AccountProxy::parse(*text, &why) : AccountProxy{};
    QString status;
    if (!text) {
        status = QStringLiteral("代理不可用：账号文件无法读取");
    } else if (!why.isEmpty()) {
        status = QStringLiteral("代理不可用：") + why;
    } else if (proxy.isDirect()) {
        status = QStringLiteral("未设置代理");
    } else {
        m_table.setCellOf(id, row, AccountTable::Status, QStringLiteral("正在检测代理"));
        const net::ProxyCheck check = net::checkProxy(proxy.serverText(), proxy.user, proxy.password, ServiceConfig::load().studioOrigin);
        status = check.usable ? QStringLiteral("代理可用 %1ms").arg(check.elapsedMs) : QStringLiteral("代理不可用：") + check.reason;
    }
    qCInfo(lcAccounts).noquote() << "proxy check of account" << id << proxy.serverText() << "--" << status;
    m_table.setCellOf(id, row, AccountTable::Status, status);
    return status;
}
