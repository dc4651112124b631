#include "sim/InterfaceProtocol.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace x10sim {

using namespace std::chrono_literals;

InterfaceProtocol::Timing InterfaceProtocol::Timing::immediate() { return Timing{}; }

InterfaceProtocol::Timing InterfaceProtocol::Timing::realistic() {
    Timing timing;
    timing.replyDelay = Duration(1'000'000 * 10 / 4800);  // start + 8 data + stop bits
    timing.mainsCycle = Duration(1'000'000 / 60);
    return timing;
}

InterfaceProtocol::InterfaceProtocol(Timing timing, PowerFailAnswer powerFailAnswer)
    : timing_(timing), powerFailAnswer_(powerFailAnswer) {
    // A zero repeat or limit would make advance() produce events forever at one instant.
    if (timing_.powerFailRepeat <= 0us || timing_.silenceLimit <= 0us || timing_.pollRepeat <= 0us ||
        timing_.clockHeaderSilence <= 0us)
        throw std::invalid_argument(
            "x10sim: the power-fail and poll repeats, the silence limit and the clock header's silence must be "
            "positive");
    if (timing_.replyDelay < 0us || timing_.mainsCycle < 0us)
        throw std::invalid_argument("x10sim: reply delay and mains cycle must not be negative");
}

int InterfaceProtocol::cyclesOnPowerLine(const Frame& frame) {
    constexpr int oneTransmission = 11 + 11 + 3;
    constexpr int oneRepeat = 11;
    const bool repeatsPerStep = frame.kind == FrameKind::Function &&
                                (frame.function == FunctionCode::Dim || frame.function == FunctionCode::Bright);
    if (repeatsPerStep && frame.dimSteps > 1) return oneTransmission + oneRepeat * (frame.dimSteps - 1);
    return oneTransmission;
}

int InterfaceProtocol::armedCount(Fault fault) const {
    switch (fault) {
        case Fault::None: return 0;
        case Fault::WrongEcho: return wrongEcho_;
        case Fault::NoAnswer: return noAnswer_;
        case Fault::NotReady: return notReady_;
        case Fault::StrayBytes: return strayBytes_;
        case Fault::UploadCutShort: return uploadCutShort_;
        case Fault::UploadSizeOutOfRange: return uploadSizeOutOfRange_;
    }
    return 0;
}

std::uint8_t InterfaceProtocol::memoryByte(std::uint16_t address) const {
    const auto stored = memory_.find(address);
    return stored == memory_.end() ? 0 : stored->second;
}

void InterfaceProtocol::receive(std::uint8_t byte, TimePoint now) {
    advance(now);
    handleByte(byte, now);
    advance(now);
}

void InterfaceProtocol::injectFault(Fault fault, TimePoint now) {
    advance(now);
    switch (fault) {
        case Fault::None:
            wrongEcho_ = noAnswer_ = notReady_ = strayBytes_ = uploadCutShort_ = uploadSizeOutOfRange_ = 0;
            break;
        case Fault::WrongEcho: ++wrongEcho_; break;
        case Fault::NoAnswer: ++noAnswer_; break;
        case Fault::NotReady: ++notReady_; break;
        case Fault::StrayBytes:
            ++strayBytes_;
            releaseStrayBytesIfIdle(now);
            break;
        case Fault::UploadCutShort: ++uploadCutShort_; break;
        case Fault::UploadSizeOutOfRange: ++uploadSizeOutOfRange_; break;
    }
    advance(now);
}

void InterfaceProtocol::powerFailure(TimePoint now) {
    advance(now);
    // Whatever was under way when the mains went is lost with it, and so is what was heard.
    pending_.reset();
    collected_.clear();
    heard_.clear();
    heardMask_ = 0;
    pollSent_ = false;
    ignoredBlockBytes_ = 0;
    state_ = State::PowerFailRequesting;
    nextPowerFailRequestAt_ = now;
    advance(now);
}

void InterfaceProtocol::setMonitoredUnitsSource(std::function<MonitoredUnits(char house)> source) {
    monitoredUnits_ = std::move(source);
}

