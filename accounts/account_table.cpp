#include "accounts/account_table.h"

#include <mutex>

std::atomic<int> currentRow{0};

const QStringList &AccountTable::columnTitles()
{
    static const QStringList titles = {
        QStringLiteral("序号"), QStringLiteral("昵称"), QStringLiteral("素材目录"), QStringLiteral("账号标识"),
        QStringLiteral("状态"), QStringLiteral("正在发布"), QStringLiteral("今天已发"), QStringLiteral("主页"),
        QStringLiteral("类目"), QStringLiteral("h已发布"), QStringLiteral("h审核中"), QStringLiteral("h发布失败"),
        QStringLiteral("s已发布"), QStringLiteral("s审核中"), QStringLiteral("s发布失败"), QStringLiteral("昨日收入"),
        QStringLiteral("本月"), QStringLiteral("总收入"), QStringLiteral("代理"), QStringLiteral("浏览器"),
    };
    return titles;
}

const QList<int> &AccountTable::columnWidths()
{
    static const QList<int> widths = {50, 66, 77, 66, 80, 80, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 140, 160};
    return widths;
}

AccountTable::AccountTable(QObject *parent)
    : QObject(parent)
{
}

int AccountTable::rowCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_rows.size());
}

QString AccountTable::cell(int row, int column) const
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= m_rows.size())
        return {};
    return m_rows[row].value(column);
}

QStringList AccountTable::row(int row) const
{
    std::lock_guard lock(m_mutex);
    return m_rows.value(row);
}

QList<QStringList> AccountTable::snapshot(const std::function<void()> &whileLocked) const
{
    std::lock_guard lock(m_mutex);
    if (whileLocked)
        whileLocked();
    return m_rows;
}

namespace {
QStringList fullRow(const QStringList &cells)
{
    QStringList full = cells.mid(0, AccountTable::kColumnCount);
    while (full.size() < AccountTable::kColumnCount)
        full.append(QString());
    return full;
}
} // namespace

int AccountTable::appendRow(const QStringList &cells)
{
    const QStringList full = fullRow(cells);
    int index = 0;
    {
        std::lock_guard lock(m_mutex);
        index = static_cast<int>(m_rows.size());
        m_rows.append(full);
        // Emitted under the lock so that listeners see changes in table order.
        emit rowAppended(full);
    }
    return index;
}

void AccountTable::setCell(int row, int column, const QString &text)
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= kColumnCount || m_rows[row][column] == text)
        return;
    m_rows[row][column] = text;
    emit cellChanged(row, column, text);
}

int AccountTable::rowOfLocked(const QString &accountId, int rowHint) const
{
    if (rowHint >= 0 && rowHint < m_rows.size() && m_rows[rowHint][AccountId] == accountId)
        return rowHint;
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row][AccountId] == accountId)
            return row;
    }
    return -1;
}

int AccountTable::rowOf(const QString &accountId, int rowHint) const
{
    std::lock_guard lock(m_mutex);
    return accountId.isEmpty() ? -1 : rowOfLocked(accountId, rowHint);
}

void AccountTable::setCellOf(const QString &accountId, int rowHint, int column, const QString &text)
{
    std::lock_guard lock(m_mutex);
    if (!accountId.isEmpty())
        setCell(rowOfLocked(accountId, rowHint), column, text);
}

QString AccountTable::cellOf(const QString &accountId, int rowHint, int column) const
{
    std::lock_guard lock(m_mutex);
    return accountId.isEmpty() ? QString() : cell(rowOfLocked(accountId, rowHint), column);
}

void AccountTable::removeRow(int row)
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows.removeAt(row);
    emit rowRemoved(row);
}

void AccountTable::clear()
{
    std::lock_guard lock(m_mutex);
    m_rows.clear();
    emit cleared();
}

void AccountTable::replaceRows(const QList<QStringList> &rows)
{
    QList<QStringList> full;
    full.reserve(rows.size());
    for (const QStringList &cells : rows)
        full.append(fullRow(cells));
    std::lock_guard lock(m_mutex);
    m_rows = full;
    emit rowsReplaced(full);
}
