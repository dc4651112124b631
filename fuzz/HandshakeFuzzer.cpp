// Drives the control's link layer and lighting commands with a little program decoded from
// the input: host calls, host writes to the seven fields, bytes from the interface (among them its
// upload poll and uploads, and its power-fail request answered either way), failing writes, and host code run while a
// message box or the x10ready handler holds the control.
//
// Every call and every notification is judged by an oracle of its own, built from the wire
// protocol and the X10 code tables rather than from the control's code: which bytes it may
// write, which box it may show, which run-time error it may raise, and what it leaves in the
// handshake fields and the send queue. Anything else stops the run with a message.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/Quenvar.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/ReferenceNumber.h"
#include "platform/automation/Collection.h"
#include "platform/automation/RuntimeError.h"
#include "platform/ui/MessageBoxes.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace {

using quenvar::automation::Collection;
using quenvar::automation::CollectionRef;
using quenvar::automation::RuntimeError;
using quenvar::automation::Variant;
using quenvar::control::Quenvar;
using quenvar::fuzz::hexBytes;
using quenvar::fuzz::quoted;
namespace message = quenvar::control::message;
namespace error_number = quenvar::automation::error_number;
namespace comm_event = quenvar::serial::comm_event;

// ---------------------------------------------------------------------------------------------
// The oracle's own X10 knowledge, from the X10 standard: the sixteen four-bit codes in code
// order belong to these house letters, and unit n has the code of the n-th letter.
constexpr std::string_view lettersInCodeOrder = "MECKOGAINFDLPHBJ";

int x10CodeOfLetter(char upper) { return static_cast<int>(lettersInCodeOrder.find(upper)); }

std::optional<int> houseNibbleOf(const std::string& house) {
    if (house.size() != 1) return std::nullopt;
    char letter = house[0];
    if (letter >= 'a' && letter <= 'p') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'P') return std::nullopt;
    return x10CodeOfLetter(letter) << 4;
}

// The unit code of unit `number` (1..16): every notation of a unit number names that unit.
int unitNibbleOf(int number) { return x10CodeOfLetter(static_cast<char>('A' + number - 1)); }

// Header 6 + 8 x steps: two steps per ten, one more unless the value ends in 5.
int dimHeaderOf(int dimvalue) {
    const int steps = 2 * (dimvalue / 10) + (dimvalue % 10 == 5 ? 0 : 1);
    return 6 + 8 * steps;
}

std::string byteText(int value) { return std::string(1, static_cast<char>(value & 0xFF)); }

// The interface's upload, from its documented format: the mask, then data bytes; a set mask bit
// marks a function (house code, function code), after Dim and Bright comes the level change in
// 210ths, after an extended code its data and command. The functions, as the host hears them.
struct Heard {
    std::string house;
    std::string command;
    std::int16_t level;
};

std::vector<Heard> functionsIn(const std::string& maskAndData) {
    static const char* const names[16] = {
        "All Units Off",  "All Lights On", "On",           "Off",           "Dim",        "Bright",
        "All Lights Off", "Extended Code", "Hail Request", "Hail Ack",      "Preset Dim", "Preset Dim",
        "Extended Data",  "Status On",     "Status Off",   "Status Request"};
    std::vector<Heard> heard;
    const int mask = static_cast<unsigned char>(maskAndData[0]);
    for (std::size_t i = 1; i < maskAndData.size(); ++i) {
        const int byte = static_cast<unsigned char>(maskAndData[i]);
        if (i > 8 || ((mask >> (i - 1)) & 1) == 0) continue;
        Heard function{std::string(1, lettersInCodeOrder[static_cast<std::size_t>(byte >> 4)]), names[byte & 0x0F], 0};
        if ((byte & 0x0F) == 4 || (byte & 0x0F) == 5) {
            if (i + 1 < maskAndData.size()) {
                function.level =
                    static_cast<std::int16_t>((static_cast<unsigned char>(maskAndData[++i]) * 100 + 105) / 210);
            }
        } else if ((byte & 0x0F) == 7) {
            i += 2;
        }
        heard.push_back(function);
    }
    return heard;
}

int codeOf(const std::string& text) { return static_cast<unsigned char>(text.front()); }

// The clock setting's six data bytes, from the interface's documented layout: seconds, minutes
// of the two-hour span, hours / 2, the day of the year (its ninth bit as bit 7 of the next byte,
// beside the weekday as one bit, Sunday bit 0), house A's code (6) in the high nibble, no flags.
std::string clockData(const quenvar::control::x10::LocalTime& t) {
    return byteText(t.second) + byteText(t.hour % 2 * 60 + t.minute) + byteText(t.hour / 2) + byteText(t.yearDay) +
           byteText((t.yearDay >= 256 ? 0x80 : 0) | (1 << t.weekday)) + byteText(0x60);
}

// What a call of Variant::toText on a queue entry gives: its text, or the error it raises.
struct TextOrError {
    std::string text;
    std::int32_t error = 0;
};
TextOrError textOf(const Variant& value) {
    try {
        return {value.toText(), 0};
    } catch (const RuntimeError& error) {
        return {{}, error.number()};
    }
}

// ---------------------------------------------------------------------------------------------
struct Fields {
    std::int16_t comstatus = 0;
    std::string strtotal;
    bool sendstatus = false;
    std::string checksum;
    std::int16_t countmacro = 0;
    std::int16_t powerfailreply = 0;
    const Collection* queue = nullptr;
    std::vector<Variant> entries;
};

// One host call or one notification, and what the oracle allows it to do.
struct Expectation {
    Expectation(std::string what, Fields fields) : call(std::move(what)), before(std::move(fields)) {}

    std::string call;
    Fields before;

    std::vector<std::string> writes;  // exactly these writes, in order (none when an error is due)
    bool transmits = false;           // the writes are a two-byte transmission
    std::vector<std::pair<std::string, std::string>> boxes;  // prompt, title
    int readyEvents = 0;
    std::vector<Heard> heard;  // x10received, in order
    std::int32_t error = 0;    // the run-time error the call ends with; 0: none

