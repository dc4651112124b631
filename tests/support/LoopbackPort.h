#pragma once
// A TCP port on 127.0.0.1 for a server a test starts (never a well-known one).

namespace quenvar::testing {

// A port that nothing listens on: the one the system gives a socket bound to port 0; 0 when none.
int freeLoopbackPort();

}  // namespace quenvar::testing
