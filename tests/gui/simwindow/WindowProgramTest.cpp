// x10sim --window as a person starts it: with a display (offscreen) it prints and serves
// exactly as without a window; without one it says so in one line and fails.

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "tests/support/ComputerSide.h"
#include "tests/support/RunningProgram.h"

namespace {

using quenvar::testing::ComputerSide;
using quenvar::testing::RunningProgram;

QProcessEnvironment environmentWithout(const QStringList& names) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : names) environment.remove(name);
    return environment;
}

const QStringList displayVariables{QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"),
                                   QStringLiteral("QT_QPA_PLATFORM")};

}  // namespace

class WindowProgramTest : public QObject {
    Q_OBJECT

private slots:
    void withoutDisplayItSaysSoInOneLine_data() {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("mentioned");
        QTest::newRow("no DISPLAY") << QString() << QString() << QStringLiteral("DISPLAY is not set");
        // Display numbers far above anything a test machine runs.
        QTest::newRow("DISPLAY with no server")
            << QStringLiteral(":5817") << QString() << QStringLiteral("DISPLAY=:5817");
        QTest::newRow("X platform asked for, no DISPLAY")
            << QString() << QStringLiteral("xcb") << QStringLiteral("DISPLAY is not set");
        QTest::newRow("Wayland asked for, no compositor")
            << QString() << QStringLiteral("wayland") << QStringLiteral("WAYLAND_DISPLAY");
    }

    void withoutDisplayItSaysSoInOneLine() {
        QFETCH(QString, display);
        QFETCH(QString, platform);
        QFETCH(QString, mentioned);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString link = folder.filePath(QStringLiteral("comm1"));

        QProcessEnvironment environment = environmentWithout(displayVariables);
        if (!display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), display);
        if (!platform.isEmpty()) environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(X10SIM_PROGRAM), {QStringLiteral("--window"), QStringLiteral("--link"), link});
        QVERIFY(program.waitForFinished(10000));

        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(errors.count(QLatin1Char('\n')), 1);
        QVERIFY2(errors.startsWith(QStringLiteral("x10sim: --window needs a display")), qPrintable(errors));
        QVERIFY2(errors.contains(mentioned), qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("without --window")), qPrintable(errors));
        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void helpNeedsNoDisplay() {
        QProcess program;
        program.setProcessEnvironment(environmentWithout(displayVariables));
        program.start(QStringLiteral(X10SIM_PROGRAM), {QStringLiteral("--window"), QStringLiteral("--help")});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(program.readAllStandardOutput().contains("--window"));
    }

    void withWindowTheTerminalStillGetsEveryLine() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString link = folder.filePath(QStringLiteral("comm1"));
        QProcessEnvironment environment = environmentWithout(displayVariables);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        RunningProgram program(QStringLiteral(X10SIM_PROGRAM),
                               {QStringLiteral("--window"), QStringLiteral("--link"), link}, environment);
        QVERIFY(program.process().waitForStarted());

        const QString device = program.nextLine();
        QVERIFY2(device.startsWith(QStringLiteral("/dev/pts/")),
                 qPrintable(device + program.process().readAllStandardError()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), device);

        ComputerSide computer(link);
        QVERIFY2(computer.isOpen(), qPrintable(computer.openError()));
        const QByteArray echoAddress = computer.exchange(QByteArray::fromHex("0466"), 1);
        const QByteArray readyAddress = computer.exchange(QByteArray(1, '\0'), 1);
        const QByteArray echoOn = computer.exchange(QByteArray::fromHex("0662"), 1);
        const QByteArray readyOn = computer.exchange(QByteArray(1, '\0'), 1);
        computer.close();
        QCOMPARE(echoAddress, QByteArray::fromHex("6a"));
        QCOMPARE(readyAddress, QByteArray::fromHex("55"));
        QCOMPARE(echoOn, QByteArray::fromHex("68"));
        QCOMPARE(readyOn, QByteArray::fromHex("55"));

        QCOMPARE(program.nextLine(), QStringLiteral("frame: A1 address"));
        QCOMPARE(program.nextLine(), QStringLiteral("frame: A On"));
        QCOMPARE(program.nextLine(), QStringLiteral("A1 on"));

        // Ending the program (as closing its window does) takes the link away.
        ::kill(pid_t(program.process().processId()), SIGTERM);
        QVERIFY(program.process().waitForFinished(10000));
        QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.process().exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_MAIN(WindowProgramTest)
#include "WindowProgramTest.moc"
