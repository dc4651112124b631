// The account of acknowledged transmissions: told exactly when the control writes 0x00 for a
// matching checksum echo, with the bytes of the transmission that echo belonged to, and never
// for anything else the handshake writes or drops.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/control/ControlFixture.h"

namespace quenvar::testing {
namespace {

using Acknowledged = control::x10::Transmission;

class AcknowledgedTransmissionsTest : public ControlFixture {
protected:
    AcknowledgedTransmissionsTest() {
        control->setTransmissionAcknowledged([this](const Acknowledged& transmission) {
            account.push_back(transmission);
            // The acknowledge byte is already on its way when the account hears of it.
            acknowledgeWritten.push_back(!port->writes.empty() && port->writes.back() == bytes({0x00}));
        });
    }

    std::vector<Acknowledged> account;
    std::vector<bool> acknowledgeWritten;
};

struct Exchange {
    const char* name;
    std::function<void(control::Quenvar&, ScriptedSerialComponent&)> run;
    std::vector<Acknowledged> expected;
};

TEST_F(AcknowledgedTransmissionsTest, TellsOfEveryAcknowledgedTransmissionAndNothingElse) {
    const std::vector<Exchange> exchanges = {
        {"On A1: the address, then the queued function",
         [](control::Quenvar& c, ScriptedSerialComponent& p) {
             c.x10on("A", "01");
             p.receive(bytes({0x6A, 0x55, 0x68, 0x55}));
         },
         {{0x04, 0x66}, {0x06, 0x62}}},
        {"All Lights On P: one transmission",
         [](control::Quenvar& c, ScriptedSerialComponent& p) {
             c.lightson("P");
             p.receive(bytes({0xC7, 0x55}));
         },
         {{0x06, 0xC1}}},
        {"a wrong echo is not acknowledged and not told",
         [](control::Quenvar& c, ScriptedSerialComponent& p) {
             c.lightson("P");
             p.receive(bytes({0xC8, 0xC6, 0x00}));
         },
         {}},
        {"a transmission that replaces one under way is told with its own bytes",
         [](control::Quenvar& c, ScriptedSerialComponent& p) {
             c.sendx10(bytes({0x04}), bytes({0x66}));
             c.sendx10(bytes({0x06}), bytes({0xC1}));
             p.receive(bytes({0x6A, 0xC7}));
         },
         {{0x06, 0xC1}}},
        {"the power-fail reply's zeros are no acknowledge",
         [](control::Quenvar&, ScriptedSerialComponent& p) { p.receive(bytes({0xA5})); },
         {}},
        {"an echo arriving in the wrong state is not acknowledged",
         [](control::Quenvar& c, ScriptedSerialComponent& p) {
             c.lightson("P");
             p.receive(bytes({0xC7, 0xC7}));  // the second one finds the control awaiting 0x55
         },
         {{0x06, 0xC1}}},
    };
    openPort();
    for (const Exchange& exchange : exchanges) {
        SCOPED_TRACE(exchange.name);
        account.clear();
        acknowledgeWritten.clear();
        boxes.shown.clear();
        control->setComstatus(control::handshake::idle);
        exchange.run(*control, *port);
        EXPECT_EQ(account, exchange.expected);
        EXPECT_EQ(acknowledgeWritten, std::vector<bool>(exchange.expected.size(), true));
        port->writes.clear();
    }
}

TEST_F(AcknowledgedTransmissionsTest, ChangesNothingInTheHandshake) {
    openPort();
    control->x10on("A", "01");
    port->receive(bytes({0x6A, 0x55, 0x68, 0x55}));
    const std::string withAccount = port->takeWritten();

    control->setTransmissionAcknowledged({});
    control->x10on("A", "01");
    port->receive(bytes({0x6A, 0x55, 0x68, 0x55}));
    EXPECT_EQ(port->takeWritten(), withAccount);
    EXPECT_EQ(readyEvents, 2);
    EXPECT_EQ(account.size(), 2u);
}

}  // namespace
}  // namespace quenvar::testing
