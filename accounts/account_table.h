#pragma once

#include <QList>
#include <QRecursiveMutex>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>

// Row of the account being edited or worked on (0-based), shared by the
// list view, the account commands and the upload job.
extern std::atomic<int> currentRow;

// The rows of the account list, 18 text cells each: the store in memory,
// which the upload job walks. Safe to read and write from any thread; every
// change is announced with its data, so a view on another thread can
// replay the changes in order.
class AccountTable final : public QObject {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 18;
    enum Column { Number = 0, Nickname = 1, Folder = 2, AccountId = 3, Status = 4, Publishing = 5, PublishedToday = 6, HomePage = 7 };

    static const QStringList &columnTitles();
    static const QList<int> &columnWidths();

    explicit AccountTable(QObject *parent = nullptr);

    int rowCount() const;
    QString cell(int row, int column) const;
    QStringList row(int row) const;
    // All rows, with `whileLocked` run before the copy under the same lock:
    // a view connects there and misses no change and replays none twice.
    QList<QStringList> snapshot(const std::function<void()> &whileLocked = {}) const;

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
    // Recursive: a directly connected listener may read the table back.
    mutable QRecursiveMutex m_mutex;
    QList<QStringList> m_rows;
};
