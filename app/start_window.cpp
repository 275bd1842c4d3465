#include "app/start_window.h"

#include "app/window_builder.h"
#include "form/form.h"
#include "form/window_layout.h"

#include <QCloseEvent>

StartWindow::StartWindow(Form &form, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("StartWindow"));
    setFixedSize(740, 180);
    m_builder = new WindowBuilder(form, this, startWindowLayout(), kStartStatusWidths, 2);
    // Hidden until the update check uses them.
    form.setEnabled(QStringLiteral("超级按钮_打开"), true);
    m_builder->widget(QStringLiteral("透明标签_更新"))->hide();
    m_builder->widget(QStringLiteral("超级按钮_打开"))->hide();
}

void StartWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    emit closeRequested();
}
