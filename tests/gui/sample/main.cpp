// Runs one test class of the program's window tests, chosen by the first argument.

#include <QApplication>
#include <QTest>

#include <cstring>
#include <memory>

#include "DimPercentageTest.h"
#include "LineFaultsTest.h"
#include "ProgramFlowTest.h"
#include "WindowLayoutTest.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        qCritical("usage: %s ProgramFlowTest|WindowLayoutTest|DimPercentageTest|LineFaultsTest [QtTest options]",
                  argv[0]);
        return 2;
    }
    std::unique_ptr<QObject> test;
    if (std::strcmp(argv[1], "ProgramFlowTest") == 0)
        test = std::make_unique<ProgramFlowTest>();
    else if (std::strcmp(argv[1], "WindowLayoutTest") == 0)
        test = std::make_unique<WindowLayoutTest>();
    else if (std::strcmp(argv[1], "DimPercentageTest") == 0)
        test = std::make_unique<DimPercentageTest>();
    else if (std::strcmp(argv[1], "LineFaultsTest") == 0)
        test = std::make_unique<LineFaultsTest>();
    if (!test) {
        qCritical("unknown test class %s", argv[1]);
        return 2;
    }
    // QtTest reads its options after the program name.
    argv[1] = argv[0];
    return QTest::qExec(test.get(), argc - 1, argv + 1);
}
