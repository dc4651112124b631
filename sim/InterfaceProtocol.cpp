#include "sim/InterfaceProtocol.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace x10sim {

using namespace std::chrono_literals;

InterfaceProtocol::Timing InterfaceProtocol::Timing::immediate() { return Timing{}; }

InterfaceProtocol::Timing InterfaceProtocol::Timing::realistic()
{
    Timing timing;
    timing.replyDelay = Duration(1'000'000 * 10 / 4800);  // start + 8 data + stop bits
    timing.mainsCycle = Duration(1'000'000 / 60);
    return timing;
}

InterfaceProtocol::InterfaceProtocol(Timing timing)
    : m_timing(timing)
{
    // A zero repeat or limit would make advance() produce events forever at one instant.
    if (m_timing.powerFailRepeat <= 0us || m_timing.silenceLimit <= 0us || m_timing.pollRepeat <= 0us
        || m_timing.clockHeaderSilence <= 0us)
        throw std::invalid_argument(
            "x10sim: the power-fail and poll repeats, the silence limit and the clock header's silence must be positive");
    if (m_timing.replyDelay < 0us || m_timing.mainsCycle < 0us)
        throw std::invalid_argument("x10sim: reply delay and mains cycle must not be negative");
}

int InterfaceProtocol::cyclesOnPowerLine(const Frame& frame)
{
    constexpr int kOneTransmission = 11 + 11 + 3;
    constexpr int kOneRepeat = 11;
    const bool repeatsPerStep = frame.kind == FrameKind::Function
        && (frame.function == FunctionCode::Dim || frame.function == FunctionCode::Bright);
    if (repeatsPerStep && frame.dimSteps > 1)
        return kOneTransmission + kOneRepeat * (frame.dimSteps - 1);
    return kOneTransmission;
}

int InterfaceProtocol::armedCount(Fault fault) const
{
    switch (fault) {
    case Fault::None: return 0;
    case Fault::WrongEcho: return m_wrongEcho;
    case Fault::NoAnswer: return m_noAnswer;
    case Fault::NotReady: return m_notReady;
    case Fault::StrayBytes: return m_strayBytes;
    case Fault::UploadCutShort: return m_uploadCutShort;
    case Fault::UploadSizeOutOfRange: return m_uploadSizeOutOfRange;
    }
    return 0;
}

void InterfaceProtocol::receive(std::uint8_t byte, TimePoint now)
{
    advance(now);
    handleByte(byte, now);
    advance(now);
}

void InterfaceProtocol::injectFault(Fault fault, TimePoint now)
{
    advance(now);
    switch (fault) {
    case Fault::None:
        m_wrongEcho = m_noAnswer = m_notReady = m_strayBytes = m_uploadCutShort = m_uploadSizeOutOfRange = 0;
        break;
    case Fault::WrongEcho: ++m_wrongEcho; break;
    case Fault::NoAnswer: ++m_noAnswer; break;
    case Fault::NotReady: ++m_notReady; break;
    case Fault::StrayBytes:
        ++m_strayBytes;
        releaseStrayBytesIfIdle(now);
        break;
    case Fault::UploadCutShort: ++m_uploadCutShort; break;
    case Fault::UploadSizeOutOfRange: ++m_uploadSizeOutOfRange; break;
    }
    advance(now);
}

void InterfaceProtocol::powerFailure(TimePoint now)
{
    advance(now);
    // Whatever was under way when the mains went is lost with it, and so is what was heard.
    m_pending.reset();
    m_collected.clear();
    m_heard.clear();
    m_heardMask = 0;
    m_pollSent = false;
    m_state = State::PowerFailRequesting;
    m_nextPowerFailRequestAt = now;
    advance(now);
}

void InterfaceProtocol::setMonitoredUnitsSource(std::function<MonitoredUnits(char house)> source)
{
    m_monitoredUnits = std::move(source);
}

void InterfaceProtocol::hear(const Frame& frame, TimePoint now)
{
    advance(now);
    std::vector<std::uint8_t> data{frame.code};
    const bool isFunction = frame.kind != FrameKind::Address;
    if (frame.kind == FrameKind::Function
        && (frame.function == FunctionCode::Dim || frame.function == FunctionCode::Bright)) {
        const int steps = std::min(frame.dimSteps, kFullBrightnessSteps);
        data.push_back(static_cast<std::uint8_t>((steps * kLevelFullRange + kFullBrightnessSteps / 2) / kFullBrightnessSteps));
    } else if (frame.kind == FrameKind::Extended && frame.extendedBytes.size() == 3) {
        data.push_back(frame.extendedBytes[1]);  // data
        data.push_back(frame.extendedBytes[2]);  // command
    }
    // A full buffer keeps what it has; a function that would not fit whole is not kept at all.
    if (m_heard.size() + data.size() <= std::size_t(kUploadCapacity)) {
        if (m_heard.empty())
            m_nextPollAt = now;
        if (isFunction)
            m_heardMask = static_cast<std::uint8_t>(m_heardMask | (1u << m_heard.size()));
        m_heard.insert(m_heard.end(), data.begin(), data.end());
    }
    advance(now);
}

