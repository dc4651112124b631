#include <QCoreApplication>
#include <QLoggingCategory>

#include "commandline/Program.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The serial component's warnings repeat what quenvar itself says on standard error;
    // QT_LOGGING_RULES still turns them (and the wire's hex dump) on.
    QLoggingCategory::setFilterRules(QStringLiteral("quenvar.serial.warning=false"));
    return quenvar::commandline::runProgram(QCoreApplication::arguments());
}