    std::optional<std::int16_t> comstatus;
    std::optional<bool> sendstatus;
    std::optional<std::string> checksum;  // strtotal and checksum
    std::optional<std::int16_t> countmacro;
    std::optional<std::int16_t> powerfailreply;
    std::optional<std::int16_t> hostComstatus;  // a host write of comstatus
    std::optional<std::string> hostStrtotal, hostChecksum;
    std::optional<bool> hostSendstatus;
    // After the box or the event, the control goes idle unless a transmission started meanwhile.
    bool idleUnlessTransmitted = false;
    int queueGrowth = 0;  // entries added (negative: taken)
    std::vector<std::string> queueAppended;
    bool takesFrontPair = false;
    std::optional<int> reads;  // reads of Input, when fixed
    std::optional<std::string> unreadAfter;
    // The queue afterwards, when the call both appends and takes (a command that ends an upload).
    std::optional<std::vector<Variant>> queueAfter;

    // Observed while the call runs.
    std::size_t written = 0;
    std::size_t boxesShown = 0;
    int readyRaised = 0;
    std::size_t heardRaised = 0;
    bool hostCodeRan = false;  // host code ran inside this call (a box or x10ready)
    bool queueChangedByHost = false;
    int nestedQueueGrowth = 0;
    std::uint64_t transmissionsAtStart = 0;
    int readsAtStart = 0;
};

class RecordedBoxes;

class HandshakeRun {
public:
    explicit HandshakeRun(FuzzedDataProvider& input);
    ~HandshakeRun();
    void run();

    // Hooks from the control's collaborators.
    void onWrite(const std::string& bytes);
    void onBox(const std::string& prompt, const std::string& title);
    void onReady();
    void onHeard(const quenvar::control::HeardFunction& function);

private:
    enum Op : std::uint8_t {
        Open,
        Close,
        Send,
        LightsOn,
        LightsOff,
        AllOff,
        On,
        Off,
        Dim,
        Bright,
        ReceiveByte,
        ReceiveAnswer,
        ReceiveMany,
        ReceiveUpload,
        NotifyOther,
        NotifyEmpty,
        WriteComstatus,
        WriteStrtotal,
        WriteSendstatus,
        WriteColstring,
        WriteChecksum,
        WriteCountmacro,
        WritePowerfailreply,
        SetClock,
        ChangeQueue,
        FailWrites,
        FailOpen,
        ActInBox,
        ActInReady,
        OpCount
    };

    void runOneOp();
    void runHostCodeInside();
    template <typename Body>
    void runChecked(Expectation expectation, Body&& body);
    void finish(Expectation& done, std::int32_t raised);

    Fields fieldsNow();
    void check(bool holds, const std::string& rule, const std::string& details = {});
    void checkComstatusDomain();

    std::string pickHouse();
    std::string pickUnit();
    std::int16_t pickDim();
    std::string pickByteText();
    Variant pickValue();

    Expectation expectCommand(const std::string& call, const std::string& house, const std::string* unit,
                              std::optional<int> dimvalue, int header, int function);
    Expectation expectSend(const std::string& call, const std::string& header, const std::string& code);
    Expectation expectNotification(std::int16_t reason);
    void addTransmission(Expectation& e, const std::string& header, const std::string& code);
    // The reply the setting calls for (0xFB and 42 zero bytes, or 0x9B and the clock), countmacro
    // 0; or the write's error. A clock setting, and a macro download that broke into a command,
    // then await their echo, 0x00 and 0x55.
    void expectPowerFailReply(Expectation& e, bool brokeIntoACommand);
    void expectReplyByte(Expectation& e, int byte);
    // The reply's handshake is over or given up: the command it broke into goes out again, or
    // what the host started meanwhile.
    void expectEndOfReply(Expectation& e, bool held);
    // The poll answered 0xC3 (or the write's error); the upload is read from the next byte on.
    enum class After { StayIdle, SendAgain, GoOnAsAfterReady };
    void expectPollAnswer(Expectation& e, After after);
    void expectUploadByte(Expectation& e, int byte);
    // The control takes up its own work again after an upload.
    void expectEndOfUpload(Expectation& e);
    // The 0x55 path: sendstatus false, then the next queued pair or x10ready.
    void expectGoingOnAsAfterReady(Expectation& e);
    // Takes the queue's front pair (as it is after what the call appended) and sends it.
    void expectFrontPair(Expectation& e);
    // A transmission the host starts while an upload or a reply is under way waits in the queue.
    void expectHeld(Expectation& e, std::vector<std::string> bytes);

    FuzzedDataProvider& input_;
    std::unique_ptr<RecordedBoxes> boxes_;
    quenvar::testing::ScriptedSerialComponent* port_ = nullptr;
    std::unique_ptr<Quenvar> control_;
    std::vector<Expectation> open_;  // calls under way, innermost last
    std::vector<std::string> trace_;
    std::optional<std::int16_t> hostComstatus_;
    std::uint64_t transmissions_ = 0;
    std::pair<std::string, std::string> lastTransmission_;  // as written
    // The oracle's own account of an upload under way: from the answered poll to its end.
    struct Upload {
        After after = After::StayIdle;
        std::size_t size = 0;  // 0 until the size byte has come
        std::string bytes;
        bool held = false;
    };
    std::optional<Upload> upload_;
    // The oracle's account of a power-fail reply whose handshake is under way.
    struct Reply {
        int echo = 0;
        bool acknowledged = false;
        bool resume = false;
    };
    std::optional<Reply> reply_;
    std::int16_t powerfailreply_ = 0;
    // While x10ready is raised (innermost last): the transmissions counted when it was.
    std::vector<std::uint64_t> readyRaisedAfter_;
    quenvar::control::x10::LocalTime clock_{.second = 41, .minute = 33, .hour = 22, .yearDay = 341, .weekday = 2};
    int opsRun_ = 0;
    int depth_ = 0;
    int pendingBoxOps_ = 0;
    int pendingReadyOps_ = 0;

