#include "tests/support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// The anchor a heading gets on the code host: lower case, spaces become
// hyphens, every character that is neither a letter, a mark, a digit, "_"
// nor "-" goes (so Chinese headings keep their characters); a repeated
// heading gets "-1", "-2"...
QString slugOf(const QString &heading)
{
    QString slug;
    for (const char32_t c : heading.toUcs4()) {
        const QString ch = QString::fromUcs4(&c, 1);
        if (c == U' ')
            slug += u'-';
        else if (c == U'-' || c == U'_' || QChar::isLetterOrNumber(c) || QChar::isMark(c))
            slug += ch.toLower();
    }
    return slug;
}

// The lines of a Markdown text outside fenced code blocks.
QStringList proseLines(const QString &text)
{
    QStringList out;
    bool fenced = false;
    for (const QString &line : text.split(u'\n')) {
        if (line.trimmed().startsWith(QStringLiteral("```"))) {
            fenced = !fenced;
            continue;
        }
        if (!fenced)
            out << line;
    }
    return out;
}

QSet<QString> anchorsOf(const QString &path)
{
    static const QRegularExpression heading(QStringLiteral("^#{1,6}\\s+(.*?)\\s*#*\\s*$"));
    QSet<QString> anchors;
    QHash<QString, int> seen;
    for (const QString &line : proseLines(QString::fromUtf8(testsupport::readAll(path)))) {
        const auto m = heading.match(line);
        if (!m.hasMatch())
            continue;
        const QString slug = slugOf(m.captured(1));
        const int n = seen[slug]++;
        anchors.insert(n == 0 ? slug : slug + u'-' + QString::number(n));
    }
    return anchors;
}

// Every relative link and image of the Markdown file at `path` whose file or
// heading does not exist, as "file: target".
QStringList brokenLinksOf(const QString &path, int *checked)
{
    static const QRegularExpression codeSpan(QStringLiteral("`[^`]*`"));
    static const QRegularExpression link(QStringLiteral("!?\\[[^\\]]*\\]\\(\\s*<?([^)\\s>]+)>?(?:\\s+\"[^\"]*\")?\\s*\\)"));
    static const QRegularExpression scheme(QStringLiteral("^[a-zA-Z][a-zA-Z0-9+.-]*:"));
    const QString name = QDir(testsupport::sourceDir()).relativeFilePath(path);
    const QDir here = QFileInfo(path).absoluteDir();
    QStringList broken;
    for (QString line : proseLines(QString::fromUtf8(testsupport::readAll(path)))) {
        line.remove(codeSpan);
        for (auto m = link.globalMatch(line); m.hasNext();) {
            const QString target = m.next().captured(1);
            if (scheme.match(target).hasMatch())
                continue;
            ++*checked;
            const qsizetype hash = target.indexOf(u'#');
            const QString file = QUrl::fromPercentEncoding(target.left(hash < 0 ? target.size() : hash).toUtf8());
            const QString anchor = hash < 0 ? QString() : QUrl::fromPercentEncoding(target.mid(hash + 1).toUtf8());
            const QString resolved = file.isEmpty() ? path : QDir::cleanPath(here.filePath(file));
            if (!QFileInfo::exists(resolved))
                broken << name + QStringLiteral(": ") + target + QStringLiteral(" (no such file)");
            else if (!anchor.isEmpty() && resolved.endsWith(QStringLiteral(".md")) && !anchorsOf(resolved).contains(anchor))
                broken << name + QStringLiteral(": ") + target + QStringLiteral(" (no such heading)");
        }
    }
    return broken;
}

} // namespace

TEST(DocLinks, SlugsFollowTheCodeHostsRules)
{
    EXPECT_EQ(slugOf(QStringLiteral("Lanes: several accounts at once")), QStringLiteral("lanes-several-accounts-at-once"));
    EXPECT_EQ(slugOf(QStringLiteral("`data/services.ini`")), QStringLiteral("dataservicesini"));
    EXPECT_EQ(slugOf(QStringLiteral("账号与登录 (login)")), QStringLiteral("账号与登录-login"));
}

TEST(DocLinks, EveryRelativeLinkOfTheReadmeAndTheDocumentsResolves)
{
    const QString root = testsupport::sourceDir();
    QStringList files{root + QStringLiteral("/README.md")};
    for (const QString &doc : QDir(root + QStringLiteral("/docs")).entryList({QStringLiteral("*.md")}, QDir::Files, QDir::Name))
        files << root + QStringLiteral("/docs/") + doc;
    int checked = 0;
    QStringList broken;
    for (const QString &file : files) {
        ASSERT_TRUE(QFileInfo::exists(file)) << file.toStdString();
        broken << brokenLinksOf(file, &checked);
    }
    EXPECT_GT(checked, 10); // the documents link to each other
    EXPECT_TRUE(broken.isEmpty()) << broken.join(u'\n').toStdString();
}
