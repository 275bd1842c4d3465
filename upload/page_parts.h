#pragma once

#include "studio/studio_description.h"

#include <QList>
#include <QString>
#include <QStringList>

class BrowserLibrary;

// The parts of the upload page beyond the file and its cover: tags and the
// category tree.
namespace pageparts {

enum class TagMode { None, Fixed, Recommended, Mixed };

// The tags a video gets: the fixed ones (a video's own tags take their
// place), the studio's recommended ones, or the fixed ones topped up with
// recommended ones to `count` in all. Without a leading '#', none twice
// (letter case aside), none empty, at most `studioLimit` (0: no limit).
QStringList chooseTags(TagMode mode, const QStringList &fixed, const QStringList &recommended, int count, int studioLimit);
// "原创+视频" -> {"原创", "视频"}
QStringList splitFixedTags(const QString &text);

// The texts of every match of the role's first selector that matches
// (empty when none does or the page gives no answer).
QStringList textsOf(BrowserLibrary &library, int pageId, const studio::StudioDescription &description, studio::Role role);

struct Category {
    qint64 id = 0;
    QString name;
    QList<Category> children;
};
// The studio's category tree as its page holds it; empty (logged) when the
// description lacks the roles or the page has none.
QList<Category> readCategoryTree(BrowserLibrary &library, int pageId, const studio::StudioDescription &description);
// The tree as JSON and back (data/categories.json).
QByteArray categoriesJson(const QList<Category> &tree);
QList<Category> categoriesFromJson(const QByteArray &json);

// The role's selectors narrowed to the element whose attribute has the value.
QString withAttribute(const QString &css, const QString &attribute, qint64 value);

} // namespace pageparts
