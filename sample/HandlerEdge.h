#pragma once
// The edge of every event handler of the program's windows.
//
// No handler traps errors on its own: a run-time error ends the handler at the failing step,
// and whatever the handler did before that stays done. The error then reaches the user here,
// in a modal box titled with the program's name ("quenvarsample"), and the program goes on
// with its windows as they are.
//
// The box reads "Run-time error 'N':" followed by an empty line and the error's description
// (runtimeErrorHeading in ProgramTexts.h says how N is written).

#include <exception>
#include <utility>

#include <QString>

#include "platform/automation/RuntimeError.h"
#include "sample/ProgramTexts.h"

class QWidget;

namespace quenvar::sample {

// "Run-time error 'N':\n\n<description>".
QString runtimeErrorText(const automation::RuntimeError& error);

// Shows the run-time error box, centred on `window` when it is given and visible, and returns
// when the user has closed it.
void showRuntimeError(QWidget* window, const automation::RuntimeError& error);

namespace handler_detail {
// An exception that is not a run-time error (a failure of the C++ library, for instance) is
// shown as the automation layer's unexpected failure with the exception's text, so it too
// reaches the user instead of ending the program.
void showUnexpectedFailure(QWidget* window, const std::exception& error);
}  // namespace handler_detail

// Runs one handler's body; a run-time error that ends it is shown to the user.
template <class Body>
void runHandler(QWidget* window, Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const automation::RuntimeError& error) {
        showRuntimeError(window, error);
    } catch (const std::exception& error) {
        handler_detail::showUnexpectedFailure(window, error);
    }
}

}  // namespace quenvar::sample
