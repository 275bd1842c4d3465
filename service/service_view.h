#pragma once

#include <QByteArray>
#include <QString>

// Where the maintenance services show what they learn: the start window's
// status bar, update label, open button and announcement picture, and the
// main window's status bar. The services call it from their worker threads,
// so an implementation must only change models, never widgets.
class ServiceView {
public:
    virtual ~ServiceView() = default;

    virtual void setStartStatus(int part, const QString &text) = 0;
    // Sets the update label's text and makes the label visible.
    virtual void setUpdateLabel(const QString &text) = 0;
    virtual void setOpenButtonCaption(const QString &caption) = 0;
    virtual void showOpenButton() = 0;
    virtual void setAdPicture(const QByteArray &imageBytes, const QString &tag) = 0;
    virtual void setMainStatus(int part, const QString &text) = 0;
};
