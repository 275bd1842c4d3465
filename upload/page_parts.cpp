#include "upload/page_parts.h"

#include "browser/browser_library.h"
#include "upload/log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace pageparts {

namespace {

QString cleanTag(QString tag)
{
    tag = tag.trimmed();
    while (tag.startsWith(u'#') || tag.startsWith(QStringLiteral("＃")))
        tag = tag.mid(1).trimmed();
    return tag;
}

QString literal(const QJsonValue &value)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1).trimmed();
}

QString cssList(const studio::StudioDescription &description, studio::Role role)
{
    QJsonArray list;
    for (const studio::Selector &s : description.selectors(role))
        list.append(s.css);
    return literal(list);
}

} // namespace

QStringList splitFixedTags(const QString &text)
{
    return text.split(u'+', Qt::SkipEmptyParts);
}

QStringList chooseTags(TagMode mode, const QStringList &fixed, const QStringList &recommended, int count, int studioLimit)
{
    QStringList wanted;
    if (mode == TagMode::Fixed || mode == TagMode::Mixed)
        wanted = fixed;
    if (mode == TagMode::Recommended)
        wanted = recommended.mid(0, std::max(count, 0));
    QStringList out;
    QSet<QString> seen;
    const auto add = [&](const QString &raw) {
        const QString tag = cleanTag(raw);
        if (tag.isEmpty() || seen.contains(tag.toCaseFolded()))
            return;
        seen.insert(tag.toCaseFolded());
        out.append(tag);
    };
    for (const QString &t : wanted)
        add(t);
    if (mode == TagMode::Mixed) {
        for (const QString &t : recommended) {
            if (out.size() >= count)
                break;
            add(t);
        }
    }
    if (studioLimit > 0 && out.size() > studioLimit)
        out = out.mid(0, studioLimit);
    return out;
}

QStringList textsOf(BrowserLibrary &library, int pageId, const studio::StudioDescription &description, studio::Role role)
{
    if (!description.has(role))
        return {};
    const QString script = QStringLiteral(
                               "(() => { for (const s of %1) { const f = document.querySelectorAll(s);"
                               " if (f.length) return Array.from(f, e => (e.innerText || e.textContent || '').trim()); } return []; })()")
                               .arg(cssList(description, role));
    QStringList out;
    for (const QJsonValue &v : QJsonDocument::fromJson(library.evaluateScript(pageId, script).toUtf8()).array())
        out.append(v.toString());
    return out;
}

QList<Category> readCategoryTree(BrowserLibrary &library, int pageId, const studio::StudioDescription &description)
{
    using studio::Role;
    for (Role r : {Role::CategoryTreeFirst, Role::CategoryTreeSecond, Role::CategoryIdAttribute, Role::CategoryNameAttribute}) {
        if (!description.has(r)) {
            qCWarning(lcUpload) << "the studio description has no role" << studio::infoOf(r).name << ": the category tree cannot be read";
            return {};
        }
    }
    // Every first-level item with the second-level items inside it.
    const QString script = QStringLiteral(
                               "(() => { const pick = l => { for (const s of l) { const f = document.querySelectorAll(s); if (f.length) return [s, f]; } return ['', []]; };"
                               " const [, firsts] = pick(%1); const [second] = pick(%2); const id = %3, name = %4;"
                               " return Array.from(firsts, f => ({ id: Number(f.getAttribute(id)), name: f.getAttribute(name) || '',"
                               " children: second ? Array.from(f.querySelectorAll(second), c => ({ id: Number(c.getAttribute(id)), name: c.getAttribute(name) || '' })) : [] })); })()")
                               .arg(cssList(description, Role::CategoryTreeFirst), cssList(description, Role::CategoryTreeSecond),
                                    literal(description.text(Role::CategoryIdAttribute)), literal(description.text(Role::CategoryNameAttribute)));
    const QList<Category> tree = categoriesFromJson(library.evaluateScript(pageId, script).toUtf8());
    if (tree.isEmpty())
        qCWarning(lcUpload) << "page" << pageId << "shows no category tree";
    return tree;
}

QByteArray categoriesJson(const QList<Category> &tree)
{
    QJsonArray firsts;
    for (const Category &f : tree) {
        QJsonArray children;
        for (const Category &c : f.children)
            children.append(QJsonObject{{QStringLiteral("id"), c.id}, {QStringLiteral("name"), c.name}});
        firsts.append(QJsonObject{{QStringLiteral("id"), f.id}, {QStringLiteral("name"), f.name}, {QStringLiteral("children"), children}});
    }
    return QJsonDocument(firsts).toJson(QJsonDocument::Indented);
}

QList<Category> categoriesFromJson(const QByteArray &json)
{
    QList<Category> tree;
    for (const QJsonValue &f : QJsonDocument::fromJson(json).array()) {
        Category first{f[QStringLiteral("id")].toInteger(), f[QStringLiteral("name")].toString(), {}};
        if (first.id <= 0 || first.name.isEmpty())
            continue;
        for (const QJsonValue &c : f[QStringLiteral("children")].toArray()) {
            const Category child{c[QStringLiteral("id")].toInteger(), c[QStringLiteral("name")].toString(), {}};
            if (child.id > 0 && !child.name.isEmpty())
                first.children.append(child);
        }
        tree.append(first);
    }
    return tree;
}

QString withAttribute(const QString &css, const QString &attribute, qint64 value)
{
    return css + u'[' + attribute + QStringLiteral("=\"") + QString::number(value) + QStringLiteral("\"]");
}

} // namespace pageparts
