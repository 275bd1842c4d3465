#pragma once

#include "browser/browser_library.h"

#include <QString>
#include <QStringList>

// Where browsers are looked for and how one is started for an account.
namespace browserdiscovery {

// Usual install places of Chrome, Edge and Chromium on this system, in that order.
QStringList installCandidates();
// Executable names searched on the PATH after the install places.
QStringList pathNames();
// The first candidate that is an executable file, else the first name found
// on the PATH; empty when there is none.
QString findInstalledBrowser();
bool isExecutableFile(const QString &path);

// Command line (without the pipe argument) for a browser on the options'
// profile showing url.
QStringList launchArguments(const BrowserStartOptions &options, const QString &url);
// The command line for a browser another program starts on another machine
// (a Grid node's driver): the profile path as given there, no start address,
// no pipe, no sandbox choice of ours.
QStringList remoteArguments(const BrowserStartOptions &options);

} // namespace browserdiscovery