    static constexpr int maxOps = 300;
    static constexpr int maxDepth = 3;
};

class RecordedBoxes : public quenvar::ui::MessageBoxes {
public:
    explicit RecordedBoxes(HandshakeRun& run) : run_(run) {}
    void showMessage(const std::string& prompt, const std::string& title) override { run_.onBox(prompt, title); }

private:
    HandshakeRun& run_;
};

HandshakeRun::HandshakeRun(FuzzedDataProvider& input) : input_(input), boxes_(std::make_unique<RecordedBoxes>(*this)) {
    auto component = std::make_unique<quenvar::testing::ScriptedSerialComponent>();
    port_ = component.get();
    // Ports 1 to 4 exist, 1 is selected; nothing is kept of what is written.
    port_->port = 1;
    port_->highestPort = 4;
    port_->keepWrites = false;
    port_->onWrite = [this](const std::string& bytes) { onWrite(bytes); };
    control_ = std::make_unique<Quenvar>(std::move(component), *boxes_);
    control_->setX10readyHandler([this] { onReady(); });
    control_->setX10receivedHandler([this](const quenvar::control::HeardFunction& function) { onHeard(function); });
    control_->setLocalClock([this] { return clock_; });
}

HandshakeRun::~HandshakeRun() = default;

void HandshakeRun::check(bool holds, const std::string& rule, const std::string& details) {
    if (holds) return;
    std::string story = details + "\n    the program so far (innermost calls indented):";
    const std::size_t first = trace_.size() > 60 ? trace_.size() - 60 : 0;
    for (std::size_t i = first; i < trace_.size(); ++i) story += "\n      " + trace_[i];
    quenvar::fuzz::fail(rule, story);
}

void HandshakeRun::checkComstatusDomain() {
    const std::int16_t state = control_->comstatus();
    check(state == 0 || state == 1 || state == 99 || (hostComstatus_ && state == *hostComstatus_),
          "comstatus only takes 0, 1 or 99 unless the host wrote it", "comstatus is " + std::to_string(state));
}

Fields HandshakeRun::fieldsNow() {
    Fields f;
    f.comstatus = control_->comstatus();
    f.strtotal = control_->strtotal();
    f.sendstatus = control_->sendstatus();
    f.checksum = control_->checksum();
    f.countmacro = control_->countmacro();
    f.powerfailreply = control_->powerfailreply();
    const CollectionRef& queue = control_->colstring();
    f.queue = queue.get();
    for (std::int32_t i = 1; i <= queue->count(); ++i) f.entries.push_back(queue->item(i));
    return f;
}

// --- hooks ---

void HandshakeRun::onWrite(const std::string& bytes) {
    check(!open_.empty(), "nothing is written outside a call or a notification", "wrote " + hexBytes(bytes));
    Expectation& e = open_.back();
    check(e.written < e.writes.size() && e.writes[e.written] == bytes,
          "only the bytes the handshake allows are written",
          e.call + " wrote " + hexBytes(bytes) + " as write " + std::to_string(e.written + 1) + "; allowed: " +
              (e.written < e.writes.size() ? hexBytes(e.writes[e.written]) : std::string("nothing more")));
    ++e.written;
    if (e.transmits && e.written == e.writes.size()) {
        ++transmissions_;
        lastTransmission_ = {e.writes[e.writes.size() - 2], e.writes.back()};
    }
    checkComstatusDomain();
}

void HandshakeRun::onBox(const std::string& prompt, const std::string& title) {
    check(!open_.empty(), "message boxes come only from calls and notifications", prompt);
    Expectation& e = open_.back();
    check(e.boxesShown < e.boxes.size() && e.boxes[e.boxesShown] == std::make_pair(prompt, title),
          "only the expected message box is shown",
          e.call + " showed \"" + prompt + "\" titled \"" + title + "\"" +
              (e.boxesShown < e.boxes.size() ? "; expected \"" + e.boxes[e.boxesShown].first + "\" titled \"" +
                                                   e.boxes[e.boxesShown].second + "\""
                                             : std::string("; expected none")));
    ++e.boxesShown;
    if (pendingBoxOps_ > 0) runHostCodeInside();
}

void HandshakeRun::onReady() {
    check(!open_.empty(), "x10ready comes only from a notification");
    Expectation& e = open_.back();
    ++e.readyRaised;
    check(e.readyRaised <= e.readyEvents, "x10ready is raised only at a ready byte with an empty queue", e.call);
    check(control_->comstatus() == 1 && !control_->sendstatus(),
          "x10ready is raised while comstatus is 1 and sendstatus false",
          "comstatus " + std::to_string(control_->comstatus()));
    if (pendingReadyOps_ > 0) {
        readyRaisedAfter_.push_back(transmissions_);
        runHostCodeInside();
        readyRaisedAfter_.pop_back();
    }
}

void HandshakeRun::onHeard(const quenvar::control::HeardFunction& function) {
    check(!open_.empty(), "x10received comes only from a notification or a call that ends an upload");
    Expectation& e = open_.back();
    check(e.heardRaised < e.heard.size(), "x10received is raised once per function of a whole upload",
          e.call + " told " + function.house + " " + function.command);
    const Heard& expected = e.heard[e.heardRaised++];
    check(function.house == expected.house && function.command == expected.command && function.level == expected.level,
          "x10received tells the function's house, name and level change",
          e.call + " told " + function.house + " " + function.command + " " + std::to_string(function.level) +
              "; expected " + expected.house + " " + expected.command + " " + std::to_string(expected.level));
}

