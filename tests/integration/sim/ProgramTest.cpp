#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The x10sim program as a person runs it, read line by line from its standard output.
class RunningProgram {
public:
    explicit RunningProgram(const QStringList& arguments)
    {
        m_process.setProgram(QStringLiteral(X10SIM_PROGRAM));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
    }
    ~RunningProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    QProcess& process() { return m_process; }

    // The next line of standard output, or an empty text when none came in time.
    QString nextLine(std::chrono::milliseconds limit = 5s)
    {
        QDeadlineTimer deadline(limit);
        while (!m_process.canReadLine() && !deadline.hasExpired()) {
            if (!m_process.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime())))
                break;
        }
        if (!m_process.canReadLine())
            return {};
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    // Lines until `last` appears (inclusive), or everything read before the time ran out.
    QStringList linesUntil(const QString& last)
    {
        QStringList lines;
        for (QString line = nextLine(); !line.isEmpty(); line = nextLine()) {
            lines << line;
            if (line == last)
                break;
        }
        return lines;
    }

private:
    QProcess m_process;
};

// A blocking exchange is fine here: the simulator runs in its own process.
QByteArray exchange(int fd, const QByteArray& out, int expected)
{
    if (::write(fd, out.constData(), out.size()) != out.size())
        return {};
    QByteArray in;
    while (in.size() < expected) {
        pollfd watch{fd, POLLIN, 0};
        if (::poll(&watch, 1, 3000) != 1)
            break;
        char byte = 0;
        if (::read(fd, &byte, 1) != 1)
            break;
        in.append(byte);
    }
    return in;
}

int openRaw(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios settings{};
        ::tcgetattr(fd, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

TEST(Program, FirstLineIsTheDeviceThenFramesAndModuleChanges)
{
    QTemporaryDir folder;
    const QString link = folder.filePath("x10");
    RunningProgram program({QStringLiteral("--link"), link});
    const QString device = program.nextLine();
    ASSERT_TRUE(device.startsWith("/dev/pts/")) << device.toStdString()
        << program.process().readAllStandardError().toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), device);

    const int fd = openRaw(link);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, QByteArray("\x04\x66", 2), 1), QByteArray("\x6A"));
    EXPECT_EQ(exchange(fd, QByteArray(1, '\0'), 1), QByteArray("\x55"));
    EXPECT_EQ(exchange(fd, QByteArray("\x06\x62", 2), 1), QByteArray("\x68"));
    EXPECT_EQ(exchange(fd, QByteArray(1, '\0'), 1), QByteArray("\x55"));
    ::close(fd);

    EXPECT_EQ(program.linesUntil("A1 on"), (QStringList{"frame: A1 address", "frame: A On", "A1 on"}));

    ::kill(static_cast<pid_t>(program.process().processId()), SIGTERM);
    ASSERT_TRUE(program.process().waitForFinished(5000));
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit) << "SIGTERM ends it cleanly";
    EXPECT_EQ(program.process().exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the link goes with the program";
}

TEST(Program, InterruptEndsItCleanlyToo)
{
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

TEST(Program, PowerFailOptionRequestsAtOnce)
{
    RunningProgram program({QStringLiteral("--power-fail")});
    const QString device = program.nextLine();
    ASSERT_FALSE(device.isEmpty());
    const int fd = openRaw(device);
    ASSERT_GE(fd, 0);
    // Requests that went out before the device was opened wait in the line's buffer.
    EXPECT_EQ(exchange(fd, QByteArray(), 1), QByteArray("\xA5"));
    ::close(fd);
}

TEST(Program, RefusesToReplaceARegularFileAndSaysWhy)
{
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

TEST(Program, WireOptionShowsBytesInHex)
{
    RunningProgram program({QStringLiteral("--wire")});
    const QString device = program.nextLine();
    const int fd = openRaw(device);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, QByteArray("\x86\xF4", 2), 1), QByteArray("\x7A"));
    ::close(fd);
    EXPECT_EQ(program.linesUntil("out: 7A"), (QStringList{"in: 86 F4", "out: 7A"}));
}

TEST(Program, CommandsFromStandardInputInjectFaultsAndReport)
{
    RunningProgram program({QStringLiteral("--commands"), QStringLiteral("--quiet")});
    const QString device = program.nextLine();
    const int fd = openRaw(device);
    ASSERT_GE(fd, 0);

    program.process().write("not-ready\n");
    EXPECT_EQ(program.nextLine(), "fault armed");
    EXPECT_EQ(exchange(fd, QByteArray("\x04\x66", 2), 1), QByteArray("\x6A"));
    EXPECT_EQ(exchange(fd, QByteArray(1, '\0'), 1), QByteArray("\xAA"));
    EXPECT_EQ(exchange(fd, QByteArray("\x06\x62", 2), 1), QByteArray("\x68"));
    EXPECT_EQ(exchange(fd, QByteArray(1, '\0'), 1), QByteArray("\x55"));

    program.process().write("status\nexplode\n");
    EXPECT_EQ(program.nextLine(), "A1 on 100%");
    EXPECT_EQ(program.nextLine(), "unknown command \"explode\"; type help for the list");

    // End of input stops the commands, not the simulator.
    program.process().closeWriteChannel();
    EXPECT_EQ(exchange(fd, QByteArray("\x04\x6E", 2), 1), QByteArray("\x72"));
    EXPECT_EQ(program.process().state(), QProcess::Running);
    ::close(fd);
}

}  // namespace
