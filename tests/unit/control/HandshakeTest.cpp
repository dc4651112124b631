// The link layer against a scripted serial component: every exchange of the handshake, the
// power-fail reply and the ways the interface can answer wrongly.

#include <gtest/gtest.h>

#include "platform/automation/RuntimeError.h"
#include "tests/support/RuntimeErrors.h"
#include "tests/unit/control/ControlFixture.h"

namespace quenvar::testing {
namespace {

using automation::RuntimeError;
namespace hs = control::handshake;

class HandshakeTest : public ControlFixture {};

TEST_F(HandshakeTest, OnA1RunsBothTransmissionsAndRaisesReadyOnce) {
    openPort();
    queuePair(0x06, 0x62);
    control->sendx10(bytes({0x04}), bytes({0x66}));
    EXPECT_EQ(port->writes, (std::vector<std::string>{bytes({0x04}), bytes({0x66})}));  // two writes
    port->writes.clear();
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    EXPECT_EQ(control->checksum(), bytes({0x6A}));
    EXPECT_EQ(control->strtotal(), bytes({0x6A}));

    port->receive(bytes({0x6A}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
    EXPECT_EQ(control->comstatus(), hs::awaitingReady);

    port->receive(bytes({0x55}));
    EXPECT_FALSE(control->sendstatus());
    EXPECT_EQ(control->colstring()->count(), 0);
    EXPECT_EQ(port->writes, (std::vector<std::string>{bytes({0x06}), bytes({0x62})}));
    port->writes.clear();
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    EXPECT_EQ(control->checksum(), bytes({0x68}));
    EXPECT_EQ(readyEvents, 0);

    port->receive(bytes({0x68}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
    EXPECT_EQ(control->comstatus(), hs::awaitingReady);

    port->receive(bytes({0x55}));
    EXPECT_EQ(readyEvents, 1);
    EXPECT_EQ(stateDuringReady, hs::awaitingEcho);
    EXPECT_FALSE(sendstatusDuringReady);
    EXPECT_TRUE(control->sendstatus());
    EXPECT_EQ(control->comstatus(), hs::idle);
    EXPECT_EQ(port->takeWritten(), "");
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(HandshakeTest, ChecksumIsTheLowByteOfTheSum) {
    struct Case {
        int header, code, checksum;
    };
    const Case cases[] = {
        {0x04, 0x66, 0x6A}, {0x86, 0xF4, 0x7A}, {0x06, 0x62, 0x68}, {0xFF, 0xFF, 0xFE},
        {0x00, 0x00, 0x00}, {0x04, 0x56, 0x5A}, {0x9E, 0x62, 0x00},
    };
    openPort();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header * 256 + c.code);
        const control::x10::Transmission transmission{static_cast<std::uint8_t>(c.header),
                                                      static_cast<std::uint8_t>(c.code)};
        EXPECT_EQ(transmission.checksum(), c.checksum);
        control->sendx10(bytes({c.header}), bytes({c.code}));
        EXPECT_EQ(control->checksum(), bytes({c.checksum}));
        EXPECT_EQ(control->strtotal(), bytes({c.checksum}));
        EXPECT_EQ(port->takeWritten(), bytes({c.header, c.code}));
    }
}

TEST_F(HandshakeTest, PowerFailRequestWhenIdleGetsTheMacroReply) {
    openPort();
    control->setCountmacro(7);
    port->receive(bytes({0xA5}));
    ASSERT_EQ(port->writes.size(), 43u);  // 43 separate writes
    EXPECT_EQ(port->writes.front(), bytes({0xFB}));
    for (std::size_t i = 1; i < port->writes.size(); ++i) {
        EXPECT_EQ(port->writes[i], bytes({0x00})) << "write " << i;
    }
    EXPECT_EQ(control->countmacro(), 0);
    EXPECT_EQ(control->comstatus(), hs::idle);
    EXPECT_EQ(readyEvents, 0);
}

TEST_F(HandshakeTest, StrayBytesWhenIdleAreDropped) {
    openPort();
    // (0x5A is the interface's upload poll: see the upload reading tests.)
    for (int stray : {0x00, 0x55, 0x6A, 0xC3, 0xFF}) {
        SCOPED_TRACE(stray);
        port->receive(bytes({stray}));
        EXPECT_TRUE(port->writes.empty());
        EXPECT_EQ(control->comstatus(), hs::idle);
        EXPECT_TRUE(port->unread.empty());  // read and dropped, not left waiting
    }
    EXPECT_EQ(readyEvents, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(HandshakeTest, PowerFailByteWhileAwaitingEchoIsAnsweredUnlessItIsTheEcho) {
    openPort();
    control->sendx10(bytes({0x04}), bytes({0xA1}));  // checksum 0xA5
    port->writes.clear();
    port->receive(bytes({0xA5}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
    EXPECT_EQ(control->comstatus(), hs::awaitingReady);

    queuePair(0x06, 0x52);
    control->sendx10(bytes({0x04}), bytes({0x56}));  // checksum 0x5A
    port->writes.clear();
    // The interface lost the transmission with the mains: the request is answered as when idle,
    // and the command stays under way (the power-fail reply tests follow it to its end).
    port->receive(bytes({0xA5}));
    EXPECT_EQ(port->takeWritten(), bytes({0xFB}) + std::string(42, '\0'));
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    EXPECT_EQ(control->countmacro(), 0);
    EXPECT_EQ(control->colstring()->count(), 2);  // the queued function is not touched
    EXPECT_EQ(readyEvents, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(HandshakeTest, AnythingButReadyWhileAwaitingReadyReportsTheInterface) {
    // (0xA5 there is the interface's power-fail request: see the power-fail reply tests.)
    for (int answer : {0x00, 0x6A, 0xAA}) {
        SCOPED_TRACE(answer);
        boxes.shown.clear();
        openPort();
        control->setSendstatus(false);
        control->setComstatus(hs::awaitingReady);
        port->receive(bytes({answer}));
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].prompt, "Interface is not responding");
        EXPECT_EQ(boxes.shown[0].title, "quenvar");
        EXPECT_EQ(control->comstatus(), hs::idle);
        EXPECT_TRUE(control->sendstatus());
        EXPECT_TRUE(port->writes.empty());
    }
}

TEST_F(HandshakeTest, StateChangesAfterNotRespondingWaitForTheBoxToClose) {
    openPort();
    control->setComstatus(hs::awaitingReady);
    std::int16_t stateWhileOpen = -1;
    bool sendstatusWhileOpen = true;
    boxes.whileOpen = [&] {
        stateWhileOpen = control->comstatus();
        sendstatusWhileOpen = control->sendstatus();
    };
    port->receive(bytes({0x33}));
    EXPECT_EQ(stateWhileOpen, hs::awaitingReady);
    EXPECT_FALSE(sendstatusWhileOpen);
    EXPECT_EQ(control->comstatus(), hs::idle);
}

TEST_F(HandshakeTest, OnlyTheFirstCharacterOfAReadIsExamined) {
    openPort();
    port->wholeBufferPerRead = true;
    control->sendx10(bytes({0x04}), bytes({0x66}));
    port->writes.clear();
    port->receiveAtOnce(bytes({0x6A, 0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
    EXPECT_EQ(control->comstatus(), hs::awaitingReady);  // the 0x55 went with the same read
    EXPECT_TRUE(port->unread.empty());
    EXPECT_EQ(readyEvents, 0);
}

TEST_F(HandshakeTest, ReadyWithAnEmptyQueueRaisesReadyOnce) {
    openPort();
    control->sendx10(bytes({0x06}), bytes({0x61}));  // a one-transmission command
    port->receive(bytes({0x67}));
    port->receive(bytes({0x55}));
    EXPECT_EQ(readyEvents, 1);
    EXPECT_FALSE(sendstatusDuringReady);
    EXPECT_TRUE(control->sendstatus());
    EXPECT_EQ(control->comstatus(), hs::idle);

    // A queue never used behaves the same.
    control->setColstring(nullptr);
    control->setComstatus(hs::awaitingReady);
    port->receive(bytes({0x55}));
    EXPECT_EQ(readyEvents, 2);
    EXPECT_EQ(control->comstatus(), hs::idle);
}

TEST_F(HandshakeTest, ClosedPortShowsTheBoxAndChangesNothing) {
    control->setComstatus(hs::awaitingReady);
    control->setChecksum("c");
    control->setStrtotal("s");
    control->sendx10(bytes({0x04}), bytes({0x66}));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0], (ShownMessage{"Port must be open before you can call a command", "Error"}));
    EXPECT_TRUE(port->writes.empty());
    EXPECT_EQ(control->comstatus(), hs::awaitingReady);
    EXPECT_EQ(control->checksum(), "c");
    EXPECT_EQ(control->strtotal(), "s");
}

TEST_F(HandshakeTest, EmptyBytesFailBeforeAnythingIsWritten) {
    openPort();
    for (auto [str1, str2] : {std::pair{std::string{}, bytes({0x66})}, {bytes({0x04}), std::string{}}}) {
        ASSERT_EQ(errorNumberOf([&] { control->sendx10(str1, str2); }), automation::error_number::InvalidProcedureCall)
            << "an empty byte text must fail the call";
        EXPECT_TRUE(port->writes.empty());
        EXPECT_EQ(control->comstatus(), hs::idle);
        EXPECT_EQ(control->checksum(), "");
    }
}

TEST_F(HandshakeTest, FailedWriteLeavesTheHandshakeFieldsAlone) {
    openPort();
    port->writeError = RuntimeError(automation::error_number::DeviceIoError, "Device I/O error");
    EXPECT_THROW(control->sendx10(bytes({0x04}), bytes({0x66})), RuntimeError);
    EXPECT_EQ(control->comstatus(), hs::idle);
    EXPECT_EQ(control->checksum(), "");
    EXPECT_EQ(control->strtotal(), "");
}

TEST_F(HandshakeTest, WrongEchoIsDroppedAndTheNextByteComparedAgain) {
    openPort();
    control->sendx10(bytes({0x04}), bytes({0x66}));
    port->writes.clear();
    port->receive(bytes({0x6B, 0x00, 0x55}));
    EXPECT_TRUE(port->writes.empty());
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    port->receive(bytes({0x6A}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
}

TEST_F(HandshakeTest, PairLeftQueuedAcrossCloseAndReopenGoesOutFirst) {
    openPort();
    control->x10on("A", "01");
    port->receive(bytes({0x6A}));
    control->closex10();
    control->openx10(1);
    port->writes.clear();

    control->x10on("B", "02");  // address 0x04, 0xEE
    EXPECT_EQ(port->takeWritten(), bytes({0x04, 0xEE}));
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    EXPECT_EQ(queued(), bytes({0x06, 0x62, 0x06, 0xE2}));

    port->receive(bytes({0xF2, 0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00, 0x06, 0x62}));
    port->receive(bytes({0x68, 0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00, 0x06, 0xE2}));
    EXPECT_EQ(readyEvents, 0);
    port->receive(bytes({0xE8, 0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
    EXPECT_EQ(readyEvents, 1);
    EXPECT_EQ(control->comstatus(), hs::idle);
}

TEST_F(HandshakeTest, WrongAnswerKeepsTheQueuedPairForTheNextReady) {
    openPort();
    control->x10on("A", "01");
    port->receive(bytes({0x6A, 0x99}));
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(control->comstatus(), hs::idle);
    EXPECT_TRUE(control->sendstatus());
    EXPECT_EQ(queued(), bytes({0x06, 0x62}));

    port->writes.clear();
    control->lightson("C");  // 0x06, 0x21
    port->receive(bytes({0x27, 0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x06, 0x21, 0x00, 0x06, 0x62}));
    EXPECT_EQ(control->colstring()->count(), 0);
}

TEST_F(HandshakeTest, UnknownStateWrittenByTheHostReadsNothing) {
    openPort();
    control->setComstatus(7);
    port->receive(bytes({0xA5, 0x55}));
    EXPECT_EQ(port->reads, 0);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_EQ(control->comstatus(), 7);
    EXPECT_TRUE(boxes.shown.empty());

    control->sendx10(bytes({0x04}), bytes({0x66}));
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
}

TEST_F(HandshakeTest, NotificationsOtherThanDataReceivedAreIgnoredInEveryState) {
    openPort();
    for (std::int16_t state : {hs::idle, hs::awaitingEcho, hs::awaitingReady}) {
        SCOPED_TRACE(state);
        control->setComstatus(state);
        control->setChecksum(bytes({0xA5}));
        port->unread = bytes({0xA5});
        for (std::int16_t reason : {serial::comm_event::Send, serial::comm_event::DeviceLost, std::int16_t{0}}) {
            port->notify(reason);
        }
        EXPECT_EQ(port->reads, 0);
        EXPECT_TRUE(port->writes.empty());
        EXPECT_EQ(control->comstatus(), state);
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(HandshakeTest, EmptyReadIsIgnoredInEveryState) {
    openPort();
    for (std::int16_t state : {hs::idle, hs::awaitingEcho, hs::awaitingReady}) {
        SCOPED_TRACE(state);
        control->setComstatus(state);
        control->setChecksum("");
        port->notify(serial::comm_event::Receive);  // nothing waiting
        EXPECT_TRUE(port->writes.empty());
        EXPECT_EQ(control->comstatus(), state);
    }
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(readyEvents, 0);
}

TEST_F(HandshakeTest, NewTransmissionDuringAHandshakeTakesOverTheChecksum) {
    openPort();
    control->x10on("A", "01");
    control->x10on("A", "02");  // address 0x04, 0x6E: checksum 0x72
    port->writes.clear();
    port->receive(bytes({0x6A}));  // the late echo of the first
    EXPECT_TRUE(port->writes.empty());
    port->receive(bytes({0x72, 0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00, 0x06, 0x62}));
    EXPECT_EQ(queued(), bytes({0x06, 0x62}));
}

// A host that sends from its x10ready handler keeps its transmission: the control stays busy
// awaiting that transmission's echo instead of dropping back to idle.
TEST_F(HandshakeTest, TransmissionStartedFromTheReadyEventIsNotAbandoned) {
    openPort();
    bool sentOnce = false;
    onReady = [&] {
        if (!sentOnce) {
            sentOnce = true;
            control->sendx10(bytes({0x06}), bytes({0x61}));
        }
    };
    control->sendx10(bytes({0x06}), bytes({0x62}));
    port->receive(bytes({0x68, 0x55}));
    EXPECT_EQ(readyEvents, 1);
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    EXPECT_FALSE(control->sendstatus());

    port->writes.clear();
    port->receive(bytes({0x67}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
    port->receive(bytes({0x55}));
    EXPECT_EQ(readyEvents, 2);
    EXPECT_EQ(control->comstatus(), hs::idle);
    EXPECT_TRUE(control->sendstatus());
}

// While the "not responding" box is open a nested notification may already send the next
// queued pair; closing the box must not abandon that transmission.
TEST_F(HandshakeTest, TransmissionStartedWhileTheBoxIsOpenIsNotAbandoned) {
    openPort();
    queuePair(0x06, 0x62);
    control->setComstatus(hs::awaitingReady);
    boxes.whileOpen = [&] { port->receive(bytes({0x55})); };
    port->receive(bytes({0x33}));
    EXPECT_EQ(port->takeWritten(), bytes({0x06, 0x62}));
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    port->receive(bytes({0x68}));
    EXPECT_EQ(port->takeWritten(), bytes({0x00}));
}

TEST_F(HandshakeTest, LoneQueueEntryEndsTheHandlerWithSubscriptError) {
    openPort();
    control->colstring()->add(automation::Variant::fromText(bytes({0x06})));
    control->setComstatus(hs::awaitingReady);
    ASSERT_EQ(errorNumberOf([&] { port->receive(bytes({0x55})); }), automation::error_number::SubscriptOutOfRange)
        << "a lone entry must end the handler with an error";
    EXPECT_EQ(control->colstring()->count(), 1);
    EXPECT_FALSE(control->sendstatus());
    EXPECT_EQ(control->comstatus(), hs::awaitingEcho);
    EXPECT_TRUE(port->writes.empty());
}

TEST_F(HandshakeTest, OpenAndCloseTouchOnlyThePort) {
    control->setComstatus(hs::awaitingReady);
    queuePair(0x06, 0x62);
    control->openx10(3);
    EXPECT_EQ(port->port, 3);
    EXPECT_TRUE(port->open);
    control->closex10();
    EXPECT_FALSE(port->open);
    EXPECT_EQ(control->comstatus(), hs::awaitingReady);
    EXPECT_EQ(queued(), bytes({0x06, 0x62}));

    port->openError = RuntimeError(automation::error_number::DeviceUnavailable, "no device");
    EXPECT_THROW(control->openx10(2), RuntimeError);
    EXPECT_EQ(port->port, 2);
    EXPECT_FALSE(port->open);
}

}  // namespace
}  // namespace quenvar::testing
