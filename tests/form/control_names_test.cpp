#include "form/form.h"
#include "form/window_layout.h"
#include "tests/support/test_support.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

// Every literal in the program's code that is shaped like a control name
// (编辑框_…, 按钮26, 状态条1 …) names a control of one of the two windows.
// Names of other shapes (开始, 放弃秒) are caught when they are used: the
// form warns, and the tests fail on that warning.
TEST(ControlNames, EveryControlShapedLiteralIsInTheControlTable)
{
    QSet<QString> known;
    for (const QList<ControlDef> *layout : {&mainWindowLayout(), &startWindowLayout()})
        for (const ControlDef &d : *layout)
            known.insert(d.name);

    static const QRegularExpression shape(QStringLiteral(
        "\"((?:编辑框|单选框|选择框|组合框|按钮|标签|分组框|选择夹|状态条|图片框|透明标签|超级按钮|超级列表框)(?:_[^\"]+|[0-9]+))\""));
    int literals = 0;
    QStringList unknown;
    for (const char *folder : {"accounts", "app", "form", "upload", "service", "runlog", "browser", "net", "base"}) {
        QDirIterator it(testsupport::sourceDir() + u'/' + QString::fromLatin1(folder), {"*.cpp", "*.h"}, QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.endsWith(u"/window_layout.cpp"))
                continue;
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
            const QString text = QString::fromUtf8(f.readAll());
            for (auto m = shape.globalMatch(text); m.hasNext();) {
                const QString name = m.next().captured(1);
                ++literals;
                if (!known.contains(name))
                    unknown << QFileInfo(path).fileName() + QStringLiteral(": ") + name;
            }
        }
    }
    EXPECT_GT(literals, 50); // the scan found the code
    EXPECT_TRUE(unknown.isEmpty()) << unknown.join(u'\n').toStdString();
}
