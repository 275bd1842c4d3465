#pragma once

#include <QObject>

class AccountCommands;
class AccountTable;
class AccountTableModel;
class QMenu;
class QTableView;

// Binds the account table widget 超级列表框1 to the account table and
// gives it the right-click menu 账号管理.
class AccountListView final : public QObject {
    Q_OBJECT
public:
    AccountListView(QTableView &view, AccountTable &table, AccountCommands &commands);

    QMenu *menu() const { return m_menu; }

private:
    QTableView &m_view;
    AccountCommands &m_commands;
    AccountTableModel *m_model = nullptr;
    QMenu *m_menu = nullptr;
};
