#include "commandline/Invocation.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace quenvar::commandline {

namespace {

using namespace std::chrono_literals;

struct OptionInfo {
    const char* name;
    const char* valueName;  // empty for a switch
    const char* description;
};

const OptionInfo optionTable[] = {
    {"port", "N", "Serial port N (1 to 16): the device QUENVAR_COMMn names, else /dev/ttyS<N-1>. Default: 1."},
    {"device", "PATH", "The interface's device, such as /dev/ttyUSB0, instead of a port number."},
    {"timeout", "SECONDS",
     "How long to wait for the interface to finish, and for another program to let the port go. Default: "
     "2.5 s per transmission, at least 5 s."},
    {"quiet", "", "Print nothing on success (messages and errors still go to standard error)."},
    {"json", "", "monitor: one JSON object per line: house, units, function, level, time."},
    {"broker", "URL",
     "Go through the MQTT bridge on this broker (mqtt://host:port, user:password@ allowed). Default: "
     "QUENVAR_BROKER, else the bridge holding the port, else the port itself."},
    {"interface", "ID", "The bridge's interface id in its topics. Default: house."},
    {"prefix", "PREFIX", "The bridge's topic prefix. Default: quenvar."},
    {"help", "", "Show this help, or a command's help after the command."},
    {"version", "", "Show the version."},
};

const QString exitCodesText = QStringLiteral(
    "Exit codes:\n"
    "  0  done: the interface said it was ready after the last transmission\n"
    "  1  the control cannot be created (is it registered?)\n"
    "  2  usage error, or the control refused the command (bad house, unit or level)\n"
    "  3  the interface did not finish in time, or stopped answering\n"
    "  4  the port cannot be opened (missing, busy, no permission)\n"
    "  5  the MQTT bridge cannot be reached\n");

QString optionsText() {
    QString text = QStringLiteral("Options:\n");
    for (const OptionInfo& option : optionTable) {
        QString left = QStringLiteral("  --%1").arg(QLatin1String(option.name));
        if (*option.valueName != '\0') left += ' ' + QLatin1String(option.valueName);
        // The description wrapped to a terminal's 80 columns, beside its option.
        QString line = left.leftJustified(22);
        for (const QString& word : QString::fromLatin1(option.description).split(' ')) {
            if (line.size() + 1 + word.size() > 79) {
                text += line + '\n';
                line = QString(22, ' ');
            }
            line += ' ' + word;
        }
        text += line + '\n';
    }
    return text;
}

QString generalHelp() {
    QString text = QStringLiteral(
        "Usage: quenvar [options] COMMAND [ARGUMENTS]\n"
        "Switch and dim X10 modules through the power-line interface, and watch the line.\n"
        "Each command returns once the interface has sent it on the power line.\n\n"
        "Commands:\n");
    for (const VerbInfo& info : verbs()) {
        text += QStringLiteral("  %1 %2\n")
                    .arg(QString::fromLatin1(info.synopsis).leftJustified(26), QLatin1String(info.summary));
    }
    text += '\n' + optionsText() + '\n' + exitCodesText +
            QStringLiteral(
                "\nExamples:\n"
                "  quenvar on A1\n"
                "  quenvar off A1 A3 A5\n"
                "  quenvar dim A1 40\n"
                "  quenvar monitor --json | jq .\n\n"
                "quenvar COMMAND --help tells more about one command.\n");
    return text;
}

QString commandHelp(const VerbInfo& info) {
    QString text = QStringLiteral("Usage: quenvar [options] %1\n%2\n\n")
                       .arg(QLatin1String(info.synopsis), QLatin1String(info.summary));
    switch (info.operands) {
        case Operands::Units:
        case Operands::UnitsAndLevel:
            text += QStringLiteral(
                "ADDRESS is a house letter A to P and a unit 1 to 16 (A1, p16). Several units of one house\n"
                "are addressed one after another on the line and then given the function once.\n");
            break;
        case Operands::House: text += QStringLiteral("HOUSE is a house letter A to P.\n"); break;
        case Operands::Nothing:
            text += QStringLiteral(
                "One line per function heard on the power line (a remote control, a wall switch, a sensor),\n"
                "with the local time. Runs until interrupted; ends with a message and exit code 3 or 4 when\n"
                "the interface goes away, 5 when the bridge does.\n");
            break;
    }
    if (info.operands == Operands::UnitsAndLevel) {
        text += QStringLiteral(
            "PERCENT is 5 to 95: the control's dim table turns it into steps of the interface (10 gives 3\n"
            "of 22 steps, 15 gives 2).\n");
    }
    text += QStringLiteral("\nExample: %1\n\n").arg(QLatin1String(info.example)) + optionsText();
    return text;
}

EarlyExit usageError(const QString& problem) {
    return {QStringLiteral("quenvar: %1\nTry quenvar --help.\n").arg(problem), true, 2};
}

// "A1" -> ("A", "01"); nullopt for anything not shaped like an address.
std::optional<std::pair<QString, QString>> splitAddress(const QString& text) {
    static const QRegularExpression shape(QStringLiteral("^([A-Za-z])([0-9]{1,2})$"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch()) return std::nullopt;
    return std::pair{match.captured(1), match.captured(2).rightJustified(2, '0')};
}

QString badAddress(const QString& text) {
    return QStringLiteral("\"%1\" is not a module address: give a house letter and a unit, such as A1 or P16")
        .arg(text);
}

}  // namespace

const std::vector<VerbInfo>& verbs() {
    static const std::vector<VerbInfo> table{
        {Verb::On, "on", "x10on", "on", Operands::Units, "on ADDRESS...", "Switch modules on.", "quenvar on A1"},
        {Verb::Off, "off", "x10off", "off", Operands::Units, "off ADDRESS...", "Switch modules off.",
         "quenvar off A1 A3 A5"},
        {Verb::Dim, "dim", "x10dim", "dim", Operands::UnitsAndLevel, "dim ADDRESS... PERCENT",
         "Dim lamps by PERCENT of the full range.", "quenvar dim A1 40"},
        {Verb::Bright, "bright", "x10brighten", "bright", Operands::UnitsAndLevel, "bright ADDRESS... PERCENT",
         "Brighten lamps by PERCENT of the full range.", "quenvar bright A1 40"},
        {Verb::LightsOn, "lightson", "lightson", "all_lights_on", Operands::House, "lightson HOUSE",
         "Switch every lamp of a house on.", "quenvar lightson A"},
        {Verb::LightsOff, "lightsoff", "Lightsoff", "all_lights_off", Operands::House, "lightsoff HOUSE",
         "Switch every lamp of a house off.", "quenvar lightsoff A"},
        {Verb::AllOff, "alloff", "alloff", "all_units_off", Operands::House, "alloff HOUSE",
         "Switch every module of a house off.", "quenvar alloff A"},
        {Verb::Monitor, "monitor", "", "", Operands::Nothing, "monitor [--json]",
         "Print each function heard on the power line.", "quenvar monitor --json | jq -c 'select(.house == \"A\")'"},
    };
    return table;
}

const VerbInfo& infoOf(Verb verb) {
    return *std::find_if(verbs().begin(), verbs().end(), [verb](const VerbInfo& info) { return info.verb == verb; });
}

std::chrono::milliseconds Invocation::limit() const {
    if (timeout) return *timeout;
    return std::max<std::chrono::milliseconds>(5s, transmissions() * 2500ms);
}

QString Invocation::describe() const {
    QStringList words{QLatin1String(infoOf(verb).name)};
    if (units.isEmpty()) {
        if (!house.isEmpty()) words << house.toUpper();
    } else {
        for (const QString& unit : units) words << house.toUpper() + QString::number(unit.toInt());
    }
    if (infoOf(verb).operands == Operands::UnitsAndLevel) words << QString::number(level);
    return words.join(' ');
}

std::variant<Invocation, EarlyExit> parseInvocation(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const OptionInfo& option : optionTable) {
        parser.addOption(QCommandLineOption(QLatin1String(option.name), QLatin1String(option.description),
                                            QLatin1String(option.valueName)));
    }
    if (!parser.parse(arguments)) return usageError(parser.errorText());

