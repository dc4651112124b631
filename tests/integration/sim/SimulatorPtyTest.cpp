#include "sim/Simulator.h"
#include "tests/support/ComputerSide.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>

namespace x10sim {
namespace {

using namespace std::chrono_literals;

using quenvar::testing::ComputerSide;

QByteArray bytes(std::initializer_list<unsigned char> values) {
    QByteArray result;
    for (unsigned char value : values) result.append(static_cast<char>(value));
    return result;
}

TEST(SimulatorOverPty, HandshakeOfOneCommandSwitchesTheModuleOn) {
    Simulator simulator;
    simulator.start();
    ASSERT_TRUE(simulator.devicePath().startsWith("/dev/pts/")) << simulator.devicePath().toStdString();
    QSignalSpy changed(&simulator, &Simulator::moduleChanged);
    QSignalSpy framesSent(&simulator, &Simulator::frameSent);
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    ASSERT_TRUE(computer.write(bytes({0x04, 0x66})));
    EXPECT_EQ(computer.read(1), bytes({0x6A}));
    ASSERT_TRUE(computer.write(bytes({0x00})));
    EXPECT_EQ(computer.read(1), bytes({0x55}));
    ASSERT_TRUE(computer.write(bytes({0x06, 0x62})));
    EXPECT_EQ(computer.read(1), bytes({0x68}));
    ASSERT_TRUE(computer.write(bytes({0x00})));
    EXPECT_EQ(computer.read(1), bytes({0x55}));

    EXPECT_TRUE(simulator.module('A', 1).on);
    EXPECT_FALSE(simulator.module('A', 2).on);
    ASSERT_EQ(simulator.changes().size(), 1u);
    EXPECT_EQ(simulator.changes()[0].text(), "A1 on");
    ASSERT_EQ(simulator.frames().size(), 2u);
    EXPECT_EQ(simulator.frames()[1].text(), "A On");
    EXPECT_EQ(simulator.receivedBytes(), bytes({0x04, 0x66, 0x00, 0x06, 0x62, 0x00}));
    EXPECT_EQ(simulator.sentBytes(), bytes({0x6A, 0x55, 0x68, 0x55}));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<ModuleChange>().text(), "A1 on");
    ASSERT_EQ(framesSent.count(), 2);
    EXPECT_EQ(framesSent[0][0].value<Frame>().text(), "A1 address");
}

TEST(SimulatorOverPty, ReplyBytesAreReportedInOrder) {
    Simulator simulator;
    simulator.start();
    QSignalSpy sent(&simulator, &Simulator::bytesSent);
    QSignalSpy received(&simulator, &Simulator::bytesReceived);
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.write(bytes({0x86, 0xF4})));
    EXPECT_EQ(computer.read(1), bytes({0x7A}));
    QByteArray allSent;
    for (const auto& arguments : sent) allSent += arguments[0].toByteArray();
    QByteArray allReceived;
    for (const auto& arguments : received) allReceived += arguments[0].toByteArray();
    EXPECT_EQ(allSent, bytes({0x7A}));
    EXPECT_EQ(allReceived, bytes({0x86, 0xF4}));
}

TEST(SimulatorOverPty, LineSurvivesTheComputerClosingAndReopeningTheDevice) {
    Simulator simulator;
    simulator.start();
    QSignalSpy lost(&simulator, &Simulator::lineLost);
    {
        ComputerSide first(simulator.devicePath());
        ASSERT_TRUE(first.write(bytes({0x04, 0x66})));
        EXPECT_EQ(first.read(1), bytes({0x6A}));
    }
    // Let the simulator's event loop see the device closed before anyone reopens it.
    EXPECT_FALSE(lost.wait(200)) << lost.value(0).value(0).toString().toStdString();
    ComputerSide second(simulator.devicePath());
    ASSERT_TRUE(second.isOpen());
    ASSERT_TRUE(second.write(bytes({0x00})));
    EXPECT_EQ(second.read(1), bytes({0x55}));
    EXPECT_TRUE(simulator.isRunning());
    EXPECT_EQ(simulator.frames().size(), 1u);
}

