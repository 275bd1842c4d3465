#include "app/service_form_view.h"

#include "form/form.h"

namespace {
const QString kStatusBar = QStringLiteral("状态条1");
const QString kUpdateLabel = QStringLiteral("透明标签_更新");
const QString kOpenButton = QStringLiteral("超级按钮_打开");
const QString kPicture = QStringLiteral("图片框_广告");
} // namespace

ServiceFormView::ServiceFormView(Form &startForm, Form &mainForm)
    : m_startForm(startForm)
    , m_mainForm(mainForm)
{
}

void ServiceFormView::hideUpdateControls(Form &startForm)
{
    startForm.setVisible(kUpdateLabel, false);
    startForm.setVisible(kOpenButton, false);
}

void ServiceFormView::setStartStatus(int part, const QString &text)
{
    m_startForm.setPartText(kStatusBar, part, text);
}

void ServiceFormView::setUpdateLabel(const QString &text)
{
    m_startForm.setText(kUpdateLabel, text);
    m_startForm.setVisible(kUpdateLabel, true);
}

void ServiceFormView::setOpenButtonCaption(const QString &caption)
{
    m_startForm.setText(kOpenButton, caption);
}

void ServiceFormView::showOpenButton()
{
    m_startForm.setVisible(kOpenButton, true);
}

void ServiceFormView::setAdPicture(const QByteArray &imageBytes, const QString &tag)
{
    // The tag first: a click that sees the picture also finds its address.
    m_startForm.setTag(kPicture, tag);
    m_startForm.setImage(kPicture, imageBytes);
}

void ServiceFormView::setMainStatus(int part, const QString &text)
{
    m_mainForm.setPartText(kStatusBar, part, text);
}
