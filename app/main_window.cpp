#include "app/main_window.h"

#include "app/window_builder.h"
#include "form/form.h"
#include "form/window_layout.h"

#include <QCloseEvent>
#include <QTableView>

MainWindow::MainWindow(Form &form, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setFixedSize(1026, 570);
    m_builder = new WindowBuilder(form, this, mainWindowLayout(), kMainStatusWidths, 3);
}

QTableView *MainWindow::accountView() const
{
    return qobject_cast<QTableView *>(m_builder->widget(QStringLiteral("超级列表框1")));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The destroy handling ends the process itself; the window stays until then.
    event->ignore();
    emit closeRequested();
}
