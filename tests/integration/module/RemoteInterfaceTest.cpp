// The interface on another machine, set up as the README's recipe does it: x10sim's
// pseudo-terminal served on a TCP port by ser2net, reached on this side through a
// pseudo-terminal link that socat makes, and the control by ProgID with QUENVAR_COMM1 naming
// that link. Both machines are this one, joined over 127.0.0.1.

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ConnectionPoint.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/support/EventLoopWaits.h"
#include "tests/support/LoopbackPort.h"
#include "tests/support/MessageBoxReader.h"
#include "tests/support/RunningProgram.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
namespace member = control::member;

QString findTool(const QString& name) {
    // ser2net is in /usr/sbin, which not every user has on PATH.
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/local/sbin"}) : onPath;
}

class RemoteInterface : public CreatedControlFixture {
protected:
    void SetUp() override {
        const QString ser2net = findTool("ser2net");
        const QString socat = findTool("socat");
        if (ser2net.isEmpty() || socat.isEmpty())
            GTEST_SKIP() << "ser2net or socat is not installed (scripts/install-deps.sh installs both)";
        ModuleFixture::SetUp();
        ASSERT_TRUE(folder.isValid());

        const QString interfaceLink = folder.filePath("x10");
        interface =
            std::make_unique<RunningProgram>(QStringLiteral(X10SIM_PROGRAM), QStringList{"--link", interfaceLink});
        ASSERT_FALSE(interface->nextLine().isEmpty()) << "x10sim did not start";

        // The recipe's ser2net.yaml with this folder's device and a free port. -u: no UUCP lock
        // file in /var/lock, which other programs on the machine share.
        const int port = freeLoopbackPort();
        ASSERT_NE(port, 0);
        const QString config = folder.filePath("ser2net.yaml");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("connection: &x10\n"
                                  "  accepter: tcp,127.0.0.1,%1\n"
                                  "  connector: serialdev,%2,4800n81,local\n"
                                  "  options:\n"
                                  "    kickolduser: true\n")
                       .arg(port)
                       .arg(interfaceLink)
                       .toUtf8());
        file.close();
        server = std::make_unique<RunningProgram>(ser2net, QStringList{"-n", "-u", "-c", config});

        // socat opens its addresses in order: the link appears once the connection stands. It
        // retries while ser2net is still starting.
        link = folder.filePath("comm1");
        desk = std::make_unique<RunningProgram>(
            socat, QStringList{QStringLiteral("tcp:127.0.0.1:%1,retry=50,interval=0.1").arg(port),
                               "pty,link=" + link + ",raw,echo=0"});
        ASSERT_TRUE(waitUntil([&] { return QFileInfo(link).isSymLink(); }, 10s))
            << "no link from socat\nsocat: " << desk->process().readAllStandardError().toStdString()
            << "\nser2net: " << server->process().readAllStandardError().toStdString();

        createControlOn(link);
    }

    // Opens port 1 and switches A1 on; true once x10ready has come back across the network.
    bool switchA1On() {
        control->call(member::openx10, {Variant::fromInt16(1)});
        control->call(member::x10on, {Variant::fromText("A"), Variant::fromText("01")});
        return waitUntil([&] { return readyEvents > 0; });
    }

    QTemporaryDir folder;
    std::unique_ptr<RunningProgram> interface;  // x10sim, on the machine with the interface
    std::unique_ptr<RunningProgram> server;     // ser2net, there too
    std::unique_ptr<RunningProgram> desk;       // socat, on the desk
    QString link;
    MessageBoxReader boxes;
};

TEST_F(RemoteInterface, OnForA1SwitchesTheModuleAndTheHandshakeCompletes) {
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(switchA1On()) << "x10ready never came back over the network";
    // A figure for the reader of the log, not a limit: the control has no timer, so a slow
    // network only makes it slower.
    std::printf("On for A1 over ser2net and socat (two transmissions, four exchanges): %lld ms\n",
                static_cast<long long>(took.elapsed()));

    // Each frame went out once: no step was repeated for a late answer.
    EXPECT_EQ(interface->linesUntil("A1 on"), (QStringList{"frame: A1 address", "frame: A On", "A1 on"}));
    EXPECT_EQ(control->get(member::comstatus), Variant::fromInt16(0));
    EXPECT_EQ(readyEvents, 1);
    EXPECT_TRUE(boxes.seen().empty()) << boxes.seen().front().prompt;
}

// Which program goes away: ser2net (the other machine or the network) or socat (the desk's link).
enum class Dropped { Server, Desk };

void PrintTo(Dropped dropped, std::ostream* out) {
    *out << (dropped == Dropped::Server ? "ser2net ends" : "socat ends");
}

class ConnectionDrop : public RemoteInterface, public ::testing::WithParamInterface<Dropped> {};

TEST_P(ConnectionDrop, TheUserIsToldOnceAndTheNextCommandMeetsAClosedPort) {
    ASSERT_TRUE(switchA1On());
    (GetParam() == Dropped::Server ? server : desk)->process().terminate();

    ASSERT_TRUE(waitUntil([&] { return !boxes.seen().empty(); })) << "nothing told the user";
    EXPECT_EQ(boxes.seen()[0].title, "quenvar");
    EXPECT_EQ(boxes.seen()[0].prompt, "Serial port 1 (" + link.toStdString() +
                                          ") stopped responding or was disconnected: check the "
                                          "interface and its cable, then open the port again");
    // Reported once, and the lost link wakes nothing again: the event loop goes back to sleep.
    const CpuShare share = cpuShareWhileEventsRun(300ms);
    EXPECT_EQ(boxes.seen().size(), 1u);
    EXPECT_LT(share.percent(), 50.0) << "busy after the loss: " << share.percent() << "% of a core";

    // The next command is refused at once instead of waiting for an answer that cannot come.
    control->call(member::x10on, {Variant::fromText("A"), Variant::fromText("02")});
    ASSERT_EQ(boxes.seen().size(), 2u);
    EXPECT_EQ(boxes.seen()[1].prompt, "Port must be open before you can call a command");
    EXPECT_EQ(readyEvents, 1);
}

INSTANTIATE_TEST_SUITE_P(RemoteInterface, ConnectionDrop, ::testing::Values(Dropped::Server, Dropped::Desk),
                         [](const auto& info) { return info.param == Dropped::Server ? "Ser2netEnds" : "SocatEnds"; });

}  // namespace
}  // namespace quenvar::testing
