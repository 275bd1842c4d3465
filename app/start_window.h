#pragma once

#include <QWidget>

class Form;
class WindowBuilder;

// The window shown while the program starts; the start-up checks and the
// announcement write into its status bar, label and picture.
class StartWindow final : public QWidget {
    Q_OBJECT
public:
    explicit StartWindow(Form &form, QWidget *parent = nullptr);

    WindowBuilder &builder() { return *m_builder; }

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    WindowBuilder *m_builder = nullptr;
};
