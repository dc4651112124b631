// x10sim: a virtual power-line interface on a pseudo-terminal. The first line of standard
// output is the device to open; every frame and module change follows, one per line.
// With --window the virtual house is also shown on screen; closing the window ends the program.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "sim/ConsoleSession.h"
#include "sim/DisplayAvailability.h"
#include "sim/HouseWindow.h"
#include "sim/Simulator.h"
#include "sim/TerminationSignals.h"

// The kind of application object has to be chosen before the command line parser can run.
// Help and version need no window, so they never fail for want of a display.
static bool windowRequested(int argc, char* argv[]) {
    bool window = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const char* argument = argv[i];
        if (std::strcmp(argument, "--window") == 0)
            window = true;
        else if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0 ||
                 std::strcmp(argument, "--help-all") == 0 || std::strcmp(argument, "--version") == 0 ||
                 std::strcmp(argument, "-v") == 0)
            return false;
    }
    return window;
}

int main(int argc, char* argv[]) {
    const bool withWindow = windowRequested(argc, argv);
    if (withWindow) {
        if (const auto problem = x10sim::displayUnavailableReason()) {
            std::fprintf(stderr,
                         "x10sim: --window needs a display, but %s. Run x10sim on a desktop, under xvfb-run -a, "
                         "or without --window.\n",
                         problem->c_str());
            return 1;
        }
    }
    const std::unique_ptr<QCoreApplication> application =
        withWindow ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("x10sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENVAR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A virtual X10 power-line interface on a pseudo-terminal.\n"
        "Prints the device path on its first line, then one line per power-line frame and per module change."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Also reach the device through a symbolic link at <path> (an existing link is replaced)."),
        QStringLiteral("path"));
    const QCommandLineOption realTimingOption(
        QStringLiteral("real-timing"),
        QStringLiteral("Answer at the pace of the real line (4800 bit/s, about 0.42 s per frame)."));
    const QCommandLineOption wirePacingOption(
        QStringLiteral("wire-pacing"), QStringLiteral("Pace the serial line like the real one, 4800 bit/s both ways; "
                                                      "frames take no time unless --real-timing is given too."));
    const QCommandLineOption powerFailOption(
        QStringLiteral("power-fail"),
        QStringLiteral("Start as after a power failure: request the computer's answer (0xA5) once a second."));
    const QCommandLineOption clockInterfaceOption(
        QStringLiteral("clock-interface"),
        QStringLiteral("Play the interface that wants its clock: after a power failure it requests 0xA5 once a "
                       "second and takes nothing else until a clock setting arrives (0x9B and six bytes, or 0x9B "
                       "alone followed by 10 ms of silence); 0xFB always starts a memory block, never the answer. "
                       "Without this option the empty macro download (0xFB and 42 bytes) answers too."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Print only the device path."));
    const QCommandLineOption wireOption(QStringLiteral("wire"),
                                        QStringLiteral("Also print every byte received and sent, in hex."));
    const QCommandLineOption commandsOption(
        QStringLiteral("commands"),
        QStringLiteral("Read commands from standard input, one per line, to inject faults (type help for the list)."));
    const QCommandLineOption windowOption(
        QStringLiteral("window"),
        QStringLiteral("Also show the virtual house in a window; closing it ends the program."));
    parser.addOptions({linkOption, realTimingOption, wirePacingOption, powerFailOption, clockInterfaceOption,
                       quietOption, wireOption, commandsOption, windowOption});
    parser.process(app);

    x10sim::SimulatorOptions options;
    options.linkPath = parser.value(linkOption);
    options.realTiming = parser.isSet(realTimingOption);
    options.wirePacing = parser.isSet(wirePacingOption);
    if (parser.isSet(clockInterfaceOption)) options.powerFailAnswer = x10sim::PowerFailAnswer::ClockOnly;
    // The power failure comes once the device line is out, so that nothing (the 0xA5 of --wire)
    // is printed before it.
    const bool powerFailureAtStart = parser.isSet(powerFailOption);

    QTextStream out(stdout);
    x10sim::Simulator simulator(options);
    if (!parser.isSet(quietOption)) {
        QObject::connect(&simulator, &x10sim::Simulator::frameSent, &app, [&out](const x10sim::Frame& frame) {
            out << "frame: " << QString::fromStdString(frame.text()) << Qt::endl;
        });
        QObject::connect(
            &simulator, &x10sim::Simulator::moduleChanged, &app,
            [&out](const x10sim::ModuleChange& change) { out << QString::fromStdString(change.text()) << Qt::endl; });
    }
    if (parser.isSet(wireOption)) {
        QObject::connect(&simulator, &x10sim::Simulator::bytesReceived, &app,
                         [&out](const QByteArray& bytes) { out << "in: " << bytes.toHex(' ').toUpper() << Qt::endl; });
        QObject::connect(&simulator, &x10sim::Simulator::bytesSent, &app,
                         [&out](const QByteArray& bytes) { out << "out: " << bytes.toHex(' ').toUpper() << Qt::endl; });
    }
    bool lineLost = false;
    QObject::connect(&simulator, &x10sim::Simulator::lineLost, &app, [&lineLost, withWindow](const QString& message) {
        QTextStream(stderr) << message << Qt::endl;
        lineLost = true;
        // The window shows the message too and stays until the person closes it.
        if (!withWindow) QCoreApplication::exit(1);
    });

    x10sim::TerminationSignals termination;
    QObject::connect(&termination, &x10sim::TerminationSignals::terminationRequested, &app,
                     [] { QCoreApplication::quit(); });

    try {
        simulator.start();
    } catch (const std::exception& error) {
        QTextStream(stderr) << error.what() << Qt::endl;
        return 1;
    }
    // The first line is what scripts wait for: flushed on its own before anything else happens.
    out << simulator.devicePath() << Qt::endl;
    if (powerFailureAtStart) simulator.powerFailure();
    // Only on request: a simulator started in the background must never read the terminal.
    std::unique_ptr<x10sim::ConsoleSession> console;
    if (parser.isSet(commandsOption)) console = std::make_unique<x10sim::ConsoleSession>(simulator, STDIN_FILENO, out);
    std::unique_ptr<x10sim::HouseWindow> window;
    if (withWindow) {
        window = std::make_unique<x10sim::HouseWindow>(simulator, options.linkPath);
        window->show();
    }
    const int status = app.exec();
    return lineLost ? 1 : status;
}