void HandshakeRun::runHostCodeInside() {
    int& pending = pendingBoxOps_ > 0 ? pendingBoxOps_ : pendingReadyOps_;
    const int count = pending;
    pendingBoxOps_ = pendingReadyOps_ = 0;
    if (depth_ >= maxDepth) return;
    for (auto& e : open_) e.hostCodeRan = true;
    ++depth_;
    trace_.push_back(std::string(static_cast<std::size_t>(depth_) * 2, ' ') + "(host code runs here)");
    for (int i = 0; i < count && input_.remaining_bytes() > 0 && opsRun_ < maxOps; ++i) runOneOp();
    --depth_;
}

// --- running one call under its expectation ---

template <typename Body>
void HandshakeRun::runChecked(Expectation expectation, Body&& body) {
    trace_.push_back(std::string(static_cast<std::size_t>(depth_) * 2, ' ') + expectation.call);
    expectation.transmissionsAtStart = transmissions_;
    expectation.readsAtStart = port_->reads;
    open_.push_back(std::move(expectation));
    std::int32_t raised = 0;
    try {
        body();
    } catch (const RuntimeError& error) {
        raised = error.number();
        if (raised == 0) raised = -1;
    } catch (const std::exception& failure) {
        check(false, "only run-time errors leave the control", open_.back().call + " threw " + failure.what());
    }
    Expectation done = std::move(open_.back());
    open_.pop_back();
    finish(done, raised);
}

void HandshakeRun::finish(Expectation& e, std::int32_t raised) {
    const Fields after = fieldsNow();
    const std::string who = e.call;
    check(raised == e.error, "a call raises exactly the run-time error its arguments and state call for",
          who + " raised " + std::to_string(raised) + ", expected " + std::to_string(e.error));
    const std::size_t dueWrites = e.error == 0 ? e.writes.size() : 0;
    check(e.written == dueWrites, "every write the handshake calls for is made",
          who + " made " + std::to_string(e.written) + " of " + std::to_string(dueWrites) + " writes");
    check(e.boxesShown == e.boxes.size(), "the expected message box is shown",
          who + " showed " + std::to_string(e.boxesShown) + " of " + std::to_string(e.boxes.size()) + " boxes");
    check(e.readyRaised == (e.error == 0 ? e.readyEvents : 0),
          "x10ready is raised once per ready byte with an empty queue",
          who + " raised it " + std::to_string(e.readyRaised) + " times");
    check(e.heardRaised == e.heard.size(), "x10received is raised once per function of a whole upload",
          who + " told " + std::to_string(e.heardRaised) + " of " + std::to_string(e.heard.size()));
    checkComstatusDomain();

    if (!e.hostCodeRan) {
        auto same = [&](auto expected, auto actual, const char* field) {
            check(expected == actual, std::string(field) + " holds what the call leaves there", who);
        };
        same(e.hostComstatus.value_or(e.comstatus.value_or(e.before.comstatus)), after.comstatus, "comstatus");
        same(e.hostSendstatus.value_or(e.sendstatus.value_or(e.before.sendstatus)), after.sendstatus, "sendstatus");
        same(e.hostStrtotal.value_or(e.checksum.value_or(e.before.strtotal)), after.strtotal, "strtotal");
        same(e.hostChecksum.value_or(e.checksum.value_or(e.before.checksum)), after.checksum, "checksum");
        same(e.countmacro.value_or(e.before.countmacro), after.countmacro, "countmacro");
        same(e.powerfailreply.value_or(e.before.powerfailreply), after.powerfailreply, "powerfailreply");
        if (e.reads) {
            check(port_->reads - e.readsAtStart == *e.reads,
                  "Input is read once per data notification in a known state",
                  who + " read " + std::to_string(port_->reads - e.readsAtStart) + " times");
        }
        if (e.unreadAfter)
            check(port_->unread == *e.unreadAfter, "only the first character of a read is examined", who);
    } else if (e.idleUnlessTransmitted && transmissions_ == e.transmissionsAtStart && e.error == 0) {
        check(after.comstatus == 0 && after.sendstatus,
              "after the box or x10ready the control is idle with sendstatus true, unless a transmission started",
              who + " left comstatus " + std::to_string(after.comstatus));
    }

    // The queue: only whole pairs are taken, only at a ready byte; commands append one pair.
    const bool sameQueue = after.queue == e.before.queue;
    if (sameQueue && !e.queueChangedByHost) {
        const int growth =
            static_cast<int>(after.entries.size()) - static_cast<int>(e.before.entries.size()) - e.nestedQueueGrowth;
        check(growth == e.queueGrowth,
              "the queue grows by one pair per unit command and shrinks by one pair per ready byte",
              who + " changed the queue by " + std::to_string(growth));
        if (!e.hostCodeRan) {
            std::vector<Variant> expected = e.before.entries;
            if (e.takesFrontPair) expected.erase(expected.begin(), expected.begin() + 2);
            for (const auto& text : e.queueAppended) expected.push_back(Variant::fromText(text));
            if (e.queueAfter) expected = *e.queueAfter;
            check(after.entries == expected, "the queue holds what the call leaves there",
                  who + " left " + std::to_string(after.entries.size()) + " entries");
        }
    }
    if (!open_.empty()) {
        Expectation& outer = open_.back();
        if (sameQueue && !e.queueChangedByHost) {
            outer.nestedQueueGrowth +=
                static_cast<int>(after.entries.size()) - static_cast<int>(e.before.entries.size());
        } else {
            outer.queueChangedByHost = true;
        }
    }
}

// --- what each call may do ---

void HandshakeRun::expectPowerFailReply(Expectation& e, bool brokeIntoACommand) {
    if (port_->writeError) {
        e.error = port_->writeError->number();
        return;
    }
    const bool resume = brokeIntoACommand || (reply_ && reply_->resume);
    const bool clock = powerfailreply_ == 1;
    const std::string data = clock ? clockData(clock_) : std::string(42, '\0');
    e.writes = {byteText(clock ? 0x9B : 0xFB)};
    int sum = 0;
    for (char byte : data) {
        e.writes.push_back(std::string(1, byte));
        sum += static_cast<unsigned char>(byte);
    }
    e.countmacro = 0;
    if (!clock && !resume) {
        reply_.reset();  // the macro download answered while idle awaits nothing
        return;
    }
    reply_ = Reply{sum & 0xFF, false, resume};
}

