#include "platform/serial/windows/WinSerialComponent.h"

#include <exception>
#include <stdexcept>

#include "platform/serial/PortErrors.h"

namespace quenvar::serial {

namespace {

// A one-byte read returns as soon as a byte is there, or empty after this long without one.
constexpr DWORD ReadTimeoutMs = 1000;
// A write gets this long plus this much per byte before the device counts as stopped
// (a byte takes about 2 ms on the line at 4800 bit/s).
constexpr DWORD WriteTimeoutMs = 2000;
constexpr DWORD WriteTimeoutPerByteMs = 10;
// Empty reads back to back, each far quicker than the read time-out, mean a device that
// answers nothing but end of data: it is gone.
constexpr int QuickEmptyReadsOfALostDevice = 3;

// Messages to the notification window: the reader has bytes or news of the device; a
// notification is due.
constexpr UINT ReaderNewsMessage = WM_APP + 1;
constexpr UINT NotificationMessage = WM_APP + 2;

constexpr wchar_t WindowClassName[] = L"QuenvarSerialNotifications";

// The class is registered while any component exists and unregistered after the last one,
// because a library unloaded and loaded again must not find its old window procedure.
SRWLOCK windowClassLock = SRWLOCK_INIT;
int windowClassUsers = 0;

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

std::string systemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "system error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message;
}

// The system's reasons for refusing to open a port, as the component's own.
PortFault openFault(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_NOT_CONNECTED: return PortFault::DeviceMissing;
        // A port is opened for one program at a time; the next one is denied access.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY: return PortFault::InUse;
        default: return PortFault::Other;
    }
}

std::string devicePath(const std::string& device) {
    // \\.\ reaches every COM port, including COM10 and above; a full device path stays as given.
    return device.rfind("\\\\", 0) == 0 ? device : "\\\\.\\" + device;
}

bool configureLine(HANDLE port) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(port, &line)) return false;
    line.BaudRate = CBR_4800;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDsrSensitivity = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    // Otherwise a framing error would stop all reads and writes until cleared.
    line.fAbortOnError = FALSE;
    if (!SetCommState(port, &line)) return false;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, ReadTimeoutMs, WriteTimeoutPerByteMs, WriteTimeoutMs};
    if (!SetCommTimeouts(port, &timeouts)) return false;
    PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    return true;
}

}  // namespace

// The reader thread: one overlapped read at a time, the bytes handed to the owner thread
// through an inbox and one message to its notification window while the inbox is unread.
class WinSerialComponent::Reader {
public:
    Reader(HANDLE port, HWND window) : port_(port), window_(window) {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (stop_ != nullptr) thread_ = CreateThread(nullptr, 0, &Reader::threadEntry, this, 0, nullptr);
        if (thread_ == nullptr) {
            if (stop_ != nullptr) CloseHandle(stop_);
            throw std::runtime_error("cannot start the serial reader thread: " + systemMessage(GetLastError()));
        }
    }

    ~Reader() {
        stop();
        CloseHandle(thread_);
        CloseHandle(stop_);
    }

    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Returns once the thread has ended; a read under way is cancelled.
    void stop() {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
    }

    // Moves the bytes that arrived to `into`; true once the device has failed.
    bool takeArrived(std::string& into) {
        AcquireSRWLockExclusive(&lock_);
        into.append(arrived_);
        arrived_.clear();
        newsPosted_ = false;
        const bool failed = failed_;
        ReleaseSRWLockExclusive(&lock_);
        return failed;
    }

private:
    enum class ReadOutcome { Bytes, Stopped, Failed };

    static DWORD WINAPI threadEntry(void* reader) {
        static_cast<Reader*>(reader)->run();
        return 0;
    }

    void run() {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (overlapped.hEvent == nullptr) {
            report(nullptr, 0, true);
            return;
        }
        int quickEmptyReads = 0;
        // One byte per read: with these time-outs a longer read may wait to fill its buffer.
        char buffer[1];
        while (WaitForSingleObject(stop_, 0) == WAIT_TIMEOUT) {
            const ULONGLONG started = GetTickCount64();
            DWORD count = 0;
            const ReadOutcome outcome = readSome(overlapped, buffer, sizeof buffer, count);
            if (count > 0) {
                report(buffer, count, false);
                quickEmptyReads = 0;
            } else if (outcome == ReadOutcome::Bytes) {
                // Empty: the read time-out passed without a byte, or the device is gone.
                const bool quick = GetTickCount64() - started < ReadTimeoutMs / 2;
                quickEmptyReads = quick ? quickEmptyReads + 1 : 0;
            }
            if (outcome == ReadOutcome::Stopped) break;
            if (outcome == ReadOutcome::Failed || quickEmptyReads >= QuickEmptyReadsOfALostDevice) {
                report(nullptr, 0, true);
                break;
            }
        }
        CloseHandle(overlapped.hEvent);
    }

