// Reading the interface's uploads: when another transmitter (a remote control, a wall switch, a
// sensor) has been heard, the interface polls 0x5A until the control answers 0xC3, then sends
// what it heard. Where the poll met a transmission of the control, the control takes up its own
// work again once the upload has been read and reported.

#include "control/Quenvar.h"
#include "control/X10Codes.h"
#include "platform/automation/Conversions.h"

namespace quenvar::control {

using automation::charText;

void Quenvar::beginUpload(AfterUpload after) {
    msComm1_->setOutput(charText(x10::pollAnswer));
    // A poll that comes while the previous upload is still being told keeps what that one held.
    const bool held = upload_ && upload_->transmissionsHeld;
    upload_ = UploadUnderWay{};
    upload_->after = after;
    upload_->transmissionsHeld = held;
    ++uploadsBegun_;
}

void Quenvar::readUploadByte(int byte) {
    UploadUnderWay& upload = *upload_;
    if (upload.size == 0) {
        if (byte == x10::uploadPoll) {
            // Polled again before the answer arrived (the poll crossed a transmission on the line).
            msComm1_->setOutput(charText(x10::pollAnswer));
            return;
        }
        if (byte < 1 || byte > x10::largestUploadSize) {
            endUpload({});  // no upload can be this long: nothing of it can be trusted
            return;
        }
        upload.size = static_cast<std::size_t>(byte);
        return;
    }
    upload.bytes.push_back(static_cast<std::uint8_t>(byte));
    if (upload.bytes.size() == upload.size) {
        endUpload(decodeUpload(upload.bytes, heardSelections_));
    }
}

void Quenvar::holdQueuedTransmissions() {
    // Nor can it tell a power-fail reply's echo that is late from one lost: the command ends the
    // wait, and the command the request broke into goes first (an interface still unanswered
    // asks again).
    if (reply_) {
        endReply(true);
        return;
    }
    upload_->transmissionsHeld = true;
    // The control has no timer, so it cannot tell an upload still on its way from one cut short
    // on the line: a command from the host ends the reading, lest it wait for bytes that never come.
    if (upload_->reading) {
        endUpload({});
    }
}

void Quenvar::endUpload(const std::vector<HeardFunction>& heard) {
    upload_->reading = false;
    for (const HeardFunction& function : heard) {
        const HostCallOutcome told = callHost([this, &function] {
            if (x10received_) {
                x10received_(function);
            }
        });
        if (told.controlGone || told.uploadBegun) {
            return;  // gone, or a new poll came while the host handled this one: its upload takes over
        }
    }
    const UploadUnderWay finished = *upload_;
    upload_.reset();
    switch (finished.after) {
        case AfterUpload::StayIdle:
            if (finished.transmissionsHeld) {
                sendFrontPair();
            }
            break;
        case AfterUpload::SendAgain:
            if (!latestStr1_.empty()) {  // empty only when a host set the state without sending
                sendx10(latestStr1_, latestStr2_);
            }
            break;
        case AfterUpload::GoOnAsAfterReady: goOnAfterReady(); break;
    }
}

}  // namespace quenvar::control