    const QStringList positional = parser.positionalArguments();
    const VerbInfo* info = nullptr;
    if (!positional.isEmpty()) {
        const auto found = std::find_if(verbs().begin(), verbs().end(), [&](const VerbInfo& candidate) {
            return positional.front().compare(QLatin1String(candidate.name), Qt::CaseInsensitive) == 0;
        });
        if (found == verbs().end()) {
            return usageError(QStringLiteral("unknown command \"%1\"").arg(positional.front()));
        }
        info = &*found;
    }
    if (parser.isSet("help")) return EarlyExit{info ? commandHelp(*info) : generalHelp()};
    if (parser.isSet("version")) return EarlyExit{QStringLiteral("quenvar %1\n").arg(QLatin1String(QUENVAR_VERSION))};
    if (!info)
        return usageError(
            QStringLiteral("name a command: on, off, dim, bright, lightson, lightsoff, alloff or monitor"));

    Invocation invocation;
    invocation.verb = info->verb;
    invocation.quiet = parser.isSet("quiet");
    invocation.json = parser.isSet("json");
    if (invocation.json && info->verb != Verb::Monitor) return usageError(QStringLiteral("--json is for monitor"));
    invocation.broker = parser.value("broker");
    if (parser.isSet("interface")) invocation.interfaceId = parser.value("interface");
    if (parser.isSet("prefix")) invocation.prefix = parser.value("prefix");
    if (invocation.interfaceId.isEmpty() || invocation.interfaceId.contains(QRegularExpression("[/+#]")) ||
        invocation.prefix.isEmpty() || invocation.prefix.contains(QRegularExpression("[+#]"))) {
        return usageError(QStringLiteral("--interface and --prefix must be topic levels without /, + or #"));
    }
    if (parser.isSet("port") && parser.isSet("device")) {
        return usageError(QStringLiteral("give --port or --device, not both"));
    }
    if (parser.isSet("port")) {
        bool ok = false;
        const int port = parser.value("port").toInt(&ok);
        if (!ok || port < 1 || port > 16) {
            return usageError(
                QStringLiteral("--port must be a number from 1 to 16, not \"%1\"").arg(parser.value("port")));
        }
        invocation.port = port;
    }
    invocation.device = parser.value("device");
    if (parser.isSet("timeout")) {
        bool ok = false;
        const double seconds = parser.value("timeout").toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 24 * 3600) {
            return usageError(QStringLiteral("--timeout must be a number of seconds above 0, not \"%1\"")
                                  .arg(parser.value("timeout")));
        }
        invocation.timeout = std::chrono::milliseconds(static_cast<qint64>(seconds * 1000 + 0.5));
    }

    QStringList operands = positional.mid(1);
    const QString usage = QStringLiteral("usage: quenvar %1").arg(QLatin1String(info->synopsis));
    switch (info->operands) {
        case Operands::Nothing:
            if (!operands.isEmpty()) return usageError(QStringLiteral("monitor takes no arguments; %1").arg(usage));
            break;
        case Operands::House: {
            static const QRegularExpression letter(QStringLiteral("^[A-Za-z]$"));
            if (operands.size() != 1) return usageError(usage);
            if (!letter.match(operands.front()).hasMatch()) {
                return usageError(
                    QStringLiteral("\"%1\" is not a house letter: give one of A to P").arg(operands.front()));
            }
            invocation.house = operands.front();
            break;
        }
        case Operands::Units:
        case Operands::UnitsAndLevel: {
            if (info->operands == Operands::UnitsAndLevel) {
                if (operands.size() < 2) return usageError(usage);
                QString levelText = operands.takeLast();
                if (levelText.endsWith('%')) levelText.chop(1);
                bool ok = false;
                const int level = levelText.toInt(&ok);
                if (!ok || level < std::numeric_limits<qint16>::min() || level > std::numeric_limits<qint16>::max()) {
                    return usageError(
                        QStringLiteral("the level must be a whole percentage from 5 to 95, not \"%1\"").arg(levelText));
                }
                invocation.level = level;
            }
            if (operands.isEmpty()) return usageError(usage);
            for (const QString& operand : operands) {
                const auto address = splitAddress(operand);
                if (!address) return usageError(badAddress(operand));
                if (invocation.house.isEmpty()) {
                    invocation.house = address->first;
                } else if (address->first.compare(invocation.house, Qt::CaseInsensitive) != 0) {
                    return usageError(QStringLiteral("the units of one command share one house: %1 and %2")
                                          .arg(operands.front(), operand));
                }
                if (invocation.units.contains(address->second)) {
                    return usageError(QStringLiteral("%1 is named twice").arg(operand));
                }
                invocation.units << address->second;
            }
            break;
        }
    }
    return invocation;
}

}  // namespace quenvar::commandline
