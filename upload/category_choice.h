#pragma once

#include "upload/page_parts.h"

#include <QList>

class Form;

// The studio's category tree as the window's two combo boxes offer it:
// 组合框_一级分类 lists the first level, 组合框_二级分类 the children of the
// chosen one; each item's value is the studio's category id. The tree is
// kept in data/categories.json, so a restart offers the same children.
namespace categories {

QString treePath();
// Writes the tree atomically; false (logged) when it could not be saved.
bool keepTree(const QList<pageparts::Category> &tree);
QList<pageparts::Category> keptTree();

// Fills the first level (no item chosen) and empties the second.
void fillFirstLevel(Form &form, const QList<pageparts::Category> &tree);
// The children of the chosen first-level item into the second box; the
// chosen second item stays when it is among them.
void fillSecondLevel(Form &form, const QList<pageparts::Category> &tree);

} // namespace categories