    ReadOutcome readSome(OVERLAPPED& overlapped, char* buffer, DWORD size, DWORD& count) {
        ResetEvent(overlapped.hEvent);
        if (!ReadFile(port_, buffer, size, nullptr, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) return ReadOutcome::Failed;
            const HANDLE events[] = {overlapped.hEvent, stop_};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIoEx(port_, &overlapped);
                // The buffer belongs to the read until it has finished; bytes it got still count.
                GetOverlappedResult(port_, &overlapped, &count, TRUE);
                return ReadOutcome::Stopped;
            }
        }
        if (!GetOverlappedResult(port_, &overlapped, &count, FALSE)) {
            count = 0;
            return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0 ? ReadOutcome::Stopped : ReadOutcome::Failed;
        }
        return ReadOutcome::Bytes;
    }

    void report(const char* bytes, DWORD count, bool failed) {
        AcquireSRWLockExclusive(&lock_);
        arrived_.append(bytes, count);
        failed_ = failed_ || failed;
        const bool post = !newsPosted_;
        newsPosted_ = true;
        ReleaseSRWLockExclusive(&lock_);
        if (post && !PostMessageW(window_, ReaderNewsMessage, 0, 0)) {
            // The owner's queue is full: the next report tries again, nothing is dropped.
            AcquireSRWLockExclusive(&lock_);
            newsPosted_ = false;
            ReleaseSRWLockExclusive(&lock_);
        }
    }

    HANDLE port_;
    HWND window_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::string arrived_;
    bool failed_ = false;
    bool newsPosted_ = false;
};

WinSerialComponent::WinSerialComponent() {
    const HINSTANCE module = thisModule();
    AcquireSRWLockExclusive(&windowClassLock);
    if (windowClassUsers++ == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &WinSerialComponent::windowProcedure;
        windowClass.hInstance = module;
        windowClass.lpszClassName = WindowClassName;
        RegisterClassExW(&windowClass);
    }
    ReleaseSRWLockExclusive(&windowClassLock);

    window_ = CreateWindowExW(0, WindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    writeDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (window_ == nullptr || writeDone_ == nullptr) {
        const std::string reason = systemMessage(GetLastError());
        releaseWindow();
        throw std::runtime_error("cannot create the serial component's notification window: " + reason);
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WinSerialComponent::~WinSerialComponent() {
    closePort();
    releaseWindow();
}

void WinSerialComponent::releaseWindow() {
    if (window_ != nullptr) {
        // Messages still queued for the window go with it.
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (writeDone_ != nullptr) CloseHandle(writeDone_);
    writeDone_ = nullptr;
    AcquireSRWLockExclusive(&windowClassLock);
    if (--windowClassUsers == 0) UnregisterClassW(WindowClassName, thisModule());
    ReleaseSRWLockExclusive(&windowClassLock);
}

LRESULT CALLBACK WinSerialComponent::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* component = reinterpret_cast<WinSerialComponent*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (component != nullptr) {
        // The component may be gone when these return: nothing after them touches it.
        if (message == ReaderNewsMessage) {
            component->takeArrivedBytes();
            return 0;
        }
        if (message == NotificationMessage) {
            component->deliverNotification();
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DCB WinSerialComponent::lineSettings() const {
    if (!portOpen()) throw portNotOpenError(commPort());
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(port_, &line)) {
        throw describePortFailure({PortFault::Other, openPortNumber(), portDevice(), systemMessage(GetLastError())});
    }
    return line;
}

void WinSerialComponent::attachDevice(std::int16_t portNumber, const std::string& device) {
    const HANDLE port = CreateFileA(devicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        throw describePortFailure({openFault(error), portNumber, device, systemMessage(error)});
    }
    if (!configureLine(port)) {
        const DWORD error = GetLastError();
        CloseHandle(port);
        throw describePortFailure({PortFault::NotASerialPort, portNumber, device, systemMessage(error)});
    }
    try {
        reader_ = std::make_unique<Reader>(port, window_);
    } catch (const std::exception& failure) {
        CloseHandle(port);
        throw describePortFailure({PortFault::Other, portNumber, device, failure.what()});
    }
    port_ = port;
}

void WinSerialComponent::detachDevice() {
    if (reader_) {
        reader_->stop();
        // What came before the close stays readable.
        std::string arrived;
        reader_->takeArrived(arrived);
        storeReceivedBytes(arrived.data(), arrived.size());
        reader_.reset();
    }
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
}

void WinSerialComponent::writeToDevice(const std::string& bytes) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = writeDone_;
    DWORD written = 0;
    bool done = WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    if (done || GetLastError() == ERROR_IO_PENDING) done = GetOverlappedResult(port_, &overlapped, &written, TRUE);
    if (done && written == bytes.size()) return;
    // A device that takes no more bytes, or refuses them, is as good as gone: the caller hears
    // of it, and the port is closed so that nothing else waits on it.
    throw loseDeviceUnderCall();
}

void WinSerialComponent::takeArrivedBytes() {
    if (!reader_) return;  // news from a reader that has been stopped since
    std::string arrived;
    const bool failed = reader_->takeArrived(arrived);
    storeReceivedBytes(arrived.data(), arrived.size());
    if (failed)
        loseDevice();
    else
        scheduleNotification();
}

bool WinSerialComponent::postNotification() { return PostMessageW(window_, NotificationMessage, 0, 0) != FALSE; }

// Only warnings, and only for a debugger: the errors themselves reach the error handler.
void WinSerialComponent::log(LogLevel level, const std::string& message) const {
    if (level == LogLevel::Warning) OutputDebugStringA(("quenvar serial: " + message + "\n").c_str());
}

}  // namespace quenvar::serial
