// quenvar-mqtt: one power-line interface on an MQTT broker, with Home Assistant discovery.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "mqtt-bridge/Bridge.h"
#include "platform/automation/RuntimeError.h"

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so the bridge says offline before it goes.
void quitOnTerminationSignals(QCoreApplication& application) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quenvar-mqtt"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENVAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Bridges an X10 power-line interface to an MQTT broker, with Home Assistant discovery.\n"
        "Every setting can come from a TOML file (--config), an environment variable QUENVAR_MQTT_<KEY> "
        "or a flag; flags win over the environment, the environment over the file.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    quenvar::mqtt::addConfigOptions(parser);
    // A flag it does not know is a bad setting like any other: code 2, nothing sent.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "quenvar-mqtt: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) parser.showHelp(0);
    if (parser.isSet(version)) parser.showVersion();

    quenvar::mqtt::BridgeConfig config;
    try {
        config = quenvar::mqtt::loadConfig(parser, QProcessEnvironment::systemEnvironment());
    } catch (const quenvar::mqtt::ConfigError& error) {
        std::fprintf(stderr, "quenvar-mqtt: %s\n", error.what());
        return 2;
    }

    quenvar::mqtt::Bridge bridge(config);
    try {
        bridge.start();
    } catch (const quenvar::mqtt::StartError& error) {
        std::fprintf(stderr, "quenvar-mqtt: %s\n", error.what());
        return 2;
    } catch (const quenvar::automation::RuntimeError& error) {
        std::fprintf(stderr, "quenvar-mqtt: %s\n", error.description().c_str());
        return 1;
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "quenvar-mqtt: %s\n", error.what());
        return 2;
    }
    quitOnTerminationSignals(application);
    const int status = QCoreApplication::exec();
    bridge.stop();
    return status;
}