TEST(SimulatorOverPty, DeviceIsRawBeforeTheComputerConfiguresIt) {
    Simulator simulator;
    simulator.start();
    const int fd = ::open(QFile::encodeName(simulator.devicePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios settings{};
    ASSERT_EQ(::tcgetattr(fd, &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u) << "no line editing, no echo, no signals";
    EXPECT_EQ(settings.c_oflag & OPOST, 0u) << "no output translation";
    EXPECT_EQ(settings.c_iflag & (ICRNL | IXON), 0u) << "no input translation, no flow control";

    // 0x0A and 0x13 would be translated or swallowed by a cooked line.
    QSignalSpy sent(&simulator, &Simulator::bytesSent);
    const QByteArray transmission = bytes({0x04, 0x0A});
    ASSERT_EQ(::write(fd, transmission.constData(), 2), 2);
    ASSERT_TRUE(sent.wait(3000));
    EXPECT_EQ(simulator.sentBytes(), bytes({0x0E}));
    EXPECT_EQ(simulator.receivedBytes(), transmission);
    ::close(fd);
}

TEST(SimulatorOverPty, DisappearingMakesReadsFailInsteadOfHanging) {
    Simulator simulator;
    simulator.start();
    QSignalSpy lost(&simulator, &Simulator::lineLost);
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen());
    simulator.disappear();
    EXPECT_FALSE(simulator.isRunning());

    pollfd watch{computer.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&watch, 1, 3000), 1) << "the hang-up must be visible at once";
    EXPECT_NE(watch.revents & (POLLHUP | POLLERR), 0);
    char byte = 0;
    const ssize_t got = ::read(computer.fd(), &byte, 1);
    EXPECT_LE(got, 0);
    if (got < 0) {
        EXPECT_EQ(errno, EIO);
    }
    EXPECT_EQ(lost.count(), 0) << "a requested disappearance is not a lost line";
}

TEST(SimulatorOverPty, PowerFailureRequestIsAnsweredWithTheEmptyMacroDownload) {
    Simulator simulator;
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    simulator.powerFailure();
    EXPECT_EQ(computer.read(1), bytes({0xA5}));
    EXPECT_EQ(computer.read(1, 1500ms), bytes({0xA5})) << "repeated after a second";

    ASSERT_TRUE(computer.write(bytes({0xFB}) + QByteArray(42, '\0')));
    EXPECT_EQ(computer.read(1), bytes({0x00}));
    ASSERT_TRUE(computer.write(bytes({0x00})));
    EXPECT_EQ(computer.read(1), bytes({0x55}));
    EXPECT_EQ(simulator.protocolState(), InterfaceProtocol::State::Idle);
}

TEST(SimulatorOverPty, PowerFailureAtStartRequestsFromTheFirstMoment) {
    SimulatorOptions options;
    options.powerFailureAtStart = true;
    Simulator simulator(options);
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    EXPECT_EQ(computer.read(1), bytes({0xA5}));
}

TEST(SimulatorOverPty, FaultsReachTheComputer) {
    Simulator simulator;
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    simulator.injectFault(Fault::StrayBytes);
    EXPECT_EQ(computer.read(2), bytes({0x5A, 0x33}));
    simulator.injectFault(Fault::WrongEcho);
    simulator.injectFault(Fault::NotReady);
    ASSERT_TRUE(computer.write(bytes({0x04, 0x66})));
    EXPECT_EQ(computer.read(1), bytes({0x6B}));
    ASSERT_TRUE(computer.write(bytes({0x00})));
    EXPECT_EQ(computer.read(1), bytes({0xAA}));
    simulator.injectFault(Fault::NoAnswer);
    ASSERT_TRUE(computer.write(bytes({0x06, 0x62})));
    EXPECT_TRUE(computer.readNothingFor(100ms).isEmpty());
    EXPECT_EQ(simulator.changes().size(), 0u);
}

TEST(SimulatorOverPty, RealTimingPacesTheFrame) {
    SimulatorOptions options;
    options.realTiming = true;
    Simulator simulator(options);
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.write(bytes({0x04, 0x66})));
    EXPECT_EQ(computer.read(1), bytes({0x6A}));
    QElapsedTimer sinceAcknowledge;
    sinceAcknowledge.start();
    ASSERT_TRUE(computer.write(bytes({0x00})));
    EXPECT_EQ(computer.read(1), bytes({0x55}));
    // A lower bound only: the frame cannot be out before its 25 mains cycles have passed.
    EXPECT_GE(sinceAcknowledge.elapsed(), 410);
}

TEST(DeviceLink, PointsAtTheDeviceAndIsRemovedWhenTheSimulatorEnds) {
    QTemporaryDir folder;
    const QString link = folder.filePath("x10");
    QString device;
    {
        SimulatorOptions options;
        options.linkPath = link;
        Simulator simulator(options);
        simulator.start();
        device = simulator.devicePath();
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), device);
        ComputerSide computer(link);
        ASSERT_TRUE(computer.isOpen());
        ASSERT_TRUE(computer.write(bytes({0x04, 0x66})));
        EXPECT_EQ(computer.read(1), bytes({0x6A}));
    }
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(link));
}

TEST(DeviceLink, ReplacesAnOldSymbolicLink) {
    QTemporaryDir folder;
    const QString link = folder.filePath("x10");
    ASSERT_TRUE(QFile::link("/dev/null", link));
    SimulatorOptions options;
    options.linkPath = link;
    Simulator simulator(options);
    simulator.start();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), simulator.devicePath());
}

TEST(DeviceLink, RefusesToOverwriteARegularFile) {
    QTemporaryDir folder;
    const QString path = folder.filePath("precious");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    SimulatorOptions options;
    options.linkPath = path;
    Simulator simulator(options);
    try {
        simulator.start();
        FAIL() << "start() must refuse";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(path.toStdString()), std::string::npos) << error.what();
    }
    EXPECT_FALSE(simulator.isRunning()) << "nothing is left half-started";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep me");
}

TEST(DeviceLink, LeavesALinkThatNoLongerPointsAtItsDevice) {
    QTemporaryDir folder;
    const QString link = folder.filePath("x10");
    {
        SimulatorOptions options;
        options.linkPath = link;
        Simulator simulator(options);
        simulator.start();
        // Someone else took the path over meanwhile, e.g. a second simulator.
        ASSERT_TRUE(QFile::remove(link));
        ASSERT_TRUE(QFile::link("/dev/null", link));
    }
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), "/dev/null");
}

}  // namespace
}  // namespace x10sim
