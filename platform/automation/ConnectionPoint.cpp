#include "platform/automation/ConnectionPoint.h"

#include <algorithm>
#include <exception>

namespace quenvar::automation {

ConnectionPoint::ConnectionPoint(const InterfaceInfo& events) : events_(&events) {}

ConnectionPoint::Cookie ConnectionPoint::advise(ObjectRef sink) {
    if (!sink) {
        throw RuntimeError(error_number::CannotConnect,
                           "Cannot connect to the events of " + events_->name +
                               ": the sink is the null reference; pass an object that answers the events");
    }
    // Cookies are not reused while the counter runs, and 0 never names a connection.
    do {
        ++lastCookie_;
    } while (lastCookie_ == 0 || std::any_of(sinks_.begin(), sinks_.end(),
                                             [this](const auto& entry) { return entry.first == lastCookie_; }));
    sinks_.emplace_back(lastCookie_, std::move(sink));
    return lastCookie_;
}

void ConnectionPoint::unadvise(Cookie cookie) {
    auto found =
        std::find_if(sinks_.begin(), sinks_.end(), [cookie](const auto& entry) { return entry.first == cookie; });
    if (found == sinks_.end()) {
        throw RuntimeError(error_number::NoConnection, "No connection to the events of " + events_->name +
                                                           " has the cookie " + std::to_string(cookie) +
                                                           "; it was never given out or is already disconnected");
    }
    sinks_.erase(found);
}

void ConnectionPoint::raise(MemberId id, std::span<const Variant> args) {
    if (events_->find(id) == nullptr) {
        throw RuntimeError(error_number::MemberNotFound,
                           "Member not found: " + events_->name + " has no event with id " + std::to_string(id));
    }
    // Sinks may change the list while they run, so walk a snapshot and skip the ones gone.
    const auto snapshot = sinks_;
    const LivenessToken::Check self = liveness_.check();
    std::exception_ptr firstFailure;
    for (const auto& [cookie, sink] : snapshot) {
        const bool stillConnected = std::any_of(sinks_.begin(), sinks_.end(),
                                                [wanted = cookie](const auto& entry) { return entry.first == wanted; });
        if (!stillConnected) continue;
        std::vector<Variant> ownArgs(args.begin(), args.end());
        try {
            sink->invoke(id, InvokeKind::Method, ownArgs);
        } catch (const RuntimeError& error) {
            if (error.number() != error_number::MemberNotFound && !firstFailure) {
                firstFailure = std::current_exception();
            }
        } catch (...) {
            if (!firstFailure) firstFailure = std::current_exception();
        }
        if (!self.objectAlive()) return;
    }
    if (firstFailure) std::rethrow_exception(firstFailure);
}

ConnectionPointContainer::~ConnectionPointContainer() = default;

EventSink::EventSink(const InterfaceInfo& events, Handler handler) : events_(&events), handler_(std::move(handler)) {}

Variant EventSink::invoke(MemberId id, InvokeKind kind, std::span<Variant> args) {
    const MemberInfo& event = dispatch_detail::requireMember(*events_, id, kind, args.size());
    std::vector<Variant> converted = dispatch_detail::convertArguments(event, args);
    if (handler_) handler_(id, converted);
    return Variant();
}

}  // namespace quenvar::automation
