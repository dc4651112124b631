#include "commandline/Heard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quenvar::commandline {

namespace {

QString isoWithOffset(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

}  // namespace

Heard Heard::fromControl(const QString& house, const QString& units, const QString& command, int level,
                         const QDateTime& time) {
    Heard heard{house, {}, command.toLower().replace(' ', '_'), level, time};
    for (const QString& unit : units.split(',', Qt::SkipEmptyParts)) heard.units << unit.toInt();
    return heard;
}

std::optional<Heard> Heard::fromBridge(const QByteArray& payload) {
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();
    if (!object.value("house").isString() || !object.value("function").isString()) return std::nullopt;
    Heard heard{object.value("house").toString(),
                {},
                object.value("function").toString(),
                object.value("level").toInt(),
                QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs)};
    if (!heard.time.isValid()) heard.time = QDateTime::currentDateTime();
    for (const QJsonValue unit : object.value("units").toArray()) heard.units << unit.toInt();
    return heard;
}

QString Heard::what() const {
    QStringList addresses;
    for (int unit : units) addresses << house + QString::number(unit);
    QString text = (addresses.isEmpty() ? house : addresses.join(',')) + ' ' + QString(function).replace('_', ' ');
    if (function == QLatin1String("dim") || function == QLatin1String("bright"))
        text += QStringLiteral(" %1%").arg(level);
    return text;
}

QString Heard::text() const { return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + what(); }

QByteArray Heard::json() const {
    QJsonArray unitNumbers;
    for (int unit : units) unitNumbers.append(unit);
    const QJsonObject object{{"house", house},
                             {"units", unitNumbers},
                             {"function", function},
                             {"level", level},
                             {"time", isoWithOffset(time)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace quenvar::commandline
