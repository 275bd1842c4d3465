#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    QString runDir;
    bool headless = false;
    bool start = false;
    bool exitWhenDone = false;
    bool verbose = false;
    int lanes = 0; // --lanes N; 0 = as the window says
    bool showVersion = false;
    bool showHelp = false;
    QString error;
};

// Parses the program's arguments (without needing an application object,
// so that --headless can choose the platform before one exists).
CommandLine parseCommandLine(const QStringList &arguments);
QString helpText();
QString versionText();
