// A broker that asks for TLS and a password, with certificates the test makes with openssl: the
// bridge gets through with both; a client with a wrong password or without TLS does not.

#include <QFile>

#include "tests/integration/mqtt/BridgeFixture.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;

bool run(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(30000);
    if (output) *output = QString::fromUtf8(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

class SecureBroker : public BridgeFixture {
protected:
    std::optional<Mosquitto::Security> security() override {
        EXPECT_TRUE(keys.isValid());
        const auto file = [this](const char* name) { return keys.filePath(name); };
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        QFile extensions(file("server.ext"));
        if (!extensions.open(QIODevice::WriteOnly)) return std::nullopt;
        extensions.write("subjectAltName=IP:127.0.0.1\n");
        extensions.close();
        QString output;
        const bool made =
            run("openssl",
                QStringList{"req", "-x509"} + ec +
                    QStringList{"-keyout", file("ca.key"), "-out", file("ca.crt"), "-subj", "/CN=quenvar test CA",
                                "-days", "2"},
                &output) &&
            run("openssl",
                QStringList{"req"} + ec +
                    QStringList{"-keyout", file("server.key"), "-out", file("server.csr"), "-subj", "/CN=127.0.0.1"},
                &output) &&
            run("openssl",
                {"x509", "-req", "-in", file("server.csr"), "-CA", file("ca.crt"), "-CAkey", file("ca.key"),
                 "-CAcreateserial", "-out", file("server.crt"), "-days", "2", "-extfile", file("server.ext")},
                &output) &&
            run("mosquitto_passwd", {"-b", "-c", file("passwords"), "bridge", password}, &output);
        EXPECT_TRUE(made) << output.toStdString();
        return Mosquitto::Security{file("ca.crt"), file("server.crt"), file("server.key"), file("passwords")};
    }

    mqtt::MqttOptions client(const QString& id, const QString& secret, bool tls) {
        mqtt::MqttOptions options = probeOptions(broker->port(), id);
        options.username = "bridge";
        options.password = secret;
        options.tls = tls;
        if (tls) options.caFile = keys.filePath("ca.crt");
        return options;
    }

    QTemporaryDir keys;
    const QString password = "s3cret-horse";
};

TEST_F(SecureBroker, LetsTheBridgeInWithTlsAndItsPasswordAndNobodyElse) {
    probe = std::make_unique<Probe>(client("probe", password, true));
    ASSERT_TRUE(probe->connect());
    qputenv("QUENVAR_MQTT_PASSWORD", password.toUtf8());
    startBridge({"A1=lamp"}, {"--username", "bridge", "--ca-file", keys.filePath("ca.crt")});
    qunsetenv("QUENVAR_MQTT_PASSWORD");
    EXPECT_EQ(ask("A1", R"({"state":"ON"})"), R"({"result":"done"})");

    struct Row {
        const char* who;
        QString secret;
        bool tls;
    };
    for (const Row& row : {Row{"wrong password", "guess", true}, Row{"no TLS", password, false}}) {
        SCOPED_TRACE(row.who);
        Probe intruder(client(row.who, row.secret, row.tls));
        EXPECT_FALSE(intruder.connect());
        EXPECT_FALSE(intruder.lastRefusal().isEmpty());
        EXPECT_FALSE(intruder.connected());
    }
}

}  // namespace
}  // namespace quenvar::testing
