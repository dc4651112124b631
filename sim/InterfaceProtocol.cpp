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
    if (m_timing.powerFailRepeat <= 0us || m_timing.silenceLimit <= 0us)
        throw std::invalid_argument("x10sim: the power-fail repeat and the silence limit must be positive");
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
        m_wrongEcho = m_noAnswer = m_notReady = m_strayBytes = 0;
        break;
    case Fault::WrongEcho: ++m_wrongEcho; break;
    case Fault::NoAnswer: ++m_noAnswer; break;
    case Fault::NotReady: ++m_notReady; break;
    case Fault::StrayBytes:
        ++m_strayBytes;
        releaseStrayBytesIfIdle(now);
        break;
    }
    advance(now);
}

void InterfaceProtocol::powerFailure(TimePoint now)
{
    advance(now);
    // Whatever was under way when the mains went is lost with it.
    m_pending.reset();
    m_collected.clear();
    m_state = State::PowerFailRequesting;
    m_nextPowerFailRequestAt = now;
    advance(now);
}

std::vector<InterfaceOutput> InterfaceProtocol::takeOutput()
{
    std::vector<InterfaceOutput> taken;
    taken.swap(m_output);
    return taken;
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
    switch (m_state) {
    case State::Idle:
        if (!m_collected.empty())
            consider(m_lastByteAt + m_timing.silenceLimit);
        break;
    case State::SendingOnPowerLine: consider(m_frameDoneAt); break;
    case State::PowerFailRequesting: consider(m_nextPowerFailRequestAt); break;
    case State::ReceivingMacro: consider(m_lastByteAt + m_timing.silenceLimit); break;
    case State::AwaitingAcknowledge:
    case State::AwaitingMacroAcknowledge: break;
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
    case State::AwaitingAcknowledge:
    case State::AwaitingMacroAcknowledge: break;  // have no deadline
    }
}

void InterfaceProtocol::handleByte(std::uint8_t byte, TimePoint now)
{
    switch (m_state) {
    case State::Idle: collect(byte, now); break;
    case State::AwaitingAcknowledge:
        if (byte == kAcknowledge) {
            m_state = State::SendingOnPowerLine;
            m_frameDoneAt = now + m_timing.mainsCycle * cyclesOnPowerLine(*m_pending);
        } else {
            m_pending.reset();
            m_state = State::Idle;
            collect(byte, now);
        }
        break;
    case State::SendingOnPowerLine: break;  // busy on the power line: nothing is listened to
    case State::PowerFailRequesting:
        if (byte == kMacroDownload) {
            m_state = State::ReceivingMacro;
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
            collect(byte, now);
        }
        break;
    }
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
