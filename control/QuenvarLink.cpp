// The link layer: opening and closing the port, putting a two-byte transmission on the line,
// and the receive handler that runs the checksum / acknowledge / ready handshake.

#include <ctime>
#include <numeric>

#include "control/Quenvar.h"
#include "control/X10Codes.h"
#include "platform/automation/Conversions.h"

namespace quenvar::control {

using automation::charCode;
using automation::charText;

namespace {

x10::LocalTime hostLocalTime() {
    const std::time_t now = std::time(nullptr);
    // Copied at once: the C library keeps the broken-down time in a buffer of its own.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) {
        return {};
    }
    return {.second = local->tm_sec,
            .minute = local->tm_min,
            .hour = local->tm_hour,
            .yearDay = local->tm_yday,
            .weekday = local->tm_wday};
}

}  // namespace

Quenvar::Quenvar(std::unique_ptr<serial::SerialComponent> msComm1, ui::MessageBoxes& boxes)
    : msComm1_(std::move(msComm1)), boxes_(boxes), localClock_(hostLocalTime) {
    msComm1_->setOnComm([this] { onComm(); });
}

void Quenvar::setPowerfailreply(std::int16_t value) {
    if (value != power_fail_reply::macroDownload && value != power_fail_reply::clockSetting) {
        throw automation::RuntimeError::invalidPropertyValue();
    }
    powerfailreply_ = value;
}

Quenvar::~Quenvar() {
    // Notifications still queued for a control that is going away must not reach it.
    msComm1_->setOnComm({});
}

const automation::CollectionRef& Quenvar::colstring() {
    if (!colstring_) {
        colstring_ = std::make_shared<automation::Collection>();
    }
    return colstring_;
}

void Quenvar::openx10(std::int16_t port) {
    msComm1_->setCommPort(port);
    msComm1_->setPortOpen(true);
}

void Quenvar::closex10() { msComm1_->setPortOpen(false); }

void Quenvar::sendx10(const std::string& str1, const std::string& str2) {
    if (!msComm1_->portOpen()) {
        boxes_.showMessage(message::portClosed, message::errorTitle);
        return;
    }
    // Both codes are taken before anything is written: an empty text fails the call with
    // nothing on the line.
    const x10::Transmission transmission{static_cast<std::uint8_t>(charCode(str1)),
                                         static_cast<std::uint8_t>(charCode(str2))};
    if (holdsTransmissions()) {
        queueTransmission(str1, str2);
        holdQueuedTransmissions();
        return;
    }

    msComm1_->setOutput(str1);
    msComm1_->setOutput(str2);
    ++transmissionsSent_;
    latest_ = transmission;
    latestStr1_ = str1;
    latestStr2_ = str2;
    comstatus_ = handshake::awaitingEcho;
    strtotal_ = charText(transmission.checksum());
    checksum_ = strtotal_;
}

void Quenvar::send(const x10::Transmission& transmission) {
    sendx10(charText(transmission.header), charText(transmission.code));
}

void Quenvar::queueTransmission(const std::string& header, const std::string& code) {
    const automation::CollectionRef queue = colstring();
    queue->add(automation::Variant::fromText(header));
    queue->add(automation::Variant::fromText(code));
}

void Quenvar::queueTransmission(const x10::Transmission& transmission) {
    queueTransmission(charText(transmission.header), charText(transmission.code));
}

bool Quenvar::readReceivedByte(int& byte) {
    const std::string received = msComm1_->input();
    if (received.empty()) {
        return false;  // a notification without data is nothing to act on
    }
    byte = static_cast<unsigned char>(received.front());
    return true;
}

void Quenvar::onComm() {
    if (msComm1_->commEvent() != serial::comm_event::Receive) {
        return;  // only received bytes move the handshake
    }
    // An upload's bytes are read as such, whatever the handshake was awaiting when it came.
    if (upload_ && upload_->reading) {
        int byte = 0;
        if (readReceivedByte(byte)) {
            readUploadByte(byte & 0xFF);
        }
        return;
    }
    // A state a host wrote that is none of the three awaits nothing: the byte stays unread.
    if (comstatus_ != handshake::idle && comstatus_ != handshake::awaitingEcho &&
        comstatus_ != handshake::awaitingReady) {
        return;
    }
    int byte = 0;
    if (!readReceivedByte(byte)) {
        return;
    }
    if (reply_) {
        readReplyByte(byte);
        return;
    }

    switch (comstatus_) {
        case handshake::idle:
            if (byte == x10::powerFailRequest) {
                answerPowerFail(false);
            } else if (byte == x10::uploadPoll) {
                beginUpload(AfterUpload::StayIdle);
            }
            return;

        case handshake::awaitingEcho:
            if (charText(byte) == checksum_) {
                msComm1_->setOutput(charText(x10::acknowledgeByte));
                comstatus_ = handshake::awaitingReady;
                if (transmissionAcknowledged_) {
                    transmissionAcknowledged_(latest_);
                }
                return;
            }
            // An interface whose mains came back has lost the transmission and ignores everything
            // until its power-fail request is answered; left unanswered here, no later command
            // would ever get through. (A checksum that is itself 0xA5 was taken as the echo above.)
            if (byte == x10::powerFailRequest) {
                answerPowerFail(transmissionOutstanding());
                return;
            }
            // The interface polls instead of echoing: it did not take the transmission, which goes
            // out again once the upload has been read. (A checksum that is itself 0x5A was taken as
            // the echo above.)
            if (byte == x10::uploadPoll) {
                beginUpload(AfterUpload::SendAgain);
            }
            return;

        case handshake::awaitingReady: {
            // The poll in place of the ready byte: the transmission went out and news is waiting.
            if (byte == x10::uploadPoll) {
                beginUpload(AfterUpload::GoOnAsAfterReady);
                return;
            }
            if (byte == x10::readyByte) {
                goOnAfterReady();
                return;
            }
            // The mains went while the frame was on the power line: the interface lost it.
            if (byte == x10::powerFailRequest) {
                answerPowerFail(true);
                return;
            }
            const HostCallOutcome box =
                callHost([this] { boxes_.showMessage(message::notResponding, message::libraryTitle); });
            if (box.controlGone) {
                return;
            }
            // A transmission started while the box was open (a nested notification working
            // through the queue) is under way: going idle now would abandon its handshake.
            if (!box.transmissionStarted) {
                sendstatus_ = true;
                comstatus_ = handshake::idle;
            }
            return;
        }
    }
}

