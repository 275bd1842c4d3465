#include "studio/page_census.h"

#include "browser/browser_library.h"
#include "studio/log.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace studio {

bool Census::matched(Role role) const
{
    return std::any_of(selectors.begin(), selectors.end(), [role](const SelectorCount &s) { return s.role == role && s.found(); });
}

std::optional<Role> Census::firstMissingOnFreshPage() const
{
    for (const RoleInfo &info : allRoles()) {
        if (info.kind == RoleKind::Element && info.freshPage && !matched(info.role))
            return info.role;
    }
    return std::nullopt;
}

QString Census::refusedRole() const
{
    for (const SelectorCount &s : selectors) {
        if (s.refused)
            return QString::fromLatin1(infoOf(s.role).name);
    }
    return {};
}

QString Census::text() const
{
    QString out;
    for (const RoleInfo &info : allRoles()) {
        if (info.kind != RoleKind::Element)
            continue;
        QStringList parts;
        for (const SelectorCount &s : selectors) {
            if (s.role == info.role)
                parts << QStringLiteral("%1 #%2: %3").arg(s.css).arg(std::max(s.index, 1)).arg(s.refused ? QStringLiteral("refused by the browser")
                                                                                               : QStringLiteral("%1 on the page").arg(s.matches));
        }
        if (parts.isEmpty()) {
            out += QStringLiteral("  %1 %2: (not in the description)\n").arg(QString::fromLatin1(info.name), QString::fromUtf8(info.label));
            continue;
        }
        out += QStringLiteral("  %1 %2: %3 (%4)\n")
                   .arg(QString::fromLatin1(info.name), QString::fromUtf8(info.label), matched(info.role) ? QStringLiteral("found") : QStringLiteral("MISSING"),
                        parts.join(QStringLiteral("; ")));
    }
    return out;
}

std::optional<Census> takeCensus(BrowserLibrary &library, int pageId, const StudioDescription &description)
{
    Census census;
    QJsonArray list;
    for (const RoleInfo &info : allRoles()) {
        if (info.kind != RoleKind::Element)
            continue;
        for (const Selector &s : description.selectors(info.role)) {
            census.selectors.append({info.role, s.css, s.index});
            list.append(s.css);
        }
    }
    // The selectors go in as one JSON literal: page text never becomes code.
    const QString literal = QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
    const QString script = QStringLiteral("(%1).map(s => { try { return document.querySelectorAll(s).length; } catch (e) { return -1; } })").arg(literal);
    const QString answer = library.evaluateScript(pageId, script);
    const QJsonArray counts = QJsonDocument::fromJson(answer.toUtf8()).array();
    if (counts.size() != census.selectors.size()) {
        qCWarning(lcStudio) << "no census of page" << pageId << ": the page gave no answer";
        return std::nullopt;
    }
    for (qsizetype i = 0; i < counts.size(); ++i) {
        const int n = counts.at(i).toInt(-1);
        census.selectors[i].refused = n < 0;
        census.selectors[i].matches = std::max(n, 0);
    }
    census.address = library.form_get_page_url(pageId);
    return census;
}

std::function<std::optional<QString>(const StudioDescription &)> selectorCheckOn(BrowserLibrary &library, int pageId)
{
    return [&library, pageId](const StudioDescription &description) -> std::optional<QString> {
        const std::optional<Census> census = takeCensus(library, pageId, description);
        if (!census)
            return std::nullopt;
        return census->refusedRole();
    };
}

QString roleWithSelector(const StudioDescription &description, Role role)
{
    return QString::fromUtf8(infoOf(role).label) + QStringLiteral("（") + description.firstSelector(role) + QStringLiteral("）");
}

} // namespace studio