std::vector<InterfaceOutput> InterfaceProtocol::takeOutput()
{
    std::vector<InterfaceOutput> taken;
    taken.swap(m_output);
    return taken;
}

std::optional<InterfaceProtocol::TimePoint> InterfaceProtocol::pollDeadline() const
{
    // While a frame goes out the poll waits to take the place of its 0x55; while a power-fail
    // request or a download is under way it waits for the interface to be back in service.
    if (m_heard.empty() || (m_state != State::Idle && m_state != State::AwaitingAcknowledge))
        return std::nullopt;
    return m_nextPollAt;
}

std::optional<InterfaceProtocol::TimePoint> InterfaceProtocol::nextDeadline() const
{
    std::optional<TimePoint> earliest;
    const auto consider = [&earliest](TimePoint candidate) {
        if (!earliest || candidate < *earliest)
            earliest = candidate;
    };
    if (!m_scheduled.empty())
        consider(m_scheduled.front().due);
    if (const auto poll = pollDeadline())
        consider(*poll);
    switch (m_state) {
    case State::Idle:
        if (!m_collected.empty())
            consider(m_lastByteAt + m_timing.silenceLimit);
        break;
    case State::SendingOnPowerLine: consider(m_frameDoneAt); break;
    case State::PowerFailRequesting: consider(m_nextPowerFailRequestAt); break;
    case State::ReceivingMacro: consider(m_lastByteAt + m_timing.silenceLimit); break;
    case State::ReceivingClock:
        consider(m_lastByteAt + (m_collected.empty() ? m_timing.clockHeaderSilence : m_timing.silenceLimit));
        break;
    case State::AwaitingAcknowledge:
    case State::AwaitingMacroAcknowledge:
    case State::AwaitingClockAcknowledge: break;
    }
    return earliest;
}

void InterfaceProtocol::advance(TimePoint now)
{
    for (auto deadline = nextDeadline(); deadline && *deadline <= now; deadline = nextDeadline())
        runOneDeadline(*deadline);
}

void InterfaceProtocol::runOneDeadline(TimePoint deadline)
{
    // Bytes already on their way leave before anything else due at the same instant.
    if (!m_scheduled.empty() && m_scheduled.front().due == deadline) {
        m_output.push_back(std::move(m_scheduled.front().output));
        m_scheduled.pop_front();
        return;
    }
    if (pollDeadline() == deadline) {
        sendPoll(deadline);
        return;
    }
    switch (m_state) {
    case State::Idle:  // a transmission went silent half-way
        becomeIdle(deadline);
        break;
    case State::SendingOnPowerLine: finishFrame(deadline); break;
    case State::PowerFailRequesting:
        sendByte(kPowerFailRequest, deadline);
        m_nextPowerFailRequestAt = deadline + m_timing.powerFailRepeat;
        break;
    case State::ReceivingMacro:  // the download went silent: still unanswered
        m_collected.clear();
        m_state = State::PowerFailRequesting;
        m_nextPowerFailRequestAt = deadline;
        break;
    case State::ReceivingClock:
        // The header alone answers a power failure; a setting cut short answers nothing.
        if (m_clockAnswersPowerFail && !m_collected.empty()) {
            m_collected.clear();
            m_state = State::PowerFailRequesting;
            m_nextPowerFailRequestAt = deadline;
        } else {
            becomeIdle(deadline);
        }
        break;
    case State::AwaitingAcknowledge:
    case State::AwaitingMacroAcknowledge:
    case State::AwaitingClockAcknowledge: break;  // have no deadline
    }
}

