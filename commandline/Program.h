#pragma once
// quenvar's whole run: the command line read, the way to the line chosen (the port, or the MQTT
// bridge when it holds the port or a broker is named), the command or the monitor run. Returns
// the exit code.

#include <QStringList>

namespace quenvar::commandline {

int runProgram(const QStringList& arguments);

}  // namespace quenvar::commandline
