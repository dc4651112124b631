#pragma once
// x10sim behind COM1, as a Windows test under Wine reaches it: the test runner starts it for
// the test (tests/windows/run-in-wine.sh) and names its wire record and its command input in
// environment variables holding Unix paths, which Wine reaches through drive Z:.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quenvar::testing {

class SimulatorBehindCom1 {
public:
    // The bytes x10sim has received so far, in order (its "in:" lines).
    static std::string received() {
        const std::string prefix = "in: ";
        std::ifstream log(windowsPath("QUENVAR_X10SIM_LOG"));
        std::string bytes;
        for (std::string line; std::getline(log, line);) {
            if (log.eof()) break;  // a line still being written
            if (line.rfind(prefix, 0) != 0) continue;
            std::istringstream hex(line.substr(prefix.size()));
            for (unsigned value = 0; hex >> std::hex >> value;) bytes.push_back(static_cast<char>(value));
        }
        return bytes;
    }

    // One of x10sim's console commands, such as "disappear" or "stray-bytes".
    static void command(const std::string& line) {
        std::ofstream input(windowsPath("QUENVAR_X10SIM_COMMANDS"), std::ios::binary);
        if (!input) throw std::runtime_error("cannot write to x10sim's commands (QUENVAR_X10SIM_COMMANDS)");
        input << line << '\n';
    }

private:
    static std::string windowsPath(const char* variable) {
        const char* unixPath = std::getenv(variable);
        if (unixPath == nullptr || *unixPath == '\0')
            throw std::runtime_error(std::string(variable) + " is not set: run this test with x10sim behind COM1");
        std::string path = std::string("Z:") + unixPath;
        for (char& character : path) {
            if (character == '/') character = '\\';
        }
        return path;
    }
};

}  // namespace quenvar::testing
