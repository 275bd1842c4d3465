#pragma once

#include "base/message_box.h"

// Shows message boxes with QMessageBox on the user-interface thread, also
// when a worker thread asks (the worker waits for the answer).
class QtMessagePresenter final : public messagebox::Presenter {
public:
    messagebox::Answer show(const QString &title, const QString &text, messagebox::Buttons buttons) override;
};
