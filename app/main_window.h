#pragma once

#include <QWidget>

class Form;
class WindowBuilder;
class QTableView;

// The working window: the widgets of the window design bound to the form.
class MainWindow final : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(Form &form, QWidget *parent = nullptr);

    WindowBuilder &builder() { return *m_builder; }
    QTableView *accountView() const;

signals:
    // The close box was used; the owner runs the destroy handling.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    WindowBuilder *m_builder = nullptr;
};
