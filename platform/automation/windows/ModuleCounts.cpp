#include "platform/automation/windows/ModuleCounts.h"

#include <windows.h>

namespace quenvar::automation::windows {
namespace {
LONG liveObjects = 0;
LONG locks = 0;
}  // namespace

void objectCreated() { InterlockedIncrement(&liveObjects); }
void objectDestroyed() { InterlockedDecrement(&liveObjects); }
void serverLocked(bool lock) {
    if (lock) {
        InterlockedIncrement(&locks);
    } else {
        InterlockedDecrement(&locks);
    }
}
bool serverInUse() {
    return InterlockedCompareExchange(&liveObjects, 0, 0) != 0 || InterlockedCompareExchange(&locks, 0, 0) != 0;
}

}  // namespace quenvar::automation::windows