void InterfaceProtocol::hear(const Frame& frame, TimePoint now) {
    advance(now);
    std::vector<std::uint8_t> data{frame.code};
    const bool isFunction = frame.kind != FrameKind::Address;
    if (frame.kind == FrameKind::Function &&
        (frame.function == FunctionCode::Dim || frame.function == FunctionCode::Bright)) {
        const int steps = std::min(frame.dimSteps, fullBrightnessSteps);
        data.push_back(
            static_cast<std::uint8_t>((steps * levelFullRange + fullBrightnessSteps / 2) / fullBrightnessSteps));
    } else if (frame.kind == FrameKind::Extended && frame.extendedBytes.size() == 3) {
        data.push_back(frame.extendedBytes[1]);  // data
        data.push_back(frame.extendedBytes[2]);  // command
    }
    // A full buffer keeps what it has; a function that would not fit whole is not kept at all.
    if (heard_.size() + data.size() <= std::size_t(uploadCapacity)) {
        if (heard_.empty()) nextPollAt_ = now;
        if (isFunction) heardMask_ = static_cast<std::uint8_t>(heardMask_ | (1u << heard_.size()));
        heard_.insert(heard_.end(), data.begin(), data.end());
    }
    advance(now);
}

std::vector<InterfaceOutput> InterfaceProtocol::takeOutput() {
    std::vector<InterfaceOutput> taken;
    taken.swap(output_);
    return taken;
}

std::optional<InterfaceProtocol::TimePoint> InterfaceProtocol::pollDeadline() const {
    // While a frame goes out the poll waits to take the place of its 0x55; while a power-fail
    // request or a download is under way it waits for the interface to be back in service.
    if (heard_.empty() || (state_ != State::Idle && state_ != State::AwaitingAcknowledge)) return std::nullopt;
    return nextPollAt_;
}

std::optional<InterfaceProtocol::TimePoint> InterfaceProtocol::nextDeadline() const {
    std::optional<TimePoint> earliest;
    const auto consider = [&earliest](TimePoint candidate) {
        if (!earliest || candidate < *earliest) earliest = candidate;
    };
    if (!scheduled_.empty()) consider(scheduled_.front().due);
    if (const auto poll = pollDeadline()) consider(*poll);
    switch (state_) {
        case State::Idle:
            if (!collected_.empty()) consider(lastByteAt_ + timing_.silenceLimit);
            break;
        case State::SendingOnPowerLine: consider(frameDoneAt_); break;
        case State::PowerFailRequesting: consider(nextPowerFailRequestAt_); break;
        case State::ReceivingMacro:
        case State::ReceivingMemory: consider(lastByteAt_ + timing_.silenceLimit); break;
        case State::ReceivingClock:
            consider(lastByteAt_ + (collected_.empty() ? timing_.clockHeaderSilence : timing_.silenceLimit));
            break;
        case State::AwaitingAcknowledge:
        case State::AwaitingMacroAcknowledge:
        case State::AwaitingClockAcknowledge:
        case State::AwaitingRingAcknowledge:
        case State::AwaitingMemoryAcknowledge: break;
    }
    return earliest;
}

void InterfaceProtocol::advance(TimePoint now) {
    for (auto deadline = nextDeadline(); deadline && *deadline <= now; deadline = nextDeadline())
        runOneDeadline(*deadline);
}

void InterfaceProtocol::runOneDeadline(TimePoint deadline) {
    // Bytes already on their way leave before anything else due at the same instant.
    if (!scheduled_.empty() && scheduled_.front().due == deadline) {
        output_.push_back(std::move(scheduled_.front().output));
        scheduled_.pop_front();
        return;
    }
    if (pollDeadline() == deadline) {
        sendPoll(deadline);
        return;
    }
    switch (state_) {
        case State::Idle:  // a transmission went silent half-way
        case State::ReceivingMemory: becomeIdle(deadline); break;
        case State::SendingOnPowerLine: finishFrame(deadline); break;
        case State::PowerFailRequesting:
            sendByte(powerFailRequest, deadline);
            nextPowerFailRequestAt_ = deadline + timing_.powerFailRepeat;
            break;
        case State::ReceivingMacro:  // the download went silent: still unanswered
            collected_.clear();
            state_ = State::PowerFailRequesting;
            nextPowerFailRequestAt_ = deadline;
            break;
        case State::ReceivingClock:
            // The header alone answers a power failure; a setting cut short answers nothing.
            if (clockAnswersPowerFail_ && !collected_.empty()) {
                collected_.clear();
                state_ = State::PowerFailRequesting;
                nextPowerFailRequestAt_ = deadline;
            } else {
                becomeIdle(deadline);
            }
            break;
        case State::AwaitingAcknowledge:
        case State::AwaitingMacroAcknowledge:
        case State::AwaitingClockAcknowledge:
        case State::AwaitingRingAcknowledge:
        case State::AwaitingMemoryAcknowledge: break;  // have no deadline
    }
}

