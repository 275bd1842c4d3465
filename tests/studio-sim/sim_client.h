#pragma once

#include "tests/support/sim_process.h"

#include <QByteArray>
#include <QJsonObject>

// A logged-in caller of the studio's page API, making the same requests as the
// upload page's script.
class SimClient final {
public:
    explicit SimClient(const testsupport::SimProcess &sim) : m_sim(sim) {}

    bool login(const QByteArray &name);
    testsupport::SimResponse get(const QByteArray &target) const;
    testsupport::SimResponse post(const QByteArray &target, const QByteArray &body) const;
    testsupport::SimResponse put(const QByteArray &target, const QByteArray &body) const;

    // Starts an upload; returns its id and the chunk size the server asks for.
    QString beginUpload(const QString &name, qint64 size, qint64 *chunk = nullptr) const;
    // Sends the bytes from offset on, chunk by chunk; returns the last answer.
    QJsonObject sendFrom(const QString &id, const QByteArray &bytes, qint64 offset, qint64 chunk) const;
    // beginUpload + sendFrom; returns the upload id.
    QString uploadAll(const QString &name, const QByteArray &bytes, QJsonObject *last = nullptr) const;
    testsupport::SimResponse publish(const QJsonObject &fields) const;

    QByteArray cookie() const { return m_cookie; }

private:
    const testsupport::SimProcess &m_sim;
    QByteArray m_cookie;
};

QJsonObject jsonOf(const testsupport::SimResponse &r);
// A short real MP4 clip made by ffmpeg (cached per test run).
QByteArray sampleMp4();
QString studioSimBinary();
