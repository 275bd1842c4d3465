#include "tests/service/recording_view.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

void RecordingView::setStartStatus(int part, const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    if (part >= 0 && part < 3)
        m_startStatus[part] = text;
}

void RecordingView::setUpdateLabel(const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    m_labels.append(text);
}

void RecordingView::setOpenButtonCaption(const QString &caption)
{
    const QMutexLocker lock(&m_mutex);
    m_caption = caption;
}

void RecordingView::showOpenButton()
{
    const QMutexLocker lock(&m_mutex);
    m_buttonShown = true;
}

void RecordingView::setAdPicture(const QByteArray &imageBytes, const QString &tag)
{
    const QMutexLocker lock(&m_mutex);
    m_picture = imageBytes;
    m_tag = tag;
    m_pictureSet = true;
}

void RecordingView::setMainStatus(int part, const QString &text)
{
    const QMutexLocker lock(&m_mutex);
    if (part >= 0 && part < 4)
        m_mainStatus[part] = text;
}

QString RecordingView::startStatus(int part) const
{
    const QMutexLocker lock(&m_mutex);
    return m_startStatus[part];
}

QString RecordingView::mainStatus(int part) const
{
    const QMutexLocker lock(&m_mutex);
    return m_mainStatus[part];
}

QStringList RecordingView::labelTexts() const
{
    const QMutexLocker lock(&m_mutex);
    return m_labels;
}

QString RecordingView::openCaption() const
{
    const QMutexLocker lock(&m_mutex);
    return m_caption;
}

bool RecordingView::openButtonShown() const
{
    const QMutexLocker lock(&m_mutex);
    return m_buttonShown;
}

QByteArray RecordingView::picture() const
{
    const QMutexLocker lock(&m_mutex);
    return m_picture;
}

QString RecordingView::pictureTag() const
{
    const QMutexLocker lock(&m_mutex);
    return m_tag;
}

bool RecordingView::pictureSet() const
{
    const QMutexLocker lock(&m_mutex);
    return m_pictureSet;
}

RecordingPresenter::RecordingPresenter(messagebox::Answer answer)
    : m_answer(answer)
{
    messagebox::setPresenter(this);
}

RecordingPresenter::~RecordingPresenter()
{
    messagebox::setPresenter(nullptr);
}

messagebox::Answer RecordingPresenter::show(const QString &title, const QString &text, messagebox::Buttons)
{
    const QMutexLocker lock(&m_mutex);
    m_titles.append(title);
    m_texts.append(text);
    return m_answer;
}

QStringList RecordingPresenter::titles() const
{
    const QMutexLocker lock(&m_mutex);
    return m_titles;
}

QStringList RecordingPresenter::texts() const
{
    const QMutexLocker lock(&m_mutex);
    return m_texts;
}

bool waitUntil(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

ServiceConfig simConfig(int port)
{
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(port);
    ServiceConfig c;
    c.updateRootA = origin + QStringLiteral("/u1/");
    c.updateRootB = origin + QStringLiteral("/u2/");
    c.updateRootC = origin + QStringLiteral("/u3/");
    c.quoteUrl = origin + QStringLiteral("/quote/?encode=text");
    c.notifyHost = QStringLiteral("127.0.0.1:%1").arg(port);
    c.studioOrigin = origin;
    return c;
}

QByteArray simServicesIni(int port)
{
    const ServiceConfig c = simConfig(port);
    return QStringLiteral("[studio]\norigin=%1\n[update]\na=%2\nb=%3\nc=%4\n[quote]\nurl=%5\n[notify]\nhost=%6\ntarget=tolvar\n")
        .arg(c.studioOrigin, c.updateRootA, c.updateRootB, c.updateRootC, c.quoteUrl, c.notifyHost)
        .toUtf8();
}
