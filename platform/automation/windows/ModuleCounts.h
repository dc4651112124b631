#pragma once
// What keeps an in-process server loaded: the COM objects it has handed out and still live
// (controls, collections, class factories' instances) and the class factories' locks.
// DllCanUnloadNow answers from these counts.

namespace quenvar::automation::windows {

void objectCreated();
void objectDestroyed();
void serverLocked(bool lock);
bool serverInUse();

// Counts an object for as long as it lives: a member of every COM object of the module.
class CountedObject {
public:
    CountedObject() { objectCreated(); }
    ~CountedObject() { objectDestroyed(); }
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;
};

}  // namespace quenvar::automation::windows
