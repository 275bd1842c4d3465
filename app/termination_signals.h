#pragma once

#include <QObject>

// Turns SIGINT and SIGTERM into a Qt signal on the user-interface thread,
// so that they end the program through the window's destroy handling.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);

signals:
    void terminationRequested();
};
