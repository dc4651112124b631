#pragma once
// One function heard on the power line, as monitor and the "heard:" lines print it, whether the
// control told it (x10received) or the MQTT bridge did (its received topic).
//
// What a caller may rely on:
// - `function` is the function's name in lower case with underscores ("on", "all_lights_on",
//   "status_request"), the bridge's form; `units` are numbers in the order they were addressed.
// - text(): "2026-12-09 18:04:05.120 A1,A3 off", "… A1 dim 50%", "… B all lights on"; the time is
//   local. json(): {"house","units","function","level","time"} on one line, the time local in
//   ISO 8601 with its offset from UTC.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace quenvar::commandline {

struct Heard {
    QString house;
    QList<int> units;
    QString function;
    int level = 0;
    QDateTime time;

    // From x10received's arguments: units "01,03", command "All Lights On".
    static Heard fromControl(const QString& house, const QString& units, const QString& command, int level,
                             const QDateTime& time);
    // From the bridge's received message; nullopt for a payload that is not one.
    static std::optional<Heard> fromBridge(const QByteArray& payload);

    // "A1,A3 off", "A1 dim 50%", "B all lights on": without the time.
    QString what() const;
    QString text() const;
    QByteArray json() const;
    bool operator==(const Heard&) const = default;
};

}  // namespace quenvar::commandline