void InterfaceProtocol::handleByte(std::uint8_t byte, TimePoint now)
{
    switch (m_state) {
    case State::Idle: idleByte(byte, now); break;
    case State::AwaitingAcknowledge:
        if (byte == kAcknowledge) {
            m_state = State::SendingOnPowerLine;
            m_frameDoneAt = now + m_timing.mainsCycle * cyclesOnPowerLine(*m_pending);
        } else {
            m_pending.reset();
            m_state = State::Idle;
            idleByte(byte, now);
        }
        break;
    case State::SendingOnPowerLine: break;  // busy on the power line: nothing is listened to
    case State::PowerFailRequesting:
        if (byte == kMacroDownload) {
            m_state = State::ReceivingMacro;
            m_collected.clear();
            m_lastByteAt = now;
        } else if (byte == kClockSetting) {
            m_state = State::ReceivingClock;
            m_clockAnswersPowerFail = true;
            m_collected.clear();
            m_lastByteAt = now;
        }
        break;
    case State::ReceivingMacro:
        m_collected.push_back(byte);
        m_lastByteAt = now;
        if (static_cast<int>(m_collected.size()) == kMacroDataBytes) {
            const unsigned sum = std::accumulate(m_collected.begin(), m_collected.end(), 0u);
            m_collected.clear();
            sendByte(static_cast<std::uint8_t>(sum & 0xFF), now + m_timing.replyDelay);
            m_state = State::AwaitingMacroAcknowledge;
        }
        break;
    case State::AwaitingMacroAcknowledge:
        if (byte == kAcknowledge) {
            sendByte(kReady, now + m_timing.replyDelay);
            becomeIdle(now);
        } else if (byte == kMacroDownload) {
            m_state = State::ReceivingMacro;
            m_collected.clear();
            m_lastByteAt = now;
        } else {
            // As with any echo awaiting its 0x00: another byte starts a new transmission. The
            // download itself has arrived, so the power failure counts as answered.
            becomeIdle(now);
            idleByte(byte, now);
        }
        break;
    case State::ReceivingClock: clockDataByte(byte, now); break;
    case State::AwaitingClockAcknowledge:
        if (byte == kAcknowledge) {
            setClock(now);
            sendByte(kReady, now + m_timing.replyDelay);
            becomeIdle(now);
        } else {
            // Like the macro download: the setting arrived, so a power failure counts as answered.
            becomeIdle(now);
            idleByte(byte, now);
        }
        break;
    }
}

void InterfaceProtocol::idleByte(std::uint8_t byte, TimePoint now)
{
    // 0xC3, 0x8B and 0x9B have bit 2 clear, so none of them can be the start of a transmission;
    // after a header they are its code byte.
    if (m_collected.empty()) {
        switch (byte) {
        case kPollAnswer:
            if (m_pollSent)
                upload(now);
            return;
        case kStatusRequest: sendStatus(now); return;
        case kClockSetting:
            m_state = State::ReceivingClock;
            m_clockAnswersPowerFail = false;
            m_lastByteAt = now;
            return;
        default: break;
        }
    }
    collect(byte, now);
}

void InterfaceProtocol::clockDataByte(std::uint8_t byte, TimePoint now)
{
    m_collected.push_back(byte);
    m_lastByteAt = now;
    if (static_cast<int>(m_collected.size()) < kClockDataBytes)
        return;
    const unsigned sum = std::accumulate(m_collected.begin(), m_collected.end(), 0u);
    sendByte(static_cast<std::uint8_t>(sum & 0xFF), now + m_timing.replyDelay);
    m_state = State::AwaitingClockAcknowledge;
}

void InterfaceProtocol::setClock(TimePoint now)
{
    // seconds; minutes 0..119; hours / 2; year day (its ninth bit is bit 7 of the next byte);
    // day mask SMTWTFS; monitored house code and flags.
    const auto& b = m_collected;
    const int yearDay = b[3] | ((b[4] & 0x80) << 1);
    m_clock.secondsOfYear = yearDay * 86400 + b[2] * 2 * 3600 + b[1] * 60 + b[0];
    m_clock.dayMask = static_cast<std::uint8_t>(b[4] & 0x7F);
    m_clock.monitoredHouse = static_cast<std::uint8_t>(b[5] >> 4);
    m_clock.setAt = now;
    constexpr std::uint8_t kBatteryTimerClear = 0x02;
    if (b[5] & kBatteryTimerClear)
        m_batteryTimer = 0;
}

void InterfaceProtocol::sendStatus(TimePoint now)
{
    constexpr std::uint8_t kFirmwareRevision = 1;
    const long long elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - m_clock.setAt).count();
    const long long total = m_clock.secondsOfYear + elapsed;
    const long long days = total / 86400;
    const int yearDay = static_cast<int>(days % 366);
    const int timeOfDay = static_cast<int>(total % 86400);
    const int hours = timeOfDay / 3600;
    const int shift = static_cast<int>((days - m_clock.secondsOfYear / 86400) % 7);
    const std::uint8_t dayMask
        = static_cast<std::uint8_t>(((m_clock.dayMask << shift) | (m_clock.dayMask >> (7 - shift))) & 0x7F);
    const MonitoredUnits units
        = m_monitoredUnits ? m_monitoredUnits(houseFromCode(m_clock.monitoredHouse)) : MonitoredUnits{};
    const std::uint8_t reply[kStatusReplyBytes] = {
        static_cast<std::uint8_t>(m_batteryTimer & 0xFF), static_cast<std::uint8_t>(m_batteryTimer >> 8),
        static_cast<std::uint8_t>(timeOfDay % 60),
        static_cast<std::uint8_t>((hours % 2) * 60 + (timeOfDay % 3600) / 60),
        static_cast<std::uint8_t>(hours / 2),
        static_cast<std::uint8_t>(yearDay & 0xFF),
        static_cast<std::uint8_t>(((yearDay >> 8) & 0x01) | (dayMask << 1)),
        static_cast<std::uint8_t>((kFirmwareRevision << 4) | (m_clock.monitoredHouse & 0x0F)),
        static_cast<std::uint8_t>(units.addressed & 0xFF), static_cast<std::uint8_t>(units.addressed >> 8),
        static_cast<std::uint8_t>(units.on & 0xFF), static_cast<std::uint8_t>(units.on >> 8),
        static_cast<std::uint8_t>(units.dimmed & 0xFF), static_cast<std::uint8_t>(units.dimmed >> 8),
    };
    for (std::uint8_t byte : reply)
        sendByte(byte, now + m_timing.replyDelay);
}