void InterfaceProtocol::handleByte(std::uint8_t byte, TimePoint now) {
    switch (state_) {
        case State::Idle: idleByte(byte, now); break;
        case State::AwaitingAcknowledge:
            if (byte == acknowledgeByte) {
                state_ = State::SendingOnPowerLine;
                frameDoneAt_ = now + timing_.mainsCycle * cyclesOnPowerLine(*pending_);
            } else {
                pending_.reset();
                state_ = State::Idle;
                idleByte(byte, now);
            }
            break;
        case State::SendingOnPowerLine: break;  // busy on the power line: nothing is listened to
        case State::PowerFailRequesting: powerFailByte(byte, now); break;
        case State::ReceivingMacro:
            collected_.push_back(byte);
            lastByteAt_ = now;
            if (static_cast<int>(collected_.size()) == macroDataBytes) {
                const unsigned sum = std::accumulate(collected_.begin(), collected_.end(), 0u);
                collected_.clear();
                echoAndAwait(sum, State::AwaitingMacroAcknowledge, now);
            }
            break;
        case State::AwaitingMacroAcknowledge:
            if (byte == macroDownload) {  // the download again, from its start
                state_ = State::ReceivingMacro;
                collected_.clear();
                lastByteAt_ = now;
                break;
            }
            // The download itself has arrived, so the power failure counts as answered.
            acknowledgeRequest(byte, now);
            break;
        case State::ReceivingClock: clockDataByte(byte, now); break;
        case State::AwaitingClockAcknowledge:
            if (byte == acknowledgeByte) setClock(now);
            // Like the macro download: the setting arrived, so a power failure counts as answered.
            acknowledgeRequest(byte, now);
            break;
        case State::AwaitingRingAcknowledge:
            if (byte == acknowledgeByte) ringSignal_ = collected_.front() == ringSignalOn;
            acknowledgeRequest(byte, now);
            break;
        case State::ReceivingMemory: memoryBlockByte(byte, now); break;
        case State::AwaitingMemoryAcknowledge:
            if (byte == acknowledgeByte) storeMemoryBlock();
            acknowledgeRequest(byte, now);
            break;
    }
}

void InterfaceProtocol::powerFailByte(std::uint8_t byte, TimePoint now) {
    if (ignoredBlockBytes_ > 0) {
        // A block cut short ends with the silence after it, so a clock setting after that counts.
        if (now - lastByteAt_ < timing_.silenceLimit) {
            --ignoredBlockBytes_;
            lastByteAt_ = now;
            return;
        }
        ignoredBlockBytes_ = 0;
    }
    if (byte == clockSetting) {
        state_ = State::ReceivingClock;
        clockAnswersPowerFail_ = true;
        collected_.clear();
        lastByteAt_ = now;
    } else if (byte == macroDownload && powerFailAnswer_ == PowerFailAnswer::MacroOrClock) {
        state_ = State::ReceivingMacro;
        collected_.clear();
        lastByteAt_ = now;
    } else if (byte == memoryDownload) {
        // The interface that wants its clock reads a memory block here, not a macro download, and
        // takes nothing but the clock: the block's bytes pass unanswered, and none of them can
        // start a clock setting.
        ignoredBlockBytes_ = memoryBlockBytes;
        lastByteAt_ = now;
    }
}

void InterfaceProtocol::echoAndAwait(unsigned sum, State awaiting, TimePoint now) {
    sendByte(static_cast<std::uint8_t>(sum & 0xFF), now + timing_.replyDelay);
    state_ = awaiting;
}

void InterfaceProtocol::acknowledgeRequest(std::uint8_t byte, TimePoint now) {
    if (byte == acknowledgeByte) {
        sendByte(readyByte, now + timing_.replyDelay);
        becomeIdle(now);
        return;
    }
    // As with any echo awaiting its 0x00: another byte starts a new transmission or request.
    becomeIdle(now);
    idleByte(byte, now);
}

