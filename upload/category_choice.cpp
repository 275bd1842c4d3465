#include "upload/category_choice.h"

#include "base/atomic_file.h"
#include "base/run_directory.h"
#include "form/form.h"
#include "upload/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace categories {

namespace {
const QString kFirst = QStringLiteral("组合框_一级分类");
const QString kSecond = QStringLiteral("组合框_二级分类");
} // namespace

QString treePath()
{
    return rundir::join(u"data/categories.json");
}

bool keepTree(const QList<pageparts::Category> &tree)
{
    const QString path = treePath();
    if (QDir().mkpath(QFileInfo(path).absolutePath()) && writeFileAtomic(path, pageparts::categoriesJson(tree)))
        return true;
    qCWarning(lcUpload) << "the category tree could not be saved as" << path;
    return false;
}

QList<pageparts::Category> keptTree()
{
    QFile file(treePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return pageparts::categoriesFromJson(file.read(4 * 1024 * 1024));
}

void fillFirstLevel(Form &form, const QList<pageparts::Category> &tree)
{
    QList<ComboItem> items;
    for (const pageparts::Category &c : tree)
        items.append({c.name, c.id});
    form.setComboItems(kFirst, items, -1);
    form.setComboItems(kSecond, {}, -1);
}

void fillSecondLevel(Form &form, const QList<pageparts::Category> &tree)
{
    const qint64 first = form.comboItems(kFirst).value(form.comboIndex(kFirst)).value;
    const qint64 chosen = form.comboItems(kSecond).value(form.comboIndex(kSecond)).value;
    QList<ComboItem> items;
    int index = -1;
    for (const pageparts::Category &c : tree) {
        if (c.id != first)
            continue;
        for (const pageparts::Category &child : c.children) {
            if (child.id == chosen)
                index = static_cast<int>(items.size());
            items.append({child.name, child.id});
        }
    }
    if (items != form.comboItems(kSecond) || index != form.comboIndex(kSecond))
        form.setComboItems(kSecond, items, index);
}

} // namespace categories
