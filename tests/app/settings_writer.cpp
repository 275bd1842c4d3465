// Saves the main window's settings over and over, each time with a new
// generation number, until it is killed.
#include "form/form.h"
#include "app/settings_file.h"
#include "form/window_layout.h"
#include "base/run_directory.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    rundir::set(QString::fromLocal8Bit(argv[1]));
    Form form;
    declareControls(form, mainWindowLayout());
    form.setText(QStringLiteral("编辑框3"), QString(8000, QChar(u'x')));
    for (long generation = 1;; ++generation) {
        const QString g = QString::number(generation);
        form.setText(QStringLiteral("编辑框_账号序列"), g);
        form.setText(QStringLiteral("编辑框_混合标签个数"), g);
        settings::saveSettings(form);
        if (generation == 1) {
            std::puts("saved");
            std::fflush(stdout);
        }
    }
}
