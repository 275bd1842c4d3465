#include "tests/support/test_support.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The folder table of docs/architecture.md: folder -> the folders it may include.
QHash<QString, QSet<QString>> allowedIncludes()
{
    QHash<QString, QSet<QString>> allowed;
    const QString doc = QString::fromUtf8(testsupport::readAll(testsupport::sourceDir() + QStringLiteral("/docs/architecture.md")));
    const qsizetype from = doc.indexOf(QStringLiteral("\n## Folders"));
    if (from < 0)
        return allowed;
    const qsizetype to = doc.indexOf(QStringLiteral("\n## "), from + 1);
    static const QRegularExpression row(QStringLiteral("^\\| `([a-z]+)/` \\|[^|]*\\| ([^|]*) \\|$"), QRegularExpression::MultilineOption);
    static const QRegularExpression folder(QStringLiteral("`([a-z]+)/`"));
    for (auto m = row.globalMatch(doc.mid(from, to - from)); m.hasNext();) {
        const auto r = m.next();
        QSet<QString> targets;
        for (auto f = folder.globalMatch(r.captured(2)); f.hasNext();)
            targets.insert(f.next().captured(1));
        allowed.insert(r.captured(1), targets);
    }
    return allowed;
}

struct Include {
    QString file;
    QString target;
};

QList<Include> includesOf(const QString &folder)
{
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+\"([a-z_-]+)/[^\"]+\""), QRegularExpression::MultilineOption);
    QList<Include> out;
    QDirIterator it(testsupport::sourceDir() + u'/' + folder, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString text = QString::fromUtf8(testsupport::readAll(path));
        for (auto m = include.globalMatch(text); m.hasNext();)
            out.append({folder + u'/' + QFileInfo(path).fileName(), m.next().captured(1)});
    }
    return out;
}

} // namespace

TEST(IncludeRules, EveryFolderIncludesOnlyWhatTheArchitectureAllows)
{
    const auto allowed = allowedIncludes();
    // Every library folder of the program has its row.
    for (const char *folder : {"app", "upload", "accounts", "service", "studio", "form", "browser", "net", "runlog", "base"})
        ASSERT_TRUE(allowed.contains(QString::fromLatin1(folder))) << "docs/architecture.md has no row for " << folder << "/";
    QStringList wrong;
    int seen = 0;
    for (auto it = allowed.cbegin(); it != allowed.cend(); ++it) {
        for (const Include &inc : includesOf(it.key())) {
            ++seen;
            if (inc.target != it.key() && !it.value().contains(inc.target))
                wrong << inc.file + QStringLiteral(" includes ") + inc.target + u'/';
        }
    }
    EXPECT_GT(seen, 200); // the scan found the code
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(u'\n').toStdString();
}

TEST(IncludeRules, TheAllowedIncludesFormNoCycle)
{
    const auto allowed = allowedIncludes();
    ASSERT_FALSE(allowed.isEmpty());
    // Depth-first search over the allowed edges; a folder met again on the
    // current path closes a cycle.
    QHash<QString, int> state; // 1 on the path, 2 done
    QStringList path;
    QString cycle;
    std::function<void(const QString &)> visit = [&](const QString &folder) {
        state[folder] = 1;
        path << folder;
        for (const QString &next : allowed.value(folder)) {
            if (!cycle.isEmpty())
                break;
            if (state.value(next) == 1)
                cycle = (path.mid(path.indexOf(next)) << next).join(QStringLiteral(" -> "));
            else if (state.value(next) == 0)
                visit(next);
        }
        path.removeLast();
        state[folder] = 2;
    };
    for (auto it = allowed.cbegin(); it != allowed.cend() && cycle.isEmpty(); ++it)
        if (state.value(it.key()) == 0)
            visit(it.key());
    EXPECT_TRUE(cycle.isEmpty()) << cycle.toStdString();
}
