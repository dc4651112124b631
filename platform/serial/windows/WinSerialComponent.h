#pragma once
// The serial component on Windows: port n is \\.\COMn (or the device PortMap names), opened for
// overlapped I/O at 4800 bit/s, 8 data bits, no parity, 1 stop bit, no flow control.
//
// What a caller may rely on, beyond SerialComponent (the same as the component on Linux):
// - Create, use and destroy it on one thread that runs a message loop (the host's thread): it
//   owns a hidden message-only window there through which received bytes arrive.
// - A reader thread waits for bytes; OnComm runs from the owner thread's message loop (or a
//   modal loop inside it, such as a message box's), never inside a member call. One
//   notification is pending at most; after a handler returns another follows only if bytes
//   remain unread and the handler read at least one. input() hands out one byte per read.
// - A handler that throws is reported through the error handler; the component keeps working.
// - Writes complete before setOutput returns, so bytes go out in call order.
// - A device that goes away while open closes the port; commEvent() becomes
//   comm_event::DeviceLost and the error handler hears of it once, from the message loop (a
//   write that meets the lost device raises the error to its caller instead).
// - Closing stops the reader thread and keeps the bytes not yet read available to input() until
//   the next open, which starts with empty buffers. No notification runs while the port is
//   closed or after the component is destroyed.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/serial/SerialComponent.h"

namespace quenvar::serial {

class WinSerialComponent : public SerialComponent {
public:
    WinSerialComponent();
    ~WinSerialComponent() override;

    WinSerialComponent(const WinSerialComponent&) = delete;
    WinSerialComponent& operator=(const WinSerialComponent&) = delete;

    void setCommPort(std::int16_t port) override;
    std::int16_t commPort() const override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void setOutput(const std::string& bytes) override;
    std::string input() override;
    std::int16_t commEvent() const override;

    // The device of the open port, as PortMap names it ("COM1"); empty while closed.
    std::string openDevice() const;

    // Received bytes not yet read.
    std::size_t bytesWaiting() const;

    // The line settings the open port's device reports.
    DCB lineSettings() const;

private:
    class Reader;

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void releaseWindow();
    void openSelectedPort();
    void closePort();
    void stopReader();

    void takeArrivedBytes();
    void scheduleNotification();
    void deliverNotification();
    void runCommHandler();
    void reportError(const automation::RuntimeError& error);
    void loseDevice();

    HWND window_ = nullptr;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE writeDone_ = nullptr;
    std::unique_ptr<Reader> reader_;

    std::int16_t selectedPort_ = 1;
    std::int16_t openPortNumber_ = 0;
    std::string openDevice_;
    std::int16_t commEvent_ = comm_event::None;

    std::deque<char> received_;
    // Counts every byte handed out by input(); a handler that moved it read something.
    std::uint64_t bytesRead_ = 0;
    bool notificationPending_ = false;
    // Expires with the component, so a handler that destroys it is noticed on return.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>();
};

}  // namespace quenvar::serial
