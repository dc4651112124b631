#pragma once
// The computer's end of a simulated line: a pty slave opened raw with plain POSIX calls, read
// while the event loop keeps running, so that a simulator on the same thread can answer.

#include <QByteArray>
#include <QString>

#include <chrono>

namespace quenvar::testing {

class ComputerSide {
public:
    // Opens the device at once; isOpen() and openError() tell whether that worked.
    explicit ComputerSide(const QString& device);
    ~ComputerSide();
    ComputerSide(const ComputerSide&) = delete;
    ComputerSide& operator=(const ComputerSide&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    QString openError() const { return error_; }
    int fd() const { return fd_; }
    void close();

    // Writes every byte at once; false (with errno set) when the line would not take them.
    [[nodiscard]] bool write(const QByteArray& bytes);

    // Waits in the event loop until count bytes have arrived or the time is up; returns what
    // arrived.
    QByteArray read(int count, std::chrono::milliseconds limit = std::chrono::seconds(3));

    // Whatever arrives while the event loop runs for the whole quiet period (expected: nothing).
    QByteArray readNothingFor(std::chrono::milliseconds quiet) { return read(1, quiet); }

    // Writes `out`, then reads the `expected` bytes of the answer; empty when the write failed.
    QByteArray exchange(const QByteArray& out, int expected);

private:
    int fd_ = -1;
    QString error_;
};

}  // namespace quenvar::testing
