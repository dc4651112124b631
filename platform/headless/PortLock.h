#pragma once
// The lock that gives one program at a time a serial device: a lock file per device, taken with
// flock(2), whose content says who holds it and, for the MQTT bridge, how to reach the bridge.
//
// What a caller may rely on:
// - Locks are per device, not per port number: every name of the device (QUENVAR_COMMn links, the
//   device itself) resolves to the same lock file. Two PortLock objects conflict even in one
//   process. The lock goes with the holder: released by unlock(), by the object's destruction,
//   and by the kernel when the holding process ends in any way (kill -9 included).
// - Lock files live in lockFolder(): $QUENVAR_LOCK_DIR when set; else /run/lock, where every
//   user's programs see each other's locks; else $XDG_RUNTIME_DIR; else the temporary folder.
//   They are never deleted (a deleted lock file could be locked twice); releasing empties them.
// - tryLock() never waits. lock() waits at most `timeout` for the holder to let go; it sleeps in
//   the kernel until the lock file is closed by someone, it does not poll.
// - holder() tells who holds the device now, from the lock file's content; nullopt when nobody
//   holds it (whatever stale text the file keeps). A holder that has only just taken the lock may
//   not have written its content yet: it is then reported with pid 0 and no program.
// - The content never holds a password: broker URLs are kept without their user information.

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <optional>

namespace quenvar::headless {

struct LockHolder {
    qint64 pid = 0;
    QString program;
    QString device;
    // Set by the MQTT bridge only: where its broker is and which topics are its own.
    QString broker;
    QString prefix;
    QString interfaceId;

    QJsonObject toJson() const;
    static LockHolder fromJson(const QJsonObject& object);
    // "pid 1234 (quenvar-mqtt)"
    QString describe() const;
    bool operator==(const LockHolder&) const = default;
};

enum class LockResult { Acquired, Held, Failed };

class PortLock {
public:
    explicit PortLock(const QString& device, const QString& folder = lockFolder());
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    static QString lockFolder();
    // The lock file of a device in `folder` (the device's links resolved).
    static QString lockFileFor(const QString& device, const QString& folder = lockFolder());
    // Who holds the device, or nullopt.
    static std::optional<LockHolder> holder(const QString& device, const QString& folder = lockFolder());

    LockResult tryLock(const LockHolder& me);
    LockResult lock(const LockHolder& me, std::chrono::milliseconds timeout);
    void unlock();
    bool isLocked() const { return locked_; }
    const QString& path() const { return path_; }
    // Why the last try failed (Failed: the file could not be made or opened, with the remedy).
    const QString& errorString() const { return error_; }

private:
    bool openFile();
    LockResult takeIfFree(const LockHolder& me);

    QString path_;
    int fd_ = -1;
    bool locked_ = false;
    QString error_;
};

// A broker URL as it may be shown and stored: without user and password.
QString withoutUserInfo(const QString& url);

}  // namespace quenvar::headless
