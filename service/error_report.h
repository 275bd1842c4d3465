#pragma once

#include "base/service_config.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

namespace errorreport {

// Shared with the notification service, which checks the sign with it.
inline constexpr char REPORT_SALT[] = "plovrenut48217x@@##590";

// What a report tells about the program and the error.
struct ErrorReport {
    QString hostName;        // at most 15 characters; empty when unknown
    QString programFileName; // without its folder
    QString runDirectory;
    QString operatingSystem;
    QString version;
    qint32 errorCode = 0;
    QString errorText;

    // The facts of the running program.
    static ErrorReport gather(qint32 errorCode, const QString &errorText);
    // Spaces removed, also those of the program's file name.
    QString title() const;
    QString body() const;
};

// GBK bytes for a query: "-", ".", digits and ASCII letters stay, a space is
// "+", a zero byte is dropped, every other byte is "%XX".
QString percentEncode(QByteArrayView bytes);

// Seconds from 1970-01-01 08:00:00 to the given local time, as ten digits.
QString unixSecondsText(const QDateTime &localTime);
QString unixSecondsText();

// "sign:" + MD5 hex of REPORT_SALT and the seconds text, "@", the seconds text.
QString buildSignHeader(const QString &secondsText);
QString buildSignHeader();

// The notification request for a report.
QString notificationUrl(const ServiceConfig &config, const ErrorReport &report);

// Sends the report and ignores the answer; a failure is silent to the user
// and kept in the diagnostic log.
void sendReport(const ServiceConfig &config, const ErrorReport &report);

// The fatal-error handler: tells the user in a notice box, then, once the
// box is closed, sends the report to the notification service.
void sendErrorReport(qint32 errorCode, const QString &errorText);

} // namespace errorreport
