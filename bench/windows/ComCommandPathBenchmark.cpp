// The control's COM object as a COM host calls it, in this process: x10on "A","01" through
// IDispatch::Invoke with text arguments, down to the bytes handed to a serial component with
// nothing behind it. The Windows counterpart of command_path_benchmark's first figure: the same
// core, reached through COM's VARIANTs instead of the runtime's own. Figures only.

#include <windows.h>
#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "control/QuenvarSurface.h"
#include "control/windows/QuenvarComControl.h"
#include "platform/automation/windows/ComVariant.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace {

using quenvar::bench::percentile;
using quenvar::testing::ScriptedSerialComponent;
using Clock = std::chrono::steady_clock;
namespace control = quenvar::control;

HRESULT invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> argsLastFirst) {
    DISPID putId = DISPID_PROPERTYPUT;
    const bool isPut = (flags & DISPATCH_PROPERTYPUTREF) != 0;
    DISPPARAMS params{argsLastFirst.data(), isPut ? &putId : nullptr, static_cast<UINT>(argsLastFirst.size()),
                      isPut ? 1u : 0u};
    EXCEPINFO exception{};
    const HRESULT status =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, &exception, nullptr);
    if (status == DISP_E_EXCEPTION) {
        std::printf("  warning: member %ld failed: %ls\n", static_cast<long>(id), exception.bstrDescription);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
    }
    return status;
}

// An argument as a host makes it, from the runtime's value (a text becomes a new BSTR).
VARIANT argument(const quenvar::automation::Variant& value) {
    VARIANT made;
    VariantInit(&made);
    quenvar::automation::windows::variantToCom(value, &made);
    return made;
}

}  // namespace

int main() {
    quenvar::bench::printHeader(
        "The command path on Windows: IDispatch::Invoke to the serial component, no line behind it");
    if (FAILED(OleInitialize(nullptr))) return 1;
    auto component = std::make_unique<ScriptedSerialComponent>();
    ScriptedSerialComponent* port = component.get();
    port->keepWrites = false;  // only counted
    IDispatch* quenvar = control::QuenvarComControl::create(GetModuleHandleW(nullptr), std::move(component));

    using quenvar::automation::Variant;
    invoke(quenvar, control::member::openx10, DISPATCH_METHOD, {argument(Variant::fromInt16(1))});
    VARIANT house = argument(Variant::fromText("A"));
    VARIANT unit = argument(Variant::fromText("01"));
    const VARIANT emptyQueue = argument(Variant::nullObject());

    // Nobody answers, so each command leaves its function transmission queued; the queue is
    // replaced by an empty one after every batch (outside the timing), so that it stays small.
    constexpr int commandsPerBatch = 200;
    constexpr int warmUpBatches = 100;
    constexpr int batches = 2000;
    int failures = 0;
    std::vector<double> perCommand;
    perCommand.reserve(batches);
    for (int batch = 0; batch < warmUpBatches + batches; ++batch) {
        const auto start = Clock::now();
        for (int i = 0; i < commandsPerBatch; ++i) {
            failures += FAILED(invoke(quenvar, control::member::x10on, DISPATCH_METHOD, {unit, house}));
        }
        const auto end = Clock::now();
        invoke(quenvar, control::member::colstring, DISPATCH_PROPERTYPUTREF, {emptyQueue});
        if (batch >= warmUpBatches) {
            perCommand.push_back(std::chrono::duration<double, std::nano>(end - start).count() / commandsPerBatch);
        }
    }
    std::printf(
        "x10on \"A\",\"01\" through IDispatch::Invoke (BSTR arguments by value) to a scripted serial component that "
        "keeps nothing: "
        "median %.3f us per command (p99 of batch means %.3f us; %d batches of %d, queue emptied between "
        "batches)\n",
        percentile(perCommand, 0.5) / 1000.0, percentile(perCommand, 0.99) / 1000.0, batches, commandsPerBatch);
    const long long commands = static_cast<long long>(warmUpBatches + batches) * commandsPerBatch;
    if (failures != 0 || port->bytesWritten != static_cast<std::size_t>(commands) * 2) {
        std::printf("  warning: %d failed calls, %zu bytes written for %lld commands (expected 2 each)\n", failures,
                    port->bytesWritten, commands);
    }
    VariantClear(&house);
    VariantClear(&unit);
    quenvar->Release();
    OleUninitialize();
    return failures == 0 ? 0 : 1;
}
