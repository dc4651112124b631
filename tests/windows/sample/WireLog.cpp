#include "WireLog.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ProgramDriver.h"

namespace sample_driver {

namespace {

std::vector<std::uint8_t> computerBytes(const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> bytes;
    for (const std::string& line : lines) {
        if (line.rfind("in: ", 0) != 0) continue;
        std::istringstream hex(line.substr(4));
        unsigned value = 0;
        while (hex >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::vector<std::string> frameLines(const std::vector<std::string>& lines) {
    std::vector<std::string> frames;
    for (const std::string& line : lines) {
        if (line.rfind("frame: ", 0) == 0) frames.push_back(line.substr(7));
    }
    return frames;
}

template <class Item>
std::vector<Item> after(std::vector<Item> items, std::size_t seen) {
    items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(std::min(seen, items.size())));
    return items;
}

}  // namespace

WireLog::WireLog() {
    // A Unix path; Wine shows the Unix root as drive Z:.
    const char* unixPath = std::getenv("QUENVAR_X10SIM_LOG");
    if (!unixPath) return;
    path_ = "Z:";
    for (const char* c = unixPath; *c; ++c) path_ += *c == '/' ? '\\' : *c;
}

std::vector<std::string> WireLog::lines() const {
    std::vector<std::string> lines;
    std::ifstream file(path_);
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void WireLog::mark() {
    const std::vector<std::string> all = lines();
    bytesSeen_ = computerBytes(all).size();
    framesSeen_ = frameLines(all).size();
}

std::vector<std::uint8_t> WireLog::bytes() { return after(computerBytes(lines()), bytesSeen_); }

std::vector<std::string> WireLog::frames() { return after(frameLines(lines()), framesSeen_); }

std::vector<std::uint8_t> WireLog::waitForBytes(std::size_t count) {
    std::vector<std::uint8_t> seen;
    waitFor([&] { return (seen = bytes()).size() >= count; });
    return seen;
}

std::vector<std::string> WireLog::waitForFrames(std::size_t count) {
    std::vector<std::string> seen;
    waitFor([&] { return (seen = frames()).size() >= count; });
    return seen;
}

}  // namespace sample_driver
