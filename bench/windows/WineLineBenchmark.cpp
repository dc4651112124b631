// The registered quenvar.ocx as a COM host meets it: created by ProgID, port 1 opened, a sink
// advised on __quenvar, then On commands (x10on "A","01") through IDispatch::Invoke, each
// started once the previous one raised x10ready, with x10sim behind COM1 (started by
// scripts/run-windows-benchmarks.sh through tests/windows/run-in-wine.sh, its record of the
// wire stamped with the time each line was written). Figures only:
// - echo to acknowledge: from x10sim writing the echo of a transmission to it reading the
//   control's 0x00, both as x10sim's record stamps them: the pty, Wine's serial port, the
//   serial component's reader thread, the host's message loop, the control and the write back;
// - one whole On command from Invoke to x10ready, as the host sees it.

#include <windows.h>
#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/windows/ComConnectionPoint.h"
#include "platform/automation/windows/ComObject.h"
#include "tests/windows/support/MessageLoop.h"

namespace {

using quenvar::bench::percentile;
using Clock = std::chrono::steady_clock;
namespace control = quenvar::control;

// A host's sink that counts x10ready.
class ReadyCounter final : public quenvar::automation::windows::ComObject<IDispatch> {
public:
    int raised = 0;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == control::event::x10ready) ++raised;
        return S_OK;
    }
};

// One line of x10sim's stamped record: when it was written, and the bytes of an "in:" or "out:".
struct WireLine {
    double seconds = 0;
    bool fromComputer = false;
    std::vector<unsigned> bytes;
};

std::vector<WireLine> readStampedRecord() {
    const char* unixPath = std::getenv("QUENVAR_X10SIM_LOG");
    if (unixPath == nullptr) return {};
    std::string path = std::string("Z:") + unixPath;
    for (char& character : path) {
        if (character == '/') character = '\\';
    }
    std::ifstream record(path);
    std::vector<WireLine> lines;
    for (std::string text; std::getline(record, text);) {
        std::istringstream fields(text);
        WireLine line;
        std::string direction;
        if (!(fields >> line.seconds >> direction) || (direction != "in:" && direction != "out:")) continue;
        line.fromComputer = direction == "in:";
        for (unsigned value = 0; fields >> std::hex >> value;) line.bytes.push_back(value);
        lines.push_back(line);
    }
    return lines;
}

// Microseconds from each echo to the computer's 0x00 that follows it, skipping the first
// `warmUpEchoes`. An echo is what the interface wrote just before a 0x00 came (a transmission
// may reach x10sim in two reads, so its line is no guide).
std::vector<double> echoToAcknowledge(const std::vector<WireLine>& lines, std::size_t warmUpEchoes) {
    std::vector<double> times;
    std::size_t echoes = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const bool acknowledged = !lines[i].fromComputer && lines[i].bytes.size() == 1 && lines[i + 1].fromComputer &&
                                  lines[i + 1].bytes == std::vector<unsigned>{0x00};
        if (acknowledged && echoes++ >= warmUpEchoes) times.push_back((lines[i + 1].seconds - lines[i].seconds) * 1e6);
    }
    return times;
}

HRESULT callWithTexts(IDispatch* object, DISPID id, BSTR first, BSTR second) {
    VARIANT args[2];  // last first
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = second;
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = first;
    DISPPARAMS params{args, nullptr, 2, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

}  // namespace

int main() {
    quenvar::bench::printHeader("quenvar.ocx on COM1 under Wine, x10sim behind it");
    if (FAILED(OleInitialize(nullptr))) return 1;
    CLSID clsid;
    IDispatch* quenvar = nullptr;
    if (FAILED(CLSIDFromProgID(L"Zelvo.quenvar", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&quenvar)))) {
        std::printf("Zelvo.quenvar cannot be created: register quenvar.ocx first (regsvr32)\n");
        return 1;
    }
    VARIANT portNumber;
    V_VT(&portNumber) = VT_I2;
    V_I2(&portNumber) = 1;
    DISPPARAMS openParams{&portNumber, nullptr, 1, 0};
    if (FAILED(quenvar->Invoke(control::member::openx10, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &openParams,
                               nullptr, nullptr, nullptr))) {
        std::printf("port 1 does not open: is x10sim behind COM1?\n");
        return 1;
    }
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* events = nullptr;
    DWORD cookie = 0;
    auto* sink = new ReadyCounter;
    quenvar->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    container->FindConnectionPoint(quenvar::automation::windows::iidOf(control::identifiers::quenvarEvents), &events);
    container->Release();
    events->Advise(sink, &cookie);

    constexpr int warmUpCommands = 20;
    constexpr int commands = 300;
    BSTR house = SysAllocString(L"A");
    BSTR unit = SysAllocString(L"01");
    std::vector<double> perCommand;
    int lost = 0;
    for (int command = 0; command < warmUpCommands + commands; ++command) {
        const int before = sink->raised;
        const auto start = Clock::now();
        const bool sent = SUCCEEDED(callWithTexts(quenvar, control::member::x10on, house, unit));
        const bool ready = sent && quenvar::testing::runMessagesUntil([&] { return sink->raised > before; });
        const auto end = Clock::now();
        if (!ready) {
            ++lost;
            continue;
        }
        if (command >= warmUpCommands) {
            perCommand.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
    }
    events->Unadvise(cookie);
    events->Release();
    sink->Release();
    VARIANT noResult;
    DISPPARAMS noParams{};
    quenvar->Invoke(control::member::closex10, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &noParams, &noResult,
                    nullptr, nullptr);
    quenvar->Release();
    SysFreeString(house);
    SysFreeString(unit);

    // Two echoes per On command: the address's and the function's.
    const std::vector<double> echoTimes = echoToAcknowledge(readStampedRecord(), 2 * warmUpCommands);
    std::printf(
        "echo to acknowledge (x10sim writes the echo -> x10sim reads 0x00): median %.0f us, p90 %.0f us, "
        "p99 %.0f us (%zu echoes of %d On commands)\n",
        percentile(echoTimes, 0.5), percentile(echoTimes, 0.9), percentile(echoTimes, 0.99), echoTimes.size(),
        commands);
    std::printf("one On command, Invoke to x10ready (4 handshake steps): median %.2f ms, p99 %.2f ms (%zu commands)\n",
                percentile(perCommand, 0.5) / 1000.0, percentile(perCommand, 0.99) / 1000.0, perCommand.size());
    if (lost != 0 || echoTimes.size() != 2u * commands) {
        std::printf("  warning: %d commands without x10ready, %zu echoes acknowledged (expected %d)\n", lost,
                    echoTimes.size(), 2 * commands);
    }
    OleUninitialize();
    return lost == 0 ? 0 : 1;
}
