#include "accounts/account_table_model.h"

#include "accounts/account_table.h"

AccountTableModel::AccountTableModel(AccountTable &table, QObject *parent)
    : QAbstractTableModel(parent)
{
    // The table announces changes under its lock, so connecting and copying
    // under that lock replays exactly the changes made after the copy.
    m_rows = table.snapshot([&] {
        connect(&table, &AccountTable::rowAppended, this, &AccountTableModel::onRowAppended, Qt::QueuedConnection);
        connect(&table, &AccountTable::cellChanged, this, &AccountTableModel::onCellChanged, Qt::QueuedConnection);
        connect(&table, &AccountTable::rowRemoved, this, &AccountTableModel::onRowRemoved, Qt::QueuedConnection);
        connect(&table, &AccountTable::cleared, this, &AccountTableModel::onCleared, Qt::QueuedConnection);
        connect(&table, &AccountTable::rowsReplaced, this, &AccountTableModel::onRowsReplaced, Qt::QueuedConnection);
    });
}

int AccountTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int AccountTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : AccountTable::kColumnCount;
}

QVariant AccountTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole) || index.row() >= m_rows.size())
        return {};
    return m_rows[index.row()].value(index.column());
}

QVariant AccountTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return AccountTable::columnTitles().value(section);
}

void AccountTableModel::onRowAppended(const QStringList &cells)
{
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(cells);
    endInsertRows();
}

void AccountTableModel::onCellChanged(int row, int column, const QString &text)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row][column] = text;
    emit dataChanged(index(row, column), index(row, column));
}

void AccountTableModel::onRowRemoved(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_removingRow = true;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
    m_removingRow = false;
}

void AccountTableModel::onCleared()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void AccountTableModel::onRowsReplaced(const QList<QStringList> &rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}
