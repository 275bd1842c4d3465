#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

namespace testsupport {

// What every test main does before it makes its application object: the
// crash trace, and Qt's offscreen platform unless one is set.
void prepareTestProcess();

// Runs the tests and ends the process. While they run, a warning that code
// used a control name the form does not have fails the running test.
int runAllTests(int &argc, char **argv);

// For a test that uses unknown control names on purpose: while it lives,
// those warnings are counted instead of failing the test.
class ExpectUnknownControls final {
public:
    ExpectUnknownControls();
    ~ExpectUnknownControls();
    ExpectUnknownControls(const ExpectUnknownControls &) = delete;
    ExpectUnknownControls &operator=(const ExpectUnknownControls &) = delete;
    int count() const;
};

// Collects the diagnostic messages logged while it lives, as
// "category: message" lines (any level, debug included).
class LogCapture final {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    QStringList lines() const;
    // The lines that contain every one of the parts.
    QStringList linesWith(const QStringList &parts) const;
};

} // namespace testsupport