void InterfaceProtocol::sendPoll(TimePoint now)
{
    sendByte(kUploadPoll, now + m_timing.replyDelay);
    m_pollSent = true;
    m_nextPollAt = now + m_timing.pollRepeat;
}

void InterfaceProtocol::upload(TimePoint now)
{
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(1 + m_heard.size()), m_heardMask};
    bytes.insert(bytes.end(), m_heard.begin(), m_heard.end());
    if (m_uploadSizeOutOfRange > 0) {
        --m_uploadSizeOutOfRange;
        bytes[0] = static_cast<std::uint8_t>(1 + kUploadCapacity + 1);
    }
    if (m_uploadCutShort > 0) {
        --m_uploadCutShort;
        bytes.resize(2);
    }
    for (std::uint8_t byte : bytes)
        sendByte(byte, now + m_timing.replyDelay);
    m_heard.clear();
    m_heardMask = 0;
    m_pollSent = false;
}

void InterfaceProtocol::collect(std::uint8_t byte, TimePoint now)
{
    constexpr std::uint8_t kHeaderMark = 0x04;
    if (m_collected.empty() && (byte & kHeaderMark) == 0)
        return;  // 0x00, 0xC3 and the like are never the start of a transmission
    m_collected.push_back(byte);
    m_lastByteAt = now;
    const std::size_t expected = (m_collected.front() & 0x01) ? 5 : 2;
    if (m_collected.size() == expected)
        transmissionComplete(now);
}

void InterfaceProtocol::transmissionComplete(TimePoint now)
{
    const Frame frame = Frame::decode(m_collected);
    const unsigned sum = std::accumulate(m_collected.begin(), m_collected.end(), 0u);
    m_collected.clear();
    if (!m_heard.empty()) {
        // News waits to be uploaded: the poll comes instead of the echo and the transmission is
        // not taken; the computer sends it again after the upload.
        sendPoll(now);
        return;
    }
    if (m_noAnswer > 0) {
        --m_noAnswer;
        becomeIdle(now);
        return;
    }
    unsigned echo = sum;
    if (m_wrongEcho > 0) {
        --m_wrongEcho;
        echo += 1;
    }
    sendByte(static_cast<std::uint8_t>(echo & 0xFF), now + m_timing.replyDelay);
    m_pending = frame;
    m_state = State::AwaitingAcknowledge;
}

void InterfaceProtocol::finishFrame(TimePoint now)
{
    m_output.push_back(*m_pending);
    m_pending.reset();
    if (!m_heard.empty()) {
        // The frame went out; the poll in place of 0x55 says so and that news waits.
        sendPoll(now);
        becomeIdle(now);
        return;
    }
    std::uint8_t answer = kReady;
    if (m_notReady > 0) {
        --m_notReady;
        answer = kNotReady;
    }
    sendByte(answer, now + m_timing.replyDelay);
    becomeIdle(now);
}

void InterfaceProtocol::becomeIdle(TimePoint now)
{
    m_state = State::Idle;
    m_collected.clear();
    // A poll held back meanwhile goes out now, not at the moment it first fell due.
    m_nextPollAt = std::max(m_nextPollAt, now);
    releaseStrayBytesIfIdle(now);
}

void InterfaceProtocol::releaseStrayBytesIfIdle(TimePoint now)
{
    if (m_state != State::Idle || !m_collected.empty())
        return;
    for (; m_strayBytes > 0; --m_strayBytes) {
        for (std::uint8_t stray : kStrayBytes)
            sendByte(stray, now + m_timing.replyDelay);
    }
}

void InterfaceProtocol::sendByte(std::uint8_t byte, TimePoint at)
{
    // Later-scheduled bytes with the same due time keep their order behind earlier ones.
    const auto position = std::upper_bound(m_scheduled.begin(), m_scheduled.end(), at,
        [](TimePoint due, const Scheduled& entry) { return due < entry.due; });
    m_scheduled.insert(position, Scheduled{at, byte});
}

}  // namespace x10sim
