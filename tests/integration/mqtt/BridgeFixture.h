#pragma once
// The bridge program on a broker of the test's own, with x10sim's device behind a link in the
// test's folder and a probe that sees every message.

#include <gtest/gtest.h>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <utility>
#include <vector>

#include "sim/Simulator.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/integration/mqtt/MqttRig.h"

namespace quenvar::testing {

class BridgeFixture : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        registerModule();
        ASSERT_TRUE(folder.isValid());
        qputenv("QUENVAR_LOCK_DIR", folder.path().toUtf8());
        link = folder.filePath("comm1");
        startSimulator();
        broker = std::make_unique<Mosquitto>(folder.path(), security());
        ASSERT_TRUE(broker->start()) << "mosquitto did not start (scripts/install-deps.sh installs it): "
                                     << broker->log().toStdString();
    }
    void TearDown() override {
        stopBridge();
        qunsetenv("QUENVAR_LOCK_DIR");
        ModuleFixture::TearDown();
    }
    virtual std::optional<Mosquitto::Security> security() { return std::nullopt; }

    void startSimulator() {
        x10sim::SimulatorOptions options;
        options.linkPath = link;
        simulator = std::make_unique<x10sim::Simulator>(options);
        simulator->start();
    }
    void connectProbe() {
        probe = std::make_unique<Probe>(probeOptions(broker->port(), "probe"));
        ASSERT_TRUE(probe->connect());
    }

    // Starts the program; returns once it says it and its interface are online.
    void startBridge(const QStringList& modules = {"A1=lamp:Porch", "A2=appliance:Fan", "A3=lamp:Hall"},
                     const QStringList& extra = {}) {
        if (!probe) connectProbe();
        const std::size_t from = probe->count();
        launchBridge(modules, extra);
        ASSERT_TRUE(probe->waitFor("quenvar/house/bridge/availability", "online", from)) << output();
        ASSERT_TRUE(probe->waitFor("quenvar/house/availability", "online", from)) << output();
    }
    void launchBridge(const QStringList& modules, const QStringList& extra) {
        QStringList arguments{"--broker",          broker->url(), "--interface",      "house", "--port", link,
                              "--command-timeout", "1",           "--retry-interval", "0.2"};
        for (const QString& module : modules) arguments << "--module" << module;
        bridge.setProcessChannelMode(QProcess::MergedChannels);
        bridge.start(QStringLiteral(QUENVAR_MQTT_PROGRAM), arguments + extra);
        ASSERT_TRUE(bridge.waitForStarted());
    }
    void stopBridge() {
        if (bridge.state() == QProcess::NotRunning) return;
        bridge.terminate();
        if (!bridge.waitForFinished(5000)) bridge.kill();
        bridge.waitForFinished(2000);
    }
    std::string output() { return bridge.readAll().toStdString(); }

    QByteArray ask(const QString& address, const QByteArray& payload) {
        return probe->ask("quenvar/house/" + address + "/set", payload);
    }
    QJsonObject lastState(const QString& address) const {
        return QJsonDocument::fromJson(probe->last("quenvar/house/" + address + "/state").value_or("{}")).object();
    }
    std::vector<std::pair<int, int>> framesFrom(std::size_t from) const {
        std::vector<std::pair<int, int>> pairs;
        const auto& frames = simulator->frames();
        for (std::size_t i = from; i < frames.size(); ++i) pairs.emplace_back(frames[i].header, frames[i].code);
        return pairs;
    }

    QTemporaryDir folder;
    QString link;
    std::unique_ptr<x10sim::Simulator> simulator;
    std::unique_ptr<Mosquitto> broker;
    std::unique_ptr<Probe> probe;
    QProcess bridge;
};

}  // namespace quenvar::testing
