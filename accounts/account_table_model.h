#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class AccountTable;

// Shows an `AccountTable` in a view. It keeps its own copy of the rows and
// replays the table's changes in order on its own (the user-interface)
// thread, so the view never sees a row count that its notifications did not
// announce, whichever thread changed the table.
class AccountTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit AccountTableModel(AccountTable &table, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // True while a row is being removed: a view moving its current index
    // to a neighbour then is no selection by the user.
    bool isRemovingRow() const { return m_removingRow; }

private:
    void onRowAppended(const QStringList &cells);
    void onCellChanged(int row, int column, const QString &text);
    void onRowRemoved(int row);
    void onCleared();
    void onRowsReplaced(const QList<QStringList> &rows);

    QList<QStringList> m_rows;
    bool m_removingRow = false;
};