void InterfaceProtocol::idleByte(std::uint8_t byte, TimePoint now) {
    // 0xC3, 0x8B and 0x9B have bit 2 clear, so none of them can be the start of a transmission;
    // after a header they are its code byte.
    if (collected_.empty()) {
        switch (byte) {
            case pollAnswer:
                if (pollSent_) upload(now);
                return;
            case statusRequest: sendStatus(now); return;
            case clockSetting:
                state_ = State::ReceivingClock;
                clockAnswersPowerFail_ = false;
                lastByteAt_ = now;
                return;
            case ringSignalOn:
            case ringSignalOff:
                collected_.assign(1, byte);  // remembered for the acknowledge
                echoAndAwait(byte, State::AwaitingRingAcknowledge, now);
                return;
            case memoryDownload:
                state_ = State::ReceivingMemory;
                lastByteAt_ = now;
                return;
            default: break;
        }
    }
    collect(byte, now);
}

void InterfaceProtocol::clockDataByte(std::uint8_t byte, TimePoint now) {
    collected_.push_back(byte);
    lastByteAt_ = now;
    if (static_cast<int>(collected_.size()) < clockDataBytes) return;
    echoAndAwait(std::accumulate(collected_.begin(), collected_.end(), 0u), State::AwaitingClockAcknowledge, now);
}

void InterfaceProtocol::memoryBlockByte(std::uint8_t byte, TimePoint now) {
    collected_.push_back(byte);
    lastByteAt_ = now;
    if (static_cast<int>(collected_.size()) < memoryBlockBytes) return;
    echoAndAwait(std::accumulate(collected_.begin(), collected_.end(), 0u), State::AwaitingMemoryAcknowledge, now);
}

void InterfaceProtocol::storeMemoryBlock() {
    const auto start = static_cast<std::uint16_t>((collected_[0] << 8) | collected_[1]);
    for (int i = 0; i < memoryBlockDataBytes; ++i)
        memory_[static_cast<std::uint16_t>(start + i)] = collected_[static_cast<std::size_t>(2 + i)];
}

void InterfaceProtocol::setClock(TimePoint now) {
    // seconds; minutes 0..119; hours / 2; year day (its ninth bit is bit 7 of the next byte);
    // day mask SMTWTFS; monitored house code and flags.
    const auto& b = collected_;
    const int yearDay = b[3] | ((b[4] & 0x80) << 1);
    clock_.secondsOfYear = yearDay * 86400 + b[2] * 2 * 3600 + b[1] * 60 + b[0];
    clock_.dayMask = static_cast<std::uint8_t>(b[4] & 0x7F);
    clock_.monitoredHouse = static_cast<std::uint8_t>(b[5] >> 4);
    clock_.setAt = now;
    constexpr std::uint8_t batteryTimerClear = 0x02;
    if (b[5] & batteryTimerClear) batteryTimer_ = 0;
}

void InterfaceProtocol::sendStatus(TimePoint now) {
    const long long elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - clock_.setAt).count();
    const long long total = clock_.secondsOfYear + elapsed;
    const long long days = total / 86400;
    const int yearDay = static_cast<int>(days % 366);
    const int timeOfDay = static_cast<int>(total % 86400);
    const int hours = timeOfDay / 3600;
    const int shift = static_cast<int>((days - clock_.secondsOfYear / 86400) % 7);
    const std::uint8_t dayMask =
        static_cast<std::uint8_t>(((clock_.dayMask << shift) | (clock_.dayMask >> (7 - shift))) & 0x7F);
    const MonitoredUnits units =
        monitoredUnits_ ? monitoredUnits_(houseFromCode(clock_.monitoredHouse)) : MonitoredUnits{};
    const std::uint8_t reply[statusReplyBytes] = {
        static_cast<std::uint8_t>(batteryTimer_ & 0xFF),
        static_cast<std::uint8_t>(batteryTimer_ >> 8),
        static_cast<std::uint8_t>(timeOfDay % 60),
        static_cast<std::uint8_t>((hours % 2) * 60 + (timeOfDay % 3600) / 60),
        static_cast<std::uint8_t>(hours / 2),
        static_cast<std::uint8_t>(yearDay & 0xFF),
        static_cast<std::uint8_t>(((yearDay >> 8) & 0x01) << 7 | dayMask),
        static_cast<std::uint8_t>((clock_.monitoredHouse & 0x0F) << 4 | firmwareRevision),
        static_cast<std::uint8_t>(units.addressed & 0xFF),
        static_cast<std::uint8_t>(units.addressed >> 8),
        static_cast<std::uint8_t>(units.on & 0xFF),
        static_cast<std::uint8_t>(units.on >> 8),
        static_cast<std::uint8_t>(units.dimmed & 0xFF),
        static_cast<std::uint8_t>(units.dimmed >> 8),
    };
    for (std::uint8_t byte : reply) sendByte(byte, now + timing_.replyDelay);
}

