#pragma once

#include <QObject>

// Turns SIGINT and SIGTERM (on Windows: Ctrl+C, Ctrl+Break and the closing
// of the console) into a Qt signal on the user-interface thread, so that
// they end the program through the window's destroy handling.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested();
};
