#include "platform/headless/PortLock.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quenvar::headless {

namespace {

QString systemError(int number) { return QString::fromLocal8Bit(std::strerror(number)); }

bool usableFolder(const QString& folder) {
    return !folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// Closes a descriptor on every way out of a scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

QJsonObject LockHolder::toJson() const {
    QJsonObject object{{"pid", pid}, {"program", program}, {"device", device}};
    if (!broker.isEmpty()) object.insert("broker", withoutUserInfo(broker));
    if (!prefix.isEmpty()) object.insert("prefix", prefix);
    if (!interfaceId.isEmpty()) object.insert("interface", interfaceId);
    return object;
}

LockHolder LockHolder::fromJson(const QJsonObject& object) {
    return {object.value("pid").toInteger(),   object.value("program").toString(),
            object.value("device").toString(), object.value("broker").toString(),
            object.value("prefix").toString(), object.value("interface").toString()};
}

QString LockHolder::describe() const {
    if (pid == 0) return QStringLiteral("another program");
    return QStringLiteral("pid %1 (%2)").arg(pid).arg(program.isEmpty() ? QStringLiteral("unknown program") : program);
}

QString withoutUserInfo(const QString& url) {
    QUrl parsed(url);
    if (!parsed.isValid() || parsed.userInfo().isEmpty()) return url;
    parsed.setUserInfo({});
    return parsed.toString();
}

QString PortLock::lockFolder() {
    const QString chosen = qEnvironmentVariable("QUENVAR_LOCK_DIR");
    if (!chosen.isEmpty()) return chosen;
    if (usableFolder(QStringLiteral("/run/lock"))) return QStringLiteral("/run/lock");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (usableFolder(runtime)) return runtime;
    return QDir::tempPath();
}

QString PortLock::lockFileFor(const QString& device, const QString& folder) {
    const QFileInfo info(device);
    QString resolved = info.canonicalFilePath();
    if (resolved.isEmpty()) resolved = info.absoluteFilePath();
    // "/dev/ttyUSB0" -> "quenvar-dev_ttyUSB0.lock": one flat name per device.
    QString name = resolved.mid(1);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(folder).filePath(QStringLiteral("quenvar-%1.lock").arg(name));
}

std::optional<LockHolder> PortLock::holder(const QString& device, const QString& folder) {
    Descriptor file{::open(QFile::encodeName(lockFileFor(device, folder)).constData(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return std::nullopt;
    // A shared lock is granted only when nobody holds the exclusive one.
    if (::flock(file.fd, LOCK_SH | LOCK_NB) == 0) return std::nullopt;
    QByteArray content;
    char buffer[1024];
    ssize_t got = 0;
    while ((got = ::read(file.fd, buffer, sizeof buffer)) > 0 && content.size() < 65536) content.append(buffer, got);
    const QJsonDocument document = QJsonDocument::fromJson(content);
    if (!document.isObject()) {
        LockHolder unknown;
        unknown.device = device;
        return unknown;
    }
    return LockHolder::fromJson(document.object());
}

PortLock::PortLock(const QString& device, const QString& folder) : path_(lockFileFor(device, folder)) {}

PortLock::~PortLock() {
    unlock();
    if (fd_ >= 0) ::close(fd_);
}

bool PortLock::openFile() {
    if (fd_ >= 0) return true;
    const QByteArray path = QFile::encodeName(path_);
    // Opened without O_CREAT first: in a sticky folder shared by all users, the kernel may refuse
    // O_CREAT on a file another user made, even one everybody may write.
    fd_ = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && errno == ENOENT) {
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // Another program's lock on the same device must be able to write its content too.
        if (fd_ >= 0) ::fchmod(fd_, 0666);
        if (fd_ < 0 && errno == EEXIST) fd_ = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    }
    if (fd_ < 0) {
        error_ = QStringLiteral(
                     "Cannot open the lock file %1: %2. Make its folder writable, or name another one in "
                     "QUENVAR_LOCK_DIR.")
                     .arg(path_, systemError(errno));
        return false;
    }
    return true;
}

LockResult PortLock::takeIfFree(const LockHolder& me) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK || errno == EINTR) return LockResult::Held;
        error_ = QStringLiteral("Cannot lock %1: %2").arg(path_, systemError(errno));
        return LockResult::Failed;
    }
    locked_ = true;
    const QByteArray content = QJsonDocument(me.toJson()).toJson(QJsonDocument::Compact) + '\n';
    // The content is only a courtesy to whoever waits: a failure to write it leaves the lock held.
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, content.constData(), content.size(), 0);
    }
    return LockResult::Acquired;
}

LockResult PortLock::tryLock(const LockHolder& me) {
    if (locked_) return LockResult::Acquired;
    error_.clear();
    if (!openFile()) return LockResult::Failed;
    return takeIfFree(me);
}

LockResult PortLock::lock(const LockHolder& me, std::chrono::milliseconds timeout) {
    if (locked_) return LockResult::Acquired;
    error_.clear();
    if (!openFile()) return LockResult::Failed;
    // Watched before the first try: a holder that lets go in between still wakes the wait. Every
    // close of the file (the holder's, or a reader's) wakes it; the lock is then tried again.
    Descriptor watch{::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)};
    if (watch.fd >= 0) ::inotify_add_watch(watch.fd, QFile::encodeName(path_).constData(), IN_CLOSE);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const LockResult result = takeIfFree(me);
        if (result != LockResult::Held) return result;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return LockResult::Held;
        // Rounded up: a wait cut to whole milliseconds below would end before the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        // Without inotify, a holder's end is looked for at a slow pace rather than not at all.
        pollfd wait{watch.fd, POLLIN, 0};
        const int waitMs =
            watch.fd >= 0 ? static_cast<int>(left.count()) : static_cast<int>(std::min<qint64>(left.count(), 200));
        if (::poll(&wait, 1, waitMs) > 0) {
            char events[4096];
            while (::read(watch.fd, events, sizeof events) > 0) {
            }
        }
    }
}

void PortLock::unlock() {
    if (!locked_) return;
    [[maybe_unused]] const int emptied = ::ftruncate(fd_, 0);
    ::flock(fd_, LOCK_UN);
    locked_ = false;
    // Closed as well, so that a waiter's watch on the file wakes up.
    ::close(fd_);
    fd_ = -1;
}

}  // namespace quenvar::headless