void HandshakeRun::expectReplyByte(Expectation& e, int byte) {
    if (!reply_->acknowledged && byte == reply_->echo) {
        if (port_->writeError) {
            e.error = port_->writeError->number();
        } else {
            e.writes = {byteText(0x00)};
            reply_->acknowledged = true;
        }
        return;
    }
    if (reply_->acknowledged && byte == 0x55) {
        expectEndOfReply(e, false);
    } else if (byte == 0xA5) {  // still unanswered: answered again
        expectPowerFailReply(e, false);
    } else if (byte == 0x5A) {  // its news first, then the command
        const bool resume = reply_->resume;
        reply_.reset();
        expectPollAnswer(e, resume ? After::SendAgain : After::StayIdle);
    } else {  // a wrong answer: the interface asks again if it must
        expectEndOfReply(e, false);
    }
}

void HandshakeRun::expectEndOfReply(Expectation& e, bool held) {
    const bool resume = reply_->resume;
    reply_.reset();
    if (resume && !lastTransmission_.first.empty()) {
        addTransmission(e, lastTransmission_.first, lastTransmission_.second);
    } else if (held) {
        expectFrontPair(e);
    }
}

void HandshakeRun::expectPollAnswer(Expectation& e, After after) {
    if (port_->writeError) {
        e.error = port_->writeError->number();
        return;
    }
    e.writes = {byteText(0xC3)};
    upload_ = Upload{};
    upload_->after = after;
}

void HandshakeRun::expectUploadByte(Expectation& e, int byte) {
    Upload& upload = *upload_;
    if (upload.size == 0) {
        if (byte == 0x5A) {  // polled again before the answer arrived
            if (port_->writeError)
                e.error = port_->writeError->number();
            else
                e.writes = {byteText(0xC3)};
        } else if (byte >= 1 && byte <= 9) {
            upload.size = static_cast<std::size_t>(byte);
        } else {
            expectEndOfUpload(e);  // no upload is that long
        }
        return;
    }
    upload.bytes += static_cast<char>(byte);
    if (upload.bytes.size() == upload.size) {
        e.heard = functionsIn(upload.bytes);
        expectEndOfUpload(e);
    }
}

void HandshakeRun::expectEndOfUpload(Expectation& e) {
    const Upload done = *upload_;
    upload_.reset();
    switch (done.after) {
        case After::StayIdle:
            if (done.held) expectFrontPair(e);
            break;
        case After::SendAgain:
            if (!lastTransmission_.first.empty()) addTransmission(e, lastTransmission_.first, lastTransmission_.second);
            break;
        case After::GoOnAsAfterReady: expectGoingOnAsAfterReady(e); break;
    }
}

void HandshakeRun::expectHeld(Expectation& e, std::vector<std::string> bytes) {
    std::vector<Variant> queue = e.before.entries;
    for (const auto& byte : bytes) queue.push_back(Variant::fromText(byte));
    e.queueGrowth = static_cast<int>(bytes.size());
    e.queueAfter = queue;
    if (reply_) {
        // Nor can it tell a late echo of the reply from a lost one: a call ends the wait.
        expectEndOfReply(e, true);
        return;
    }
    upload_->held = true;
    // The control cannot tell a slow upload from one cut short: a call ends the reading.
    expectEndOfUpload(e);
}

void HandshakeRun::addTransmission(Expectation& e, const std::string& header, const std::string& code) {
    if (port_->writeError) {
        e.error = port_->writeError->number();
        return;
    }
    e.writes = {header, code};
    e.transmits = true;
    e.comstatus = 1;
    e.checksum = byteText(codeOf(header) + codeOf(code));
}

Expectation HandshakeRun::expectSend(const std::string& call, const std::string& header, const std::string& code) {
    Expectation e{call, fieldsNow()};
    if (!port_->portOpen()) {
        e.boxes = {{message::portClosed, message::errorTitle}};
    } else if (header.empty() || code.empty()) {
        e.error = error_number::InvalidProcedureCall;
    } else if (upload_ || reply_) {
        expectHeld(e, {header, code});
    } else {
        addTransmission(e, header, code);
    }
    return e;
}

Expectation HandshakeRun::expectCommand(const std::string& call, const std::string& house, const std::string* unit,
                                        std::optional<int> dimvalue, int header, int function) {
    Expectation e{call, fieldsNow()};
    const auto houseNibble = houseNibbleOf(house);
    if (!port_->portOpen()) {
        e.boxes = {{message::portClosed, message::errorTitle}};
        return e;
    }
    if (!houseNibble) {
        e.boxes = {{message::badHouse, message::errorTitle}};
        return e;
    }
    if (unit == nullptr) {
        if (upload_ || reply_)
            expectHeld(e, {byteText(header), byteText(*houseNibble + function)});
        else
            addTransmission(e, byteText(header), byteText(*houseNibble + function));
        return e;
    }
    const auto number = quenvar::fuzz::referenceNumber(*unit, ".", -32768, 32767);
    using Outcome = quenvar::fuzz::ReferenceNumber::Outcome;
    if (number.outcome != Outcome::Value) {
        e.error = number.outcome == Outcome::Overflow ? error_number::Overflow : error_number::TypeMismatch;
        return e;
    }
    if (number.value < 1 || number.value > 16) {
        e.boxes = {{message::badUnit, message::errorTitle}};
        return e;
    }
    if (dimvalue && (*dimvalue < 5 || *dimvalue > 95)) {
        e.boxes = {{message::badDim, message::errorTitle}};
        return e;
    }
    const int functionHeader = dimvalue ? dimHeaderOf(*dimvalue) : header;
    const std::string address = byteText(*houseNibble + unitNibbleOf(static_cast<int>(number.value)));
    if (upload_ || reply_) {  // the address waits in the queue before its function
        expectHeld(e, {byteText(0x04), address, byteText(functionHeader), byteText(*houseNibble + function)});
        return e;
    }
    e.queueAppended = {byteText(functionHeader), byteText(*houseNibble + function)};
    e.queueGrowth = 2;
    addTransmission(e, byteText(0x04), address);
    if (e.error != 0) {  // a command whose address cannot be written takes its function back
        e.queueAppended.clear();
        e.queueGrowth = 0;
    }
    return e;
}

