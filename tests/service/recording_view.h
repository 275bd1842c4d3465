#pragma once

#include "base/message_box.h"
#include "base/service_config.h"
#include "service/service_view.h"

#include <QMutex>
#include <QStringList>

#include <functional>

// Records what the services show, from whichever thread they run on.
class RecordingView final : public ServiceView {
public:
    void setStartStatus(int part, const QString &text) override;
    void setUpdateLabel(const QString &text) override;
    void setOpenButtonCaption(const QString &caption) override;
    void showOpenButton() override;
    void setAdPicture(const QByteArray &imageBytes, const QString &tag) override;
    void setMainStatus(int part, const QString &text) override;

    QString startStatus(int part) const;
    QString mainStatus(int part) const;
    QStringList labelTexts() const;
    QString openCaption() const;
    bool openButtonShown() const;
    QByteArray picture() const;
    QString pictureTag() const;
    bool pictureSet() const;

private:
    mutable QMutex m_mutex;
    QString m_startStatus[3];
    QString m_mainStatus[4];
    QStringList m_labels;
    QString m_caption;
    bool m_buttonShown = false;
    QByteArray m_picture;
    QString m_tag;
    bool m_pictureSet = false;
};

// Answers every message box with a fixed answer and keeps title and text.
class RecordingPresenter final : public messagebox::Presenter {
public:
    explicit RecordingPresenter(messagebox::Answer answer);
    ~RecordingPresenter() override;
    messagebox::Answer show(const QString &title, const QString &text, messagebox::Buttons buttons) override;

    QStringList titles() const;
    QStringList texts() const;

private:
    mutable QMutex m_mutex;
    messagebox::Answer m_answer;
    QStringList m_titles;
    QStringList m_texts;
};

// Polls `condition` for up to `ms`, letting Qt events run.
bool waitUntil(const std::function<bool()> &condition, int ms = 20000);

// The service endpoints of a simulator on `port`.
ServiceConfig simConfig(int port);
// The same as a services.ini text.
QByteArray simServicesIni(int port);
