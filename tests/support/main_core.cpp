#include "tests/support/test_main.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    testsupport::prepareTestProcess();
    QCoreApplication app(argc, argv);
    return testsupport::runAllTests(argc, argv);
}
