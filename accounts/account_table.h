#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>

// Row of the account being edited or worked on (0-based), shared by the
// list view, the account commands and the upload job.
extern std::atomic<int> currentRow;

// The rows of the account list, 20 text cells each (the last two, "代理" and
// "浏览器", show the account's proxy and where its browser is, without
// credentials): the store in memory,
// which the upload job walks. Safe to read and write from any thread; every
// change is announced with its data, so a view on another thread can
// replay the changes in order.
class AccountTable final : public QObject {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 20;
    enum Column { Number = 0, Nickname = 1, Folder = 2, AccountId = 3, Status = 4, Publishing = 5, PublishedToday = 6, HomePage = 7, Proxy = 18, Browser = 19 };

    static const QStringList &columnTitles();
    static const QList<int> &columnWidths();

    explicit AccountTable(QObject *parent = nullptr);

    int rowCount() const;
    QString cell(int row, int column) const;
    QStringList row(int row) const;
    // All rows, with `whileLocked` run before the copy under the same lock:
    // a view connects there and misses no change and replays none twice.
    QList<QStringList> snapshot(const std::function<void()> &whileLocked = {}) const;

    // The row that shows an account now (its id resolved at this moment,
    // `rowHint` first): the list may have been reloaded, sorted or edited
    // since the row was read. -1 when no row has the id.
    int rowOf(const QString &accountId, int rowHint = -1) const;
    // A cell of the account's row, read or written through its id; nothing
    // when the account is no longer listed.
    void setCellOf(const QString &accountId, int rowHint, int column, const QString &text);
    QString cellOf(const QString &accountId, int rowHint, int column) const;

    // Appends a row (missing cells empty) and returns its index.
    int appendRow(const QStringList &cells = {});
    // Out-of-range rows and columns are ignored.
    void setCell(int row, int column, const QString &text);
    void removeRow(int row);
    void clear();
    // Replaces every row at once (cells padded or cut as appendRow does), so
    // a reader on another thread sees either the old rows or the new ones.
    void replaceRows(const QList<QStringList> &rows);

signals:
    void rowAppended(const QStringList &cells);
    void cellChanged(int row, int column, const QString &text);
    void rowRemoved(int row);
    void cleared();
    void rowsReplaced(const QList<QStringList> &rows);

private:
    int rowOfLocked(const QString &accountId, int rowHint) const;

    // Recursive: a directly connected listener may read the table back.
    mutable std::recursive_mutex m_mutex;
    QList<QStringList> m_rows;
};