void InterfaceProtocol::sendPoll(TimePoint now) {
    sendByte(uploadPoll, now + timing_.replyDelay);
    pollSent_ = true;
    nextPollAt_ = now + timing_.pollRepeat;
}

void InterfaceProtocol::upload(TimePoint now) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(1 + heard_.size()), heardMask_};
    bytes.insert(bytes.end(), heard_.begin(), heard_.end());
    if (uploadSizeOutOfRange_ > 0) {
        --uploadSizeOutOfRange_;
        bytes[0] = static_cast<std::uint8_t>(1 + uploadCapacity + 1);
    }
    if (uploadCutShort_ > 0) {
        --uploadCutShort_;
        bytes.resize(2);
    }
    for (std::uint8_t byte : bytes) sendByte(byte, now + timing_.replyDelay);
    heard_.clear();
    heardMask_ = 0;
    pollSent_ = false;
}

void InterfaceProtocol::collect(std::uint8_t byte, TimePoint now) {
    constexpr std::uint8_t headerMark = 0x04;
    if (collected_.empty() && (byte & headerMark) == 0)
        return;  // 0x00, 0xC3 and the like are never the start of a transmission
    collected_.push_back(byte);
    lastByteAt_ = now;
    const std::size_t expected = (collected_.front() & 0x01) ? 5 : 2;
    if (collected_.size() == expected) transmissionComplete(now);
}

void InterfaceProtocol::transmissionComplete(TimePoint now) {
    const Frame frame = Frame::decode(collected_);
    const unsigned sum = std::accumulate(collected_.begin(), collected_.end(), 0u);
    collected_.clear();
    if (!heard_.empty()) {
        // News waits to be uploaded: the transmission is not taken and not echoed. The poll keeps
        // its rhythm, and the computer sends the transmission again after the upload; a poll sent
        // at once would be read as the size by a computer that has just answered the last one.
        return;
    }
    if (noAnswer_ > 0) {
        --noAnswer_;
        becomeIdle(now);
        return;
    }
    unsigned echo = sum;
    if (wrongEcho_ > 0) {
        --wrongEcho_;
        echo += 1;
    }
    sendByte(static_cast<std::uint8_t>(echo & 0xFF), now + timing_.replyDelay);
    pending_ = frame;
    state_ = State::AwaitingAcknowledge;
}

void InterfaceProtocol::finishFrame(TimePoint now) {
    output_.push_back(*pending_);
    pending_.reset();
    if (!heard_.empty()) {
        // The frame went out; the poll in place of 0x55 says so and that news waits.
        sendPoll(now);
        becomeIdle(now);
        return;
    }
    std::uint8_t answer = readyByte;
    if (notReady_ > 0) {
        --notReady_;
        answer = notReady;
    }
    sendByte(answer, now + timing_.replyDelay);
    becomeIdle(now);
}

void InterfaceProtocol::becomeIdle(TimePoint now) {
    state_ = State::Idle;
    collected_.clear();
    // A poll held back meanwhile goes out now, not at the moment it first fell due.
    nextPollAt_ = std::max(nextPollAt_, now);
    releaseStrayBytesIfIdle(now);
}

void InterfaceProtocol::releaseStrayBytesIfIdle(TimePoint now) {
    if (state_ != State::Idle || !collected_.empty()) return;
    for (; strayBytes_ > 0; --strayBytes_) {
        for (std::uint8_t stray : strayBytes) sendByte(stray, now + timing_.replyDelay);
    }
}

void InterfaceProtocol::sendByte(std::uint8_t byte, TimePoint at) {
    // Later-scheduled bytes with the same due time keep their order behind earlier ones.
    const auto position = std::upper_bound(scheduled_.begin(), scheduled_.end(), at,
                                           [](TimePoint due, const Scheduled& entry) { return due < entry.due; });
    scheduled_.insert(position, Scheduled{at, byte});
}

}  // namespace x10sim