Expectation HandshakeRun::expectNotification(std::int16_t reason) {
    Expectation e{"notification " + std::to_string(reason) + " with " + hexBytes(port_->unread) + " waiting" +
                      (port_->wholeBufferPerRead ? " (one read takes all)" : ""),
                  fieldsNow()};
    const std::int16_t state = e.before.comstatus;
    // An upload's bytes are read as such, whatever the handshake state.
    if (reason == comm_event::Receive && upload_) {
        e.reads = 1;
        if (port_->unread.empty()) return e;  // nothing to act on
        e.unreadAfter = port_->unread.substr(port_->wholeBufferPerRead ? port_->unread.size() : 1);
        expectUploadByte(e, static_cast<unsigned char>(port_->unread.front()));
        return e;
    }
    if (reason != comm_event::Receive || (state != 0 && state != 1 && state != 99)) {
        e.reads = 0;
        e.unreadAfter = port_->unread;
        return e;
    }
    if (port_->unread.empty()) return e;  // nothing to act on
    e.reads = 1;
    e.unreadAfter = port_->unread.substr(port_->wholeBufferPerRead ? port_->unread.size() : 1);
    const int byte = static_cast<unsigned char>(port_->unread.front());
    if (reply_) {
        expectReplyByte(e, byte);
        return e;
    }

    if (state == 0) {
        if (byte == 0xA5) expectPowerFailReply(e, false);
        if (byte == 0x5A) expectPollAnswer(e, After::StayIdle);
        return e;
    }
    if (state == 1) {
        if (e.before.checksum == byteText(byte)) {
            if (port_->writeError) {
                e.error = port_->writeError->number();
            } else {
                e.writes = {byteText(0x00)};
                e.comstatus = 99;
            }
        } else if (byte == 0xA5) {
            // A power-fail request instead of the echo: the interface lost the transmission,
            // which goes out again once the request is answered (none is awaited while x10ready
            // is raised and the host has sent nothing since).
            const bool outstanding = readyRaisedAfter_.empty() || readyRaisedAfter_.back() != transmissions_;
            expectPowerFailReply(e, outstanding);
        } else if (byte == 0x5A) {
            // The poll instead of the echo: the transmission goes again after the upload.
            expectPollAnswer(e, After::SendAgain);
        }
        return e;
    }
    // Awaiting the ready byte; the poll in its place means the transmission went out.
    if (byte == 0x5A) {
        expectPollAnswer(e, After::GoOnAsAfterReady);
        return e;
    }
    if (byte == 0xA5) {  // the mains took the frame: it goes out again once the request is answered
        expectPowerFailReply(e, true);
        return e;
    }
    if (byte != 0x55) {
        e.boxes = {{message::notResponding, message::libraryTitle}};
        e.idleUnlessTransmitted = true;
        e.comstatus = 0;
        e.sendstatus = true;
        return e;
    }
    expectGoingOnAsAfterReady(e);
    return e;
}

void HandshakeRun::expectGoingOnAsAfterReady(Expectation& e) {
    e.comstatus = 1;
    e.sendstatus = false;
    if ((e.queueAfter ? *e.queueAfter : e.before.entries).empty()) {
        e.readyEvents = 1;
        e.idleUnlessTransmitted = true;
        e.comstatus = 0;
        e.sendstatus = true;
        return;
    }
    expectFrontPair(e);
}

void HandshakeRun::expectFrontPair(Expectation& e) {
    const std::vector<Variant> entries = e.queueAfter ? *e.queueAfter : e.before.entries;
    const TextOrError header = textOf(entries[0]);
    if (header.error != 0) {
        e.error = header.error;
        return;
    }
    if (entries.size() < 2) {
        e.error = error_number::SubscriptOutOfRange;
        return;
    }
    const TextOrError code = textOf(entries[1]);
    if (code.error != 0) {
        e.error = code.error;
        return;
    }
    e.queueGrowth -= 2;
    if (e.queueAfter) {
        e.queueAfter->erase(e.queueAfter->begin(), e.queueAfter->begin() + 2);
    } else {
        e.takesFrontPair = true;
    }
    if (header.text.empty() || code.text.empty()) {
        e.error = error_number::InvalidProcedureCall;
        return;
    }
    addTransmission(e, header.text, code.text);
}

// --- the input as a program ---

std::string HandshakeRun::pickHouse() {
    const std::uint8_t choice = input_.ConsumeIntegral<std::uint8_t>();
    if (choice < 200) {
        const char letter = static_cast<char>('A' + choice % 16);
        return std::string(1, choice % 32 < 16 ? letter : static_cast<char>(letter - 'A' + 'a'));
    }
    return input_.ConsumeRandomLengthString(4);
}

std::string HandshakeRun::pickUnit() {
    static const char* const odd[] = {"1", " 7 ",  "-3",  "0",   "17",  "40000", "1.5", "2.5", "16.4",  "x",
                                      "",  "+016", "\t9", "1e1", "0x5", "013",   "-0",  ".5",  "32767", "-32769"};
    const std::uint8_t choice = input_.ConsumeIntegral<std::uint8_t>();
    if (choice < 160) {
        const int number = choice % 16 + 1;
        return std::string(1, static_cast<char>('0' + number / 10)) + static_cast<char>('0' + number % 10);
    }
    if (choice < 220) return odd[choice % (sizeof odd / sizeof odd[0])];
    return input_.ConsumeRandomLengthString(6);
}

