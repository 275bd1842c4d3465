#include "base/message_box.h"

#include <QAtomicPointer>

#include <cstdio>

namespace messagebox {

namespace {
QAtomicPointer<Presenter> g_presenter;

Answer answerUnattended(const QString &title, const QString &text, Buttons buttons)
{
    const QByteArray line = (QStringLiteral("[") + title + QStringLiteral("] ") + text + u'\n').toLocal8Bit();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
    return buttons == Buttons::OkCancel ? Answer::Cancel : Answer::Ok;
}
} // namespace

void setPresenter(Presenter *presenter)
{
    g_presenter.storeRelease(presenter);
}

Answer show(const QString &text, const QString &title, Buttons buttons)
{
    const QString t = title.isEmpty() ? applicationTitle() : title;
    if (Presenter *p = g_presenter.loadAcquire())
        return p->show(t, text, buttons);
    return answerUnattended(t, text, buttons);
}

QString applicationTitle()
{
    return QStringLiteral("Tolvar视频批量发布");
}

} // namespace messagebox
