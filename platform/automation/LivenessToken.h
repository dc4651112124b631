#pragma once
// An object that calls out (to an event sink, a host's handler, a modal box whose event loop runs
// the host's code) may be gone when the call returns: a host may let go of an object from any
// callback the object makes. The object owns a LivenessToken; a Check taken before the call tells
// afterwards whether the object still exists, and when it does not, the caller returns at once
// without touching any of it.
//
// Why a check rather than keeping the object alive until its turn ends: an object released by its
// host goes at once, and what it owns goes with it (a serial component closes its port and
// notifies no more), so nothing of a released object acts after the release, even while a modal
// box keeps delivering notifications. A runtime that holds a reference of its own on the object
// for the length of a call simply never sees a check fail.

#include <memory>
#include <utility>

namespace quenvar::automation {

class LivenessToken {
public:
    class Check {
    public:
        bool objectAlive() const { return !alive_.expired(); }

    private:
        friend class LivenessToken;
        explicit Check(std::weak_ptr<const char> alive) : alive_(std::move(alive)) {}
        std::weak_ptr<const char> alive_;
    };

    LivenessToken() = default;
    // A copy belongs to another object, which has a life of its own.
    LivenessToken(const LivenessToken&) : LivenessToken() {}
    LivenessToken& operator=(const LivenessToken&) { return *this; }

    Check check() const { return Check(alive_); }

private:
    std::shared_ptr<const char> alive_ = std::make_shared<const char>('\0');
};

}  // namespace quenvar::automation
