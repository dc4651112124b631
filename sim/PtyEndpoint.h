#pragma once
// The far end of a pseudo-terminal: the serial device the computer's side opens is the slave,
// this object reads and writes the master.
//
// What a caller may rely on:
// - After open() the slave is in raw mode and stays open inside this object, so the line does
//   not hang up when the other side closes and reopens the device.
// - Every byte written by the other side arrives through bytesArrived(), in order; every byte
//   given to write() reaches the slave in order (queued while the pty buffer is full).
// - close() hangs the line up: afterwards reads on the slave fail instead of blocking.

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace x10sim {

class PtyEndpoint : public QObject {
    Q_OBJECT
public:
    explicit PtyEndpoint(QObject* parent = nullptr);
    ~PtyEndpoint() override;

    // Throws std::runtime_error naming what failed and why.
    void open();
    void close();
    bool isOpen() const { return master_ >= 0; }
    QString slavePath() const { return slavePath_; }

    void write(const QByteArray& bytes);

signals:
    void bytesArrived(const QByteArray& bytes);
    // The master can no longer be read (the pty was torn down underneath us).
    void lineLost(const QString& reason);

private:
    void readAvailable();
    void flushPending();

    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QByteArray pendingWrite_;
};

// Places a symbolic link at linkPath pointing to target. An existing symbolic link there is
// replaced; anything else (a regular file, a folder) is left alone and std::runtime_error says so.
void placeDeviceLink(const QString& linkPath, const QString& target);
// Removes linkPath only if it is a symbolic link pointing to target.
void removeDeviceLink(const QString& linkPath, const QString& target);

}  // namespace x10sim
