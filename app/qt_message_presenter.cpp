#include "app/qt_message_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {
messagebox::Answer ask(const QString &title, const QString &text, messagebox::Buttons buttons)
{
    const bool cancel = buttons == messagebox::Buttons::OkCancel;
    QMessageBox box(QMessageBox::NoIcon, title, text, cancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok, QApplication::activeWindow());
    return box.exec() == QMessageBox::Ok ? messagebox::Answer::Ok : messagebox::Answer::Cancel;
}
} // namespace

messagebox::Answer QtMessagePresenter::show(const QString &title, const QString &text, messagebox::Buttons buttons)
{
    if (QThread::currentThread() == qApp->thread())
        return ask(title, text, buttons);
    messagebox::Answer answer = messagebox::Answer::Cancel;
    QMetaObject::invokeMethod(qApp, [&] { answer = ask(title, text, buttons); }, Qt::BlockingQueuedConnection);
    return answer;
}
