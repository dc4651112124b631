#pragma once
// quenvar started as a process, waited for while this test's event loop turns (x10sim and the
// rest of the test run in it), and what it said.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <memory>

#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {

struct Ended {
    int exitCode = -1;  // -1 when it did not end by itself
    QString out;
    QString err;
};

inline std::unique_ptr<QProcess> startQuenvar(const QProcessEnvironment& environment, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(QUENVAR_PROGRAM), arguments);
    EXPECT_TRUE(process->waitForStarted());
    return process;
}

inline Ended finishQuenvar(QProcess& process, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, limit)) << "quenvar still runs";
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// Waits until the monitor says it listens: nothing heard after that is missed.
inline bool monitorListens(QProcess& process) {
    QByteArray said;
    const bool listens = waitUntil(
        [&] {
            said += process.readAllStandardError();
            return said.contains("quenvar: listening to ");
        },
        std::chrono::seconds(15));
    EXPECT_TRUE(listens) << said.toStdString();
    return listens;
}

}  // namespace quenvar::testing
