#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class AccountTable;
class Form;
class CommandRegistry;

// What the account list, its menu 账号管理 and the buttons beside the two
// account edit boxes do. QtCore only: the view forwards the selection and
// the chosen menu item; tests drive it directly.
class AccountCommands final : public QObject {
    Q_OBJECT
public:
    AccountCommands(Form &form, AccountTable &table, CommandRegistry &commands, QObject *parent = nullptr);

    static const QStringList &menuItems();

    // Opens the account's upload page in its browser so the user can log in.
    void setOpenUploadPage(std::function<void(int row, const QString &id)> hook) { m_openUploadPage = std::move(hook); }
    // The folder picker titled "请选择一个文件夹"; empty when cancelled.
    void setPickFolder(std::function<QString()> hook) { m_pickFolder = std::move(hook); }
    void setOpenFolder(std::function<void(const QString &)> hook) { m_openFolder = std::move(hook); }
    void setOpenUrl(std::function<void(const QString &)> hook) { m_openUrl = std::move(hook); }

    // The view's selection changed; -1 when no row is selected.
    void selectRow(int row);
    int selectedRow() const { return m_selected; }
    // Runs the menu item of that caption (one of menuItems()).
    void runMenuItem(const QString &item);

    // Checks the account's proxy from this machine ("检测代理") and writes the
    // outcome into the row's status; returns that text. Blocks for seconds.
    QString checkProxy(int row, const QString &id);

    // Loads the list on a worker thread (start-up).
    void loadAllAccountsInBackground();
    // A load of the list is under way, on its thread or on this one (which
    // handles events meanwhile). User-interface thread.
    bool isLoading() const { return m_loads > 0; }

    // Folder of the account's browser profile: huancun/tolvar<id>.
    static QString profileFolder(const QString &id);

signals:
    // The loads under way have all replaced the list.
    void loadFinished();

private:
    void loadAllAccounts();
    void endLoad();
    void deleteSelected();
    void configureLogin();
    void openUploadPage(int row, const QString &id);
    void moveSelectedToBottom();
    void openProfileFolder();
    void openHomePage();
    void deleteCurrentAccount();
    void browseMaterialFolder();
    void checkSelectedProxyInBackground();

    Form &m_form;
    AccountTable &m_table;
    int m_selected = -1;
    int m_loads = 0;
    std::function<void(int, const QString &)> m_openUploadPage;
    std::function<QString()> m_pickFolder;
    std::function<void(const QString &)> m_openFolder;
    std::function<void(const QString &)> m_openUrl;
};
