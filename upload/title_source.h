#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

class Form;

// The title of one attempt at a video and where it came from.
struct TitleChoice {
    QString title;          // prefix + chosen text + suffix: typed and recorded
    QStringList tags;       // of the video's metadata text, when it has one
    bool libraryEmpty = false; // the library was asked for but holds no title
};

// Decides a video's title from the settings of the page 标题选项: the
// video's metadata text first, then the file name (单选框3, or no radio of
// the group ticked) or a line of the title library 编辑框3, at random
// (单选框4) or in order (单选框5). The order is one position for the whole
// program, under data/title-position.json, so it goes on across accounts,
// lanes and restarts; a library that changed starts at its first line.
class TitleSource final {
public:
    explicit TitleSource(Form &form);

    // Chooses once per attempt: a library in order moves on by one line.
    TitleChoice choose(const QString &videoPath);
    // True the first time this run the library was found empty.
    bool firstEmptyThisRun() { return !m_saidEmpty.exchange(true); }

    // The titles of a library text: one a line, trimmed, blank lines left out.
    static QStringList libraryLines(const QString &text);
    // data/title-position.json under the run directory.
    static QString positionFilePath();

private:
    // The library line to take next, and the position kept past it.
    static QString nextInOrder(const QStringList &lines);

    Form &m_form;
    std::atomic<bool> m_saidEmpty{false};
};
