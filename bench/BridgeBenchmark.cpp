// quenvar-mqtt measured from outside, on a mosquitto broker of its own on 127.0.0.1 with x10sim
// answering at once:
// - a set request to its retained state back at a subscriber (the bytes on the wire, the
//   handshake and x10ready in between), percentiles over 500 requests;
// - unit commands per second for different modules: rounds of one request per module sent at
//   once, each answered;
// - resident memory of the bridge afterwards;
// - idle with the broker connected: context switches of all its threads over 10 s.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/Processes.h"
#include "tests/integration/mqtt/MqttRig.h"
#include "tests/support/EventLoopWaits.h"

using namespace std::chrono_literals;
using quenvar::testing::Mosquitto;
using quenvar::testing::Probe;
using quenvar::testing::SeenMessage;

namespace {

int fail(const char* what, QProcess* bridge = nullptr) {
    std::fprintf(stderr, "bridge_benchmark: %s\n", what);
    if (bridge) std::fprintf(stderr, "%s\n", bridge->readAll().constData());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    quenvar::bench::printHeader("quenvar-mqtt: set to retained state, requests per second, memory, idle wake-ups");

    QTemporaryDir folder;
    qputenv("QUENVAR_REGISTRY", folder.filePath("registry").toUtf8());
    qputenv("QUENVAR_LOCK_DIR", folder.path().toUtf8());
    if (QProcess::execute(QStringLiteral(QUENVAR_REGSVR_PROGRAM), {QStringLiteral(QUENVAR_MODULE_PATH)}) != 0)
        return fail("could not register quenvar.ocx");

    // x10sim as a program of its own, so that the probe's traffic does not hold up its answers.
    const QString link = folder.filePath("comm1");
    QProcess simulator;
    simulator.start(QStringLiteral(X10SIM_PROGRAM), {"--link", link});
    if (!simulator.waitForReadyRead(10000)) return fail("x10sim did not start");
    Mosquitto broker(folder.path());
    if (!broker.start()) return fail("mosquitto did not start");
    Probe probe(quenvar::testing::probeOptions(broker.port(), "bench"));
    if (!probe.connect("quenvar/#")) return fail("the probe could not connect");

    constexpr int modules = 16;
    QStringList arguments{"--broker", broker.url(), "--interface", "house", "--port", link};
    for (int unit = 1; unit <= modules; ++unit) arguments << "--module" << QStringLiteral("A%1=lamp").arg(unit);
    QProcess bridge;
    bridge.setProcessChannelMode(QProcess::MergedChannels);
    bridge.start(QStringLiteral(QUENVAR_MQTT_PROGRAM), arguments);
    if (!probe.waitFor("quenvar/house/availability", "online")) return fail("the bridge did not come online", &bridge);

    // 1. One request at a time, On and Off in turn.
    std::vector<double> milliseconds;
    for (int i = 0; i < 500; ++i) {
        const std::size_t from = probe.count();
        const QByteArray state = i % 2 ? "ON" : "OFF";
        QElapsedTimer timer;
        timer.start();
        probe.publish("quenvar/house/A1/set", "{\"state\":\"" + state + "\"}");
        if (!probe.waitFor(
                [&](const SeenMessage& m) { return m.topic == "quenvar/house/A1/state" && m.payload.contains(state); },
                from)) {
            std::fprintf(stderr, "request %d; x10sim said: %s\n", i, simulator.readAll().constData());
            return fail("a state did not come back", &bridge);
        }
        milliseconds.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("set -> wire -> retained state, 500 requests: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                quenvar::bench::percentile(milliseconds, 0.5), quenvar::bench::percentile(milliseconds, 0.9),
                quenvar::bench::percentile(milliseconds, 0.99), quenvar::bench::percentile(milliseconds, 1.0));

    // 2. Rounds of one request for each module, sent at once; the next round once all are answered.
    constexpr int rounds = 60;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        const std::size_t from = probe.count();
        const QByteArray state = round % 2 ? "OFF" : "ON";
        const QString answers = probe.answerTopic(QString::number(round));
        for (int unit = 1; unit <= modules; ++unit)
            probe.request(QStringLiteral("quenvar/house/A%1/set").arg(unit), "{\"state\":\"" + state + "\"}", answers);
        int answered = 0;
        if (!probe.waitFor(
                [&](const SeenMessage& m) {
                    answered += m.topic == answers && m.payload == R"({"result":"done"})";
                    return answered == modules;
                },
                from, 60s))
            return fail("not every request was answered", &bridge);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf(
        "%d rounds of %d requests, one per module, sent at once: %d unit commands in %.3f s = %.0f commands/s\n",
        rounds, modules, rounds * modules, seconds, rounds * modules / seconds);

    // 3 and 4.
    const std::string status = "/proc/" + std::to_string(bridge.processId()) + "/status";
    std::printf("resident memory: VmRSS %.1f MiB, VmHWM %.1f MiB\n",
                quenvar::bench::statusValue(status, "VmRSS") / 1024.0,
                quenvar::bench::statusValue(status, "VmHWM") / 1024.0);
    quenvar::testing::processEventsFor(1s);
    quenvar::bench::printIdleWakeUps(static_cast<pid_t>(bridge.processId()), "idle with the broker connected",
                                     "aim under 1 per second");

    bridge.terminate();
    bridge.waitForFinished(5000);
    simulator.terminate();
    simulator.waitForFinished(5000);
    return 0;
}
