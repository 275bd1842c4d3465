#include "accounts/account_list_view.h"

#include "accounts/account_commands.h"
#include "accounts/account_table.h"
#include "accounts/account_table_model.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableView>

AccountListView::AccountListView(QTableView &view, AccountTable &table, AccountCommands &commands)
    : QObject(&view)
    , m_view(view)
    , m_commands(commands)
{
    m_model = new AccountTableModel(table, this);
    m_view.setModel(m_model);
    m_view.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view.setSelectionMode(QAbstractItemView::SingleSelection);
    m_view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view.verticalHeader()->hide();
    m_view.verticalHeader()->setDefaultSectionSize(22);
    m_view.horizontalHeader()->setHighlightSections(false);
    const QList<int> &widths = AccountTable::columnWidths();
    for (int c = 0; c < widths.size(); ++c)
        m_view.setColumnWidth(c, widths[c]);

    connect(m_view.selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex &current) {
        // While a row goes, the view moves its current index to a neighbour:
        // that is no selection by the user and must not rewrite the editor.
        if (!m_model->isRemovingRow())
            m_commands.selectRow(current.isValid() ? current.row() : -1);
    });
    // A reload or removal clears the selection, as a list control does.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { m_commands.selectRow(-1); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] {
        m_view.selectionModel()->clearCurrentIndex();
        m_view.clearSelection();
        m_commands.selectRow(-1);
    });

    m_menu = new QMenu(QStringLiteral("账号管理"), &m_view);
    m_menu->setObjectName(QStringLiteral("账号管理"));
    for (const QString &item : AccountCommands::menuItems())
        m_menu->addAction(item, this, [this, item] { m_commands.runMenuItem(item); });
    m_view.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_menu->popup(m_view.viewport()->mapToGlobal(pos));
    });
}
