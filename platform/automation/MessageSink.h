#pragma once
// Where a control's messages go in a process without windows.
//
// A control tells its user things in modal message boxes (a prompt and a title). A host that has
// no screen (a daemon, a command-line tool) installs a sink here once for the whole process; the
// control's box code then hands every message to the sink instead of opening a box, and returns
// at once. The control is never told which host it runs in: the sink lives in the runtime both
// share.
//
// What a caller may rely on:
// - One sink per process; installing one returns the one it replaces (restore it when done).
//   An empty function removes the sink.
// - deliverMessage() calls the sink on the caller's thread, outside any lock of the runtime, so a
//   sink may install another sink or deliver a message itself. Texts are in the runtime's
//   single-byte code page.

#include <functional>
#include <string>

namespace quenvar::automation {

using MessageSink = std::function<void(const std::string& prompt, const std::string& title)>;

MessageSink installMessageSink(MessageSink sink);

bool hasMessageSink();

// Hands the message to the installed sink; false (and nothing done) when there is none.
bool deliverMessage(const std::string& prompt, const std::string& title);

}  // namespace quenvar::automation
