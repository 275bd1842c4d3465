#pragma once

#include "service/service_view.h"

class Form;

// The maintenance services write into the start window's and the main
// window's forms; the widgets follow on the user-interface thread.
class ServiceFormView final : public ServiceView {
public:
    ServiceFormView(Form &startForm, Form &mainForm);

    void setStartStatus(int part, const QString &text) override;
    void setUpdateLabel(const QString &text) override;
    void setOpenButtonCaption(const QString &caption) override;
    void showOpenButton() override;
    void setAdPicture(const QByteArray &imageBytes, const QString &tag) override;
    void setMainStatus(int part, const QString &text) override;

    // The start window's controls that stay hidden until the update check
    // uses them.
    static void hideUpdateControls(Form &startForm);

private:
    Form &m_startForm;
    Form &m_mainForm;
};