Quenvar::HostCallOutcome Quenvar::callHost(const std::function<void()>& call) {
    const std::uint64_t sentBefore = transmissionsSent_;
    const std::uint64_t uploadsBefore = uploadsBegun_;
    const automation::LivenessToken::Check control = liveness_.check();
    if (call) {
        call();
    }
    if (!control.objectAlive()) {
        return {.controlGone = true};  // and `this` is gone: only locals are read
    }
    return {.transmissionStarted = transmissionsSent_ != sentBefore, .uploadBegun = uploadsBegun_ != uploadsBefore};
}

void Quenvar::answerPowerFail(bool resumeCommand) {
    // A request repeated while the reply's handshake runs keeps the command the first one broke into.
    const bool resume = resumeCommand || (reply_ && reply_->resumeCommand);
    const bool clock = powerfailreply_ == power_fail_reply::clockSetting;
    std::vector<std::uint8_t> data;
    if (clock) {
        const auto setting = x10::clockSettingData(localClock_(), x10::houseCodes[0]);
        data.assign(setting.begin(), setting.end());
    } else {
        data.assign(x10::macroDownloadLength, 0x00);
    }
    msComm1_->setOutput(charText(clock ? x10::clockSettingHeader : x10::macroDownloadHeader));
    countmacro_ = 0;
    for (const std::uint8_t byte : data) {
        msComm1_->setOutput(charText(byte));
    }
    if (!clock && !resume) {
        // As the macro download has always been answered while idle: the interface takes the
        // next transmission in place of the acknowledge it awaits.
        reply_.reset();
        return;
    }
    reply_ = ReplyUnderWay{.echo = static_cast<std::uint8_t>(std::accumulate(data.begin(), data.end(), 0u) & 0xFF),
                           .resumeCommand = resume};
}

void Quenvar::readReplyByte(int byte) {
    if (!reply_->acknowledged && byte == reply_->echo) {
        msComm1_->setOutput(charText(x10::acknowledgeByte));
        reply_->acknowledged = true;
        return;
    }
    if (reply_->acknowledged && byte == x10::readyByte) {
        endReply(false);
        return;
    }
    // The interface still waits for its answer (a reply spoiled on the line, or a request that
    // crossed it): it is answered again. (An echo that is itself 0xA5 was taken above.)
    if (byte == x10::powerFailRequest) {
        answerPowerFail(false);
        return;
    }
    // The poll in place of the echo (the reply was not taken: the interface asks again) or of the
    // ready byte (it was): the news is read first, then the command goes on.
    if (byte == x10::uploadPoll) {
        const bool resume = reply_->resumeCommand;
        reply_.reset();
        beginUpload(resume ? AfterUpload::SendAgain : AfterUpload::StayIdle);
        return;
    }
    // A wrong echo, or anything but the ready byte after the acknowledge. An interface the reply
    // did not satisfy asks again once a second; the control has no timer to wait for a byte that
    // may never come, so it goes on with the command now.
    endReply(false);
}

void Quenvar::endReply(bool transmissionsHeld) {
    const bool resume = reply_->resumeCommand;
    reply_.reset();
    if (resume && !latestStr1_.empty()) {  // empty only when a host set the state without sending
        sendx10(latestStr1_, latestStr2_);
    } else if (transmissionsHeld) {
        sendFrontPair();
    }
}

void Quenvar::goOnAfterReady() {
    sendstatus_ = false;
    comstatus_ = handshake::awaitingEcho;

    const automation::CollectionRef queue = colstring();
    if (queue->count() >= 1) {
        sendFrontPair();
        return;
    }
    const std::optional<std::uint64_t> outerReady = readyRaisedAfter_;
    readyRaisedAfter_ = transmissionsSent_;
    const HostCallOutcome ready = callHost(x10ready_);
    if (ready.controlGone) {
        return;
    }
    readyRaisedAfter_ = outerReady;
    // A host that starts a transmission from its x10ready handler must not lose it: its
    // checksum echo is awaited, so the control stays busy instead of going idle.
    if (!ready.transmissionStarted) {
        sendstatus_ = true;
        comstatus_ = handshake::idle;
    }
}

void Quenvar::sendFrontPair() {
    const automation::CollectionRef queue = colstring();
    const std::string header = queue->item(1).toText();
    const std::string code = queue->item(2).toText();
    queue->remove(2);
    queue->remove(1);
    sendx10(header, code);
}

}  // namespace quenvar::control
