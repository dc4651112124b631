#pragma once
// The serial component on Windows: port n is \\.\COMn (or the device PortMap names), opened for
// overlapped I/O at 4800 bit/s, 8 data bits, no parity, 1 stop bit, no flow control.
//
// What a caller may rely on, beyond SerialComponentBase:
// - Create, use and destroy it on one thread that runs a message loop (the host's thread): it
//   owns a hidden message-only window there through which received bytes arrive.
// - A reader thread waits for bytes; OnComm runs from the owner thread's message loop (or a
//   modal loop inside it, such as a message box's).
// - Writes complete before setOutput returns, so bytes go out in call order.
// - A device that goes away while open closes the port at once and the error handler hears of
//   it from the message loop; a write that meets the lost device raises the error to its caller
//   instead. Closing stops the reader thread.
// - Warnings (a failing handler, a lost device, an error with no handler to hear it) go to the
//   debugger's output; nothing else is logged.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial/SerialComponentBase.h"

namespace quenvar::serial {

class WinSerialComponent : public SerialComponentBase {
public:
    WinSerialComponent();
    ~WinSerialComponent() override;

    WinSerialComponent(const WinSerialComponent&) = delete;
    WinSerialComponent& operator=(const WinSerialComponent&) = delete;

    // The line settings the open port's device reports.
    DCB lineSettings() const;

private:
    class Reader;

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void attachDevice(std::int16_t port, const std::string& device) override;
    void detachDevice() override;
    void writeToDevice(const std::string& bytes) override;
    bool postNotification() override;
    void log(LogLevel level, const std::string& message) const override;

    void releaseWindow();
    void takeArrivedBytes();

    HWND window_ = nullptr;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE writeDone_ = nullptr;
    std::unique_ptr<Reader> reader_;
};

}  // namespace quenvar::serial
