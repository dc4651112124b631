#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include "tests/support/ComputerSide.h"
#include "tests/support/RunningProgram.h"

namespace {

using quenvar::testing::ComputerSide;

// The x10sim program as a person runs it.
class RunningProgram : public quenvar::testing::RunningProgram {
public:
    explicit RunningProgram(const QStringList& arguments)
        : quenvar::testing::RunningProgram(QStringLiteral(X10SIM_PROGRAM), arguments) {}
};

TEST(Program, FirstLineIsTheDeviceThenFramesAndModuleChanges) {
    QTemporaryDir folder;
    const QString link = folder.filePath("x10");
    RunningProgram program({QStringLiteral("--link"), link});
    const QString device = program.nextLine();
    ASSERT_TRUE(device.startsWith("/dev/pts/"))
        << device.toStdString() << program.process().readAllStandardError().toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), device);

    ComputerSide computer(link);
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();
    EXPECT_EQ(computer.exchange(QByteArray("\x04\x66", 2), 1), QByteArray("\x6A"));
    EXPECT_EQ(computer.exchange(QByteArray(1, '\0'), 1), QByteArray("\x55"));
    EXPECT_EQ(computer.exchange(QByteArray("\x06\x62", 2), 1), QByteArray("\x68"));
    EXPECT_EQ(computer.exchange(QByteArray(1, '\0'), 1), QByteArray("\x55"));
    computer.close();

    EXPECT_EQ(program.linesUntil("A1 on"), (QStringList{"frame: A1 address", "frame: A On", "A1 on"}));

    ::kill(static_cast<pid_t>(program.process().processId()), SIGTERM);
    ASSERT_TRUE(program.process().waitForFinished(5000));
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit) << "SIGTERM ends it cleanly";
    EXPECT_EQ(program.process().exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the link goes with the program";
}

TEST(Program, InterruptEndsItCleanlyToo) {
    QTemporaryDir folder;
    const QString link = folder.filePath("x10");
    RunningProgram program({QStringLiteral("--quiet"), QStringLiteral("--link"), link});
    ASSERT_FALSE(program.nextLine().isEmpty());
    ::kill(static_cast<pid_t>(program.process().processId()), SIGINT);
    ASSERT_TRUE(program.process().waitForFinished(5000));
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process().exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(Program, PowerFailOptionRequestsAtOnce) {
    RunningProgram program({QStringLiteral("--power-fail")});
    const QString device = program.nextLine();
    ASSERT_FALSE(device.isEmpty());
    ComputerSide computer(device);
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();
    // Requests that went out before the device was opened wait in the line's buffer.
    EXPECT_EQ(computer.exchange(QByteArray(), 1), QByteArray("\xA5"));
    computer.close();
}

TEST(Program, RefusesToReplaceARegularFileAndSaysWhy) {
    QTemporaryDir folder;
    const QString path = folder.filePath("notes.txt");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep");
    }
    RunningProgram program({QStringLiteral("--link"), path});
    ASSERT_TRUE(program.process().waitForFinished(5000));
    EXPECT_EQ(program.process().exitCode(), 1);
    EXPECT_TRUE(program.process().readAllStandardOutput().isEmpty()) << "no device line when nothing started";
    const QString message = QString::fromLocal8Bit(program.process().readAllStandardError());
    EXPECT_TRUE(message.contains(path)) << message.toStdString();
    EXPECT_TRUE(message.contains("not a symbolic link")) << message.toStdString();
}

TEST(Program, WireOptionShowsBytesInHex) {
    RunningProgram program({QStringLiteral("--wire")});
    const QString device = program.nextLine();
    ComputerSide computer(device);
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();
    EXPECT_EQ(computer.exchange(QByteArray("\x86\xF4", 2), 1), QByteArray("\x7A"));
    computer.close();
    EXPECT_EQ(program.linesUntil("out: 7A"), (QStringList{"in: 86 F4", "out: 7A"}));
}

TEST(Program, WirePacingHearsTheComputerOneByteAtATime) {
    RunningProgram program({QStringLiteral("--wire-pacing"), QStringLiteral("--wire")});
    const QString device = program.nextLine();
    ComputerSide computer(device);
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();
    EXPECT_EQ(computer.exchange(QByteArray("\x86\xF4", 2), 1), QByteArray("\x7A"));
    EXPECT_EQ(computer.exchange(QByteArray(1, '\0'), 1), QByteArray("\x55"));
    computer.close();
    EXPECT_EQ(program.linesUntil("out: 55"),
              (QStringList{"in: 86", "in: F4", "out: 7A", "in: 00", "frame: J Dim 16 steps", "out: 55"}));
}

TEST(Program, CommandsFromStandardInputInjectFaultsAndReport) {
    RunningProgram program({QStringLiteral("--commands"), QStringLiteral("--quiet")});
    const QString device = program.nextLine();
    ComputerSide computer(device);
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    program.process().write("not-ready\n");
    EXPECT_EQ(program.nextLine(), "fault armed");
    EXPECT_EQ(computer.exchange(QByteArray("\x04\x66", 2), 1), QByteArray("\x6A"));
    EXPECT_EQ(computer.exchange(QByteArray(1, '\0'), 1), QByteArray("\xAA"));
    EXPECT_EQ(computer.exchange(QByteArray("\x06\x62", 2), 1), QByteArray("\x68"));
    EXPECT_EQ(computer.exchange(QByteArray(1, '\0'), 1), QByteArray("\x55"));

    program.process().write("status\nexplode\n");
    EXPECT_EQ(program.nextLine(), "A1 on 100%");
    EXPECT_EQ(program.nextLine(), "unknown command \"explode\"; type help for the list");

    // End of input stops the commands, not the simulator.
    program.process().closeWriteChannel();
    EXPECT_EQ(computer.exchange(QByteArray("\x04\x6E", 2), 1), QByteArray("\x72"));
    EXPECT_EQ(program.process().state(), QProcess::Running);
    computer.close();
}

// A remote control's command typed at the console: the modules change, the interface polls, and
// after the computer's answer it uploads what it heard; a clock setting and a status request in
// between are recognised as what they are.
TEST(Program, RemoteTrafficFromTheConsoleIsPolledAndUploaded) {
    RunningProgram program({QStringLiteral("--commands")});
    const QString device = program.nextLine();
    ComputerSide computer(device);
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    program.process().write("remote A1 on\n");
    EXPECT_EQ(program.linesUntil("A1 on"),
              (QStringList{"another transmitter sends: A1 address, A On", "frame: A1 address (other transmitter)",
                           "frame: A On (other transmitter)", "A1 on"}));
    EXPECT_EQ(computer.read(1), QByteArray("\x5A"));
    EXPECT_EQ(computer.exchange(QByteArray("\xC3"), 4), QByteArray::fromHex("03026662"));

    EXPECT_EQ(computer.exchange(QByteArray::fromHex("9B0000000100E0"), 1), QByteArray::fromHex("E1"));
    EXPECT_EQ(computer.exchange(QByteArray(1, '\0'), 1), QByteArray("\x55"));
    const QByteArray status = computer.exchange(QByteArray("\x8B"), 14);
    ASSERT_EQ(status.size(), 14);
    EXPECT_EQ(status.right(6), QByteArray::fromHex("000000000000")) << "house B is monitored now: nothing on there";
    computer.close();
    program.process().write("status\n");
    EXPECT_EQ(program.nextLine(), "A1 on 100%") << "no frame went out for the clock setting or the status request";
}

}  // namespace
