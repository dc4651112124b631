#include "sim/PtyEndpoint.h"

#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace x10sim {

static std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

PtyEndpoint::PtyEndpoint(QObject* parent) : QObject(parent) {}

PtyEndpoint::~PtyEndpoint() { close(); }

void PtyEndpoint::open() {
    if (isOpen()) return;
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error(systemError("x10sim: cannot create a pseudo-terminal (openpty)") +
                                 ". Check that /dev/ptmx is available and the pty limit is not reached.");

    // Raw at once: with the default line discipline the slave would echo and translate bytes
    // until the other side configures it.
    termios settings{};
    bool configured = ::tcgetattr(slave, &settings) == 0;
    if (configured) {
        ::cfmakeraw(&settings);
        configured = ::tcsetattr(slave, TCSANOW, &settings) == 0;
    }
    const int flags = ::fcntl(master, F_GETFL);
    const bool nonBlocking = flags >= 0 && ::fcntl(master, F_SETFL, flags | O_NONBLOCK) == 0;
    const char* name = ::ptsname(master);
    if (!configured || !nonBlocking || name == nullptr) {
        const std::string reason = systemError("x10sim: cannot configure the pseudo-terminal");
        ::close(slave);
        ::close(master);
        throw std::runtime_error(reason);
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    master_ = master;
    slave_ = slave;
    slavePath_ = QString::fromLocal8Bit(name);
    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyEndpoint::readAvailable);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyEndpoint::flushPending);
}

void PtyEndpoint::close() {
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    pendingWrite_.clear();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

void PtyEndpoint::write(const QByteArray& bytes) {
    if (!isOpen()) return;
    pendingWrite_.append(bytes);
    flushPending();
}

void PtyEndpoint::flushPending() {
    while (!pendingWrite_.isEmpty()) {
        const ssize_t written = ::write(master_, pendingWrite_.constData(), pendingWrite_.size());
        if (written > 0) {
            pendingWrite_.remove(0, written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            writeNotifier_->setEnabled(true);  // resume when the buffer drains
            return;
        }
        const QString reason = QString::fromStdString(systemError("writing to the pseudo-terminal failed"));
        close();
        emit lineLost(reason);
        return;
    }
    writeNotifier_->setEnabled(false);
}

void PtyEndpoint::readAvailable() {
    QByteArray received;
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(master_, buffer, sizeof buffer);
        if (count > 0) {
            received.append(buffer, count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // EOF or EIO: the notifier would fire again at once, so stop listening for good.
        const QString reason = QString::fromStdString(count == 0 ? std::string("the pseudo-terminal was closed")
                                                                 : systemError("reading the pseudo-terminal failed"));
        if (!received.isEmpty()) emit bytesArrived(received);
        close();
        emit lineLost(reason);
        return;
    }
    if (!received.isEmpty()) emit bytesArrived(received);
}

void placeDeviceLink(const QString& linkPath, const QString& target) {
    const QByteArray path = QFile::encodeName(linkPath);
    struct stat status {};
    if (::lstat(path.constData(), &status) == 0) {
        if (!S_ISLNK(status.st_mode))
            throw std::runtime_error("x10sim: will not replace " + linkPath.toStdString() +
                                     " with a link to the device: it exists and is not a symbolic link."
                                     " Choose another path for --link or remove it first.");
        if (::unlink(path.constData()) != 0)
            throw std::runtime_error(
                systemError(("x10sim: cannot remove the old link " + linkPath.toStdString()).c_str()));
    }
    if (::symlink(QFile::encodeName(target).constData(), path.constData()) != 0)
        throw std::runtime_error(systemError(("x10sim: cannot create the link " + linkPath.toStdString()).c_str()) +
                                 ". Check that its folder exists and is writable.");
}

void removeDeviceLink(const QString& linkPath, const QString& target) {
    // readlink rather than QFileInfo: the target may already be gone when the line was lost.
    const QByteArray path = QFile::encodeName(linkPath);
    char pointsTo[4096];
    const ssize_t length = ::readlink(path.constData(), pointsTo, sizeof pointsTo - 1);
    if (length > 0 && QByteArray(pointsTo, length) == QFile::encodeName(target)) ::unlink(path.constData());
}

}  // namespace x10sim