std::int16_t HandshakeRun::pickDim() {
    const std::uint8_t choice = input_.ConsumeIntegral<std::uint8_t>();
    if (choice < 200) return static_cast<std::int16_t>(choice % 101);
    return input_.ConsumeIntegral<std::int16_t>();
}

std::string HandshakeRun::pickByteText() {
    const std::uint8_t length = input_.ConsumeIntegralInRange<std::uint8_t>(0, 7);
    if (length == 0) return {};
    if (length >= 6) return input_.ConsumeRandomLengthString(3);
    return byteText(input_.ConsumeIntegral<std::uint8_t>());
}

Variant HandshakeRun::pickValue() {
    switch (input_.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: return Variant();
        case 1: return Variant::fromInt16(input_.ConsumeIntegral<std::int16_t>());
        case 2: return Variant::fromInt32(input_.ConsumeIntegral<std::int32_t>());
        case 3: return Variant::fromBool(input_.ConsumeBool());
        case 4: return Variant::nullObject();
        case 5: return Variant::fromObject(std::make_shared<Collection>());
        default: return Variant::fromText(pickByteText());
    }
}

void HandshakeRun::runOneOp() {
    ++opsRun_;
    const auto op = static_cast<Op>(input_.ConsumeIntegralInRange<int>(0, OpCount - 1));
    auto quote = [](const std::string& text) { return quoted(text); };
    switch (op) {
        case Open: {
            const std::int16_t number = input_.ConsumeBool() ? input_.ConsumeIntegralInRange<std::int16_t>(1, 4)
                                                             : input_.ConsumeIntegral<std::int16_t>();
            Expectation e{"openx10(" + std::to_string(number) + ")", fieldsNow()};
            if (number < 1 || number > 4) {
                e.error = error_number::InvalidPortNumber;
            } else if (port_->openError) {
                e.error = port_->openError->number();
            }
            runChecked(std::move(e), [&] { control_->openx10(number); });
            break;
        }
        case Close: runChecked(Expectation{"closex10()", fieldsNow()}, [&] { control_->closex10(); }); break;
        case Send: {
            const std::string header = pickByteText();
            const std::string code = pickByteText();
            runChecked(expectSend("sendx10(" + quote(header) + ", " + quote(code) + ")", header, code),
                       [&] { control_->sendx10(header, code); });
            break;
        }
        case LightsOn:
        case LightsOff:
        case AllOff: {
            const std::string house = pickHouse();
            const char* name = op == LightsOn ? "lightson" : op == LightsOff ? "Lightsoff" : "alloff";
            const int function = op == LightsOn ? 1 : op == LightsOff ? 6 : 0;
            runChecked(expectCommand(std::string(name) + "(" + quote(house) + ")", house, nullptr, std::nullopt, 0x06,
                                     function),
                       [&] {
                           if (op == LightsOn)
                               control_->lightson(house);
                           else if (op == LightsOff)
                               control_->Lightsoff(house);
                           else
                               control_->alloff(house);
                       });
            break;
        }
        case On:
        case Off: {
            const std::string house = pickHouse();
            const std::string unit = pickUnit();
            const std::string call =
                std::string(op == On ? "x10on(" : "x10off(") + quote(house) + ", " + quote(unit) + ")";
            runChecked(expectCommand(call, house, &unit, std::nullopt, 0x06, op == On ? 2 : 3), [&] {
                if (op == On)
                    control_->x10on(house, unit);
                else
                    control_->x10off(house, unit);
            });
            break;
        }
        case Dim:
        case Bright: {
            const std::string house = pickHouse();
            const std::string unit = pickUnit();
            const std::int16_t level = pickDim();
            const std::string call = std::string(op == Dim ? "x10dim(" : "x10brighten(") + quote(house) + ", " +
                                     quote(unit) + ", " + std::to_string(level) + ")";
            runChecked(expectCommand(call, house, &unit, level, 0, op == Dim ? 4 : 5), [&] {
                if (op == Dim)
                    control_->x10dim(house, unit, level);
                else
                    control_->x10brighten(house, unit, level);
            });
            break;
        }
        case ReceiveByte:
        case ReceiveAnswer:
        case ReceiveMany:
        case ReceiveUpload: {
            // A closed port receives nothing; a stalled control leaves at most a few bytes waiting.
            if (!port_->portOpen() || port_->unread.size() > 16) break;
            std::string arriving;
            if (op == ReceiveByte) {
                arriving = byteText(input_.ConsumeIntegral<std::uint8_t>());
            } else if (op == ReceiveAnswer && upload_) {
                // The upload a well-behaved interface sends: a size, then any bytes.
                arriving = byteText(upload_->size == 0 ? input_.ConsumeIntegralInRange<int>(1, 9)
                                                       : input_.ConsumeIntegral<std::uint8_t>());
            } else if (op == ReceiveAnswer) {
                // What a well-behaved interface would send now.
                const std::int16_t state = control_->comstatus();
                const std::string& expected = control_->checksum();
                arriving = reply_ && !reply_->acknowledged   ? byteText(reply_->echo)
                           : reply_                          ? byteText(0x55)
                           : state == 1 && !expected.empty() ? expected.substr(0, 1)
                           : state == 99                     ? byteText(0x55)
                                                             : byteText(0xA5);
            } else if (op == ReceiveUpload) {
                // Another transmitter was heard: the poll, then an upload of the documented form.
                const int size = input_.ConsumeIntegralInRange<int>(1, 9);
                arriving =
                    byteText(0x5A) + byteText(size) + input_.ConsumeBytesAsString(static_cast<std::size_t>(size));
            } else {
                arriving = input_.ConsumeBytesAsString(input_.ConsumeIntegralInRange<std::size_t>(2, 4));
                if (arriving.empty()) break;
            }
            port_->wholeBufferPerRead = op == ReceiveMany;
            if (op == ReceiveMany) {
                port_->unread += arriving;
                runChecked(expectNotification(comm_event::Receive), [&] { port_->notify(comm_event::Receive); });
            } else {
                for (char byte : arriving) {
                    port_->unread += byte;
                    runChecked(expectNotification(comm_event::Receive), [&] { port_->notify(comm_event::Receive); });
                }
            }
            port_->wholeBufferPerRead = false;
            break;
        }
        case NotifyOther: {
            static constexpr std::int16_t reasons[] = {comm_event::None, comm_event::Send, comm_event::DeviceLost, 3};
            const std::int16_t reason = reasons[input_.ConsumeIntegralInRange<int>(0, 3)];
            runChecked(expectNotification(reason), [&] { port_->notify(reason); });
            break;
        }
        case NotifyEmpty:
            if (!port_->unread.empty()) break;
            runChecked(expectNotification(comm_event::Receive), [&] { port_->notify(comm_event::Receive); });
            break;
        case WriteComstatus: {
            static constexpr std::int16_t usual[] = {0, 1, 99};
            const std::int16_t value = input_.ConsumeBool() ? usual[input_.ConsumeIntegralInRange<int>(0, 2)]
                                                            : input_.ConsumeIntegral<std::int16_t>();
            hostComstatus_ = value;
            Expectation e{"comstatus = " + std::to_string(value), fieldsNow()};
            e.hostComstatus = value;
            runChecked(std::move(e), [&] { control_->setComstatus(value); });
            break;
        }
        case WriteStrtotal:
        case WriteChecksum: {
            const std::string value = pickByteText();
            Expectation e{std::string(op == WriteStrtotal ? "strtotal = " : "checksum = ") + quote(value), fieldsNow()};
            (op == WriteStrtotal ? e.hostStrtotal : e.hostChecksum) = value;
            runChecked(std::move(e), [&] {
                if (op == WriteStrtotal)
                    control_->setStrtotal(value);
                else
                    control_->setChecksum(value);
            });
            break;
        }
        case WriteSendstatus: {
            const bool value = input_.ConsumeBool();
            Expectation e{std::string("sendstatus = ") + (value ? "true" : "false"), fieldsNow()};
            e.hostSendstatus = value;
            runChecked(std::move(e), [&] { control_->setSendstatus(value); });
            break;
        }
        case WriteCountmacro: {
            const std::int16_t value = input_.ConsumeIntegral<std::int16_t>();
            Expectation e{"countmacro = " + std::to_string(value), fieldsNow()};
            e.countmacro = value;
            runChecked(std::move(e), [&] { control_->setCountmacro(value); });
            break;
        }
        case WritePowerfailreply: {
            const std::int16_t value = input_.ConsumeBool() ? input_.ConsumeIntegralInRange<std::int16_t>(0, 1)
                                                            : input_.ConsumeIntegral<std::int16_t>();
            Expectation e{"powerfailreply = " + std::to_string(value), fieldsNow()};
            if (value == 0 || value == 1) {
                e.powerfailreply = value;
                powerfailreply_ = value;
            } else {
                e.error = error_number::InvalidPropertyValue;
            }
            runChecked(std::move(e), [&] { control_->setPowerfailreply(value); });
            break;
        }
        case SetClock:
            clock_ = {.second = input_.ConsumeIntegralInRange<int>(0, 59),
                      .minute = input_.ConsumeIntegralInRange<int>(0, 59),
                      .hour = input_.ConsumeIntegralInRange<int>(0, 23),
                      .yearDay = input_.ConsumeIntegralInRange<int>(0, 365),
                      .weekday = input_.ConsumeIntegralInRange<int>(0, 6)};
            break;
        case WriteColstring: {
            CollectionRef replacement;
            if (input_.ConsumeBool()) {
                replacement = std::make_shared<Collection>();
                const int entries = input_.ConsumeIntegralInRange<int>(0, 5);
                for (int i = 0; i < entries; ++i) replacement->add(pickValue());
            }
            Expectation e{std::string("colstring = ") +
                              (replacement ? std::to_string(replacement->count()) + " entries" : "nothing"),
                          fieldsNow()};
            e.queueChangedByHost = true;
            runChecked(std::move(e), [&] { control_->setColstring(replacement); });
            break;
        }
        case ChangeQueue: {
            const bool add = input_.ConsumeBool();
            const Variant value = add ? pickValue() : Variant();
            const std::int32_t position = add ? 0 : input_.ConsumeIntegralInRange<std::int32_t>(0, 4);
            Expectation e{add ? std::string("colstring.Add") : "colstring.Remove " + std::to_string(position),
                          fieldsNow()};
            e.queueChangedByHost = true;
            if (!add && (position < 1 || position > static_cast<std::int32_t>(e.before.entries.size()))) {
                e.error = error_number::SubscriptOutOfRange;
            }
            runChecked(std::move(e), [&] {
                if (add)
                    control_->colstring()->add(value);
                else
                    control_->colstring()->remove(position);
            });
            break;
        }
        case FailWrites:
            if (input_.ConsumeBool())
                port_->writeError = RuntimeError(error_number::DeviceIoError, "Device I/O error");
            else
                port_->writeError.reset();
            trace_.push_back(std::string(static_cast<std::size_t>(depth_) * 2, ' ') +
                             (port_->writeError ? "(writes fail from here)" : "(writes work from here)"));
            break;
        case FailOpen:
            if (input_.ConsumeBool())
                port_->openError = RuntimeError(error_number::PermissionDenied, "Permission denied");
            else
                port_->openError.reset();
            break;
        case ActInBox: pendingBoxOps_ = input_.ConsumeIntegralInRange<int>(1, 6); break;
        case ActInReady: pendingReadyOps_ = input_.ConsumeIntegralInRange<int>(1, 6); break;
        case OpCount: break;
    }
}

void HandshakeRun::run() {
    while (input_.remaining_bytes() > 0 && opsRun_ < maxOps) runOneOp();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    HandshakeRun run(input);
    run.run();
    return 0;
}
