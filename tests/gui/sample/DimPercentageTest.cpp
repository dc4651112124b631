// The dim percentage (five per slider step, with overflow detection) and the run-time error
// text shown at the edge of a handler.

#include "DimPercentageTest.h"

#include <QTest>

#include <climits>

#include "platform/automation/RuntimeError.h"
#include "sample/DimPercentage.h"
#include "sample/HandlerEdge.h"
#include "tests/support/RuntimeErrors.h"

using quenvar::automation::RuntimeError;
using quenvar::testing::errorNumberOf;
using namespace quenvar::sample;

void DimPercentageTest::percentage_data() {
    QTest::addColumn<int>("sliderValue");
    QTest::addColumn<QString>("caption");  // empty: 32-bit overflow
    QTest::addColumn<int>("argument");     // the 16-bit command argument
    QTest::addColumn<bool>("argumentOverflows");
    QTest::newRow("0") << 0 << "0%" << 0 << false;
    QTest::newRow("3") << 3 << "15%" << 15 << false;
    QTest::newRow("7") << 7 << "35%" << 35 << false;
    QTest::newRow("20") << 20 << "100%" << 100 << false;
    QTest::newRow("negative") << -4 << "-20%" << -20 << false;
    QTest::newRow("largest 16-bit product") << 6553 << "32765%" << 32765 << false;
    QTest::newRow("past 16 bits") << 6554 << "32770%" << 0 << true;
    QTest::newRow("smallest 16-bit product") << -6553 << "-32765%" << -32765 << false;
    QTest::newRow("below 16 bits") << -6554 << "-32770%" << 0 << true;
    QTest::newRow("large, no separators") << 200000 << "1000000%" << 0 << true;
    QTest::newRow("largest 32-bit product") << INT_MAX / 5 << "2147483645%" << 0 << true;
    QTest::newRow("past 32 bits") << INT_MAX / 5 + 1 << "" << 0 << true;
    QTest::newRow("below 32 bits") << INT_MIN / 5 - 1 << "" << 0 << true;
}

void DimPercentageTest::percentage() {
    QFETCH(int, sliderValue);
    QFETCH(QString, caption);
    QFETCH(int, argument);
    QFETCH(bool, argumentOverflows);
    if (caption.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(RuntimeError, dimPercentageCaption(sliderValue));
        QCOMPARE(errorNumberOf([&] { dimPercentage(sliderValue); }), 6);
    } else {
        QCOMPARE(QString::fromStdString(dimPercentageCaption(sliderValue)), caption);
    }
    if (argumentOverflows) {
        QCOMPARE(errorNumberOf([&] { dimValueArgument(sliderValue); }), 6);
    } else {
        QCOMPARE(dimValueArgument(sliderValue), static_cast<std::int16_t>(argument));
    }
}

void DimPercentageTest::errorText_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("description");  // a single-byte text, as errors carry it
    QTest::addColumn<QString>("text");
    QTest::newRow("type mismatch") << 13 << QByteArray("Type mismatch") << "Run-time error '13':\n\nType mismatch";
    QTest::newRow("overflow") << 6 << QByteArray("Overflow") << "Run-time error '6':\n\nOverflow";
    QTest::newRow("serial") << 8002 << QByteArray("Invalid port number")
                            << "Run-time error '8002':\n\nInvalid port number";
    QTest::newRow("automation code") << static_cast<int>(0x80020005u) << QByteArray("Type mismatch in argument")
                                     << "Run-time error '-2147352571 (80020005)':\n\nType mismatch in argument";
    QTest::newRow("Latin-1 description") << 57 << QByteArray("Ger\xe4t")
                                         << QStringLiteral("Run-time error '57':\n\nGer\u00e4t");
}

void DimPercentageTest::errorText() {
    QFETCH(int, number);
    QFETCH(QByteArray, description);
    QFETCH(QString, text);
    QCOMPARE(runtimeErrorText(RuntimeError(number, description.toStdString())), text);
}
