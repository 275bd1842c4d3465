#pragma once

#include <QString>

// Message boxes of the program. Window code installs a presenter that shows
// real boxes on the user-interface thread; without one (headless runs,
// tests) the title and text go to standard error and the box is answered
// without a person: OK where it has only OK, Cancel where it offers Cancel.
namespace messagebox {

enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

class Presenter {
public:
    virtual ~Presenter() = default;
    virtual Answer show(const QString &title, const QString &text, Buttons buttons) = 0;
};

// The presenter stays owned by the caller; nullptr restores the default.
void setPresenter(Presenter *presenter);

// An empty title means the application title.
Answer show(const QString &text, const QString &title = {}, Buttons buttons = Buttons::Ok);

// "Tolvar视频批量发布"
QString applicationTitle();

} // namespace messagebox
