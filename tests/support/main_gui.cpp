#include "tests/support/test_main.h"

#include <QApplication>

int main(int argc, char **argv)
{
    testsupport::prepareTestProcess();
    QApplication app(argc, argv);
    return testsupport::runAllTests(argc, argv);
}
