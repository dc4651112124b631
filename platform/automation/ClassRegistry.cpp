#include "platform/automation/ClassRegistry.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view recordExtension = ".class";

RuntimeError accessError(const fs::path& file, const std::string& reason) {
    return RuntimeError(error_number::PathFileAccessError,
                        "Path/File access error: class registry file " + file.string() + ": " + reason);
}

std::string hex32(std::uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << value;
    return text.str();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string formatRecord(const ClassRecord& r) {
    std::ostringstream out;
    auto line = [&out](std::string_view key, const std::string& value) { out << key << '=' << value << '\n'; };
    line("ClassName", r.className);
    line("ProgID", r.progId);
    line("CLSID", r.clsid.toString());
    line("ModulePath", r.modulePath);
    line("DefaultInterface", r.defaultInterfaceName);
    line("DefaultInterfaceIID", r.defaultInterfaceIid.toString());
    line("EventInterface", r.eventInterfaceName);
    line("EventInterfaceIID", r.eventInterfaceIid.toString());
    line("HasEvents", r.hasEvents ? "1" : "0");
    line("TypeLibrary", r.typeLibraryName);
    line("TypeLibraryVersion", std::to_string(r.typeLibraryMajor) + "." + std::to_string(r.typeLibraryMinor));
    line("TypeLibraryID", r.typeLibraryId.toString());
    line("Control", r.isControl ? "1" : "0");
    line("ToolboxBitmap", std::to_string(r.toolboxBitmap));
    line("DefaultIcon", r.defaultIcon);
    line("MiscStatus", hex32(r.miscStatus));
    line("ThreadingModel", r.threadingModel);
    line("Version", r.version);
    return out.str();
}

class RecordReader {
public:
    RecordReader(const fs::path& file, std::map<std::string, std::string> values)
        : file_(file), values_(std::move(values)) {}

    const std::string& text(const std::string& key) const {
        auto found = values_.find(key);
        if (found == values_.end()) throw accessError(file_, "the entry " + key + " is missing");
        return found->second;
    }
    Guid guid(const std::string& key) const {
        try {
            return Guid::parse(text(key));
        } catch (const std::invalid_argument& bad) {
            throw accessError(file_, "the entry " + key + ": " + bad.what());
        }
    }
    bool flag(const std::string& key) const {
        const std::string& value = text(key);
        if (value != "0" && value != "1") throw accessError(file_, "the entry " + key + " must be 0 or 1");
        return value == "1";
    }
    std::uint32_t number(const std::string& key) const {
        const std::string& value = text(key);
        char* end = nullptr;
        errno = 0;
        const unsigned long long parsed = std::strtoull(value.c_str(), &end, 0);
        if (value.empty() || *end != '\0' || errno != 0 || parsed > 0xFFFFFFFFull || value.front() == '-') {
            throw accessError(file_, "the entry " + key + " is not a number: \"" + value + "\"");
        }
        return static_cast<std::uint32_t>(parsed);
    }

private:
    const fs::path& file_;
    std::map<std::string, std::string> values_;
};

ClassRecord readRecord(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw accessError(file, std::strerror(errno));
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) throw accessError(file, "the line \"" + line + "\" has no '='");
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (in.bad()) throw accessError(file, "reading failed");

    const RecordReader reader(file, std::move(values));
    ClassRecord r;
    r.className = reader.text("ClassName");
    r.progId = reader.text("ProgID");
    r.clsid = reader.guid("CLSID");
    r.modulePath = reader.text("ModulePath");
    r.defaultInterfaceName = reader.text("DefaultInterface");
    r.defaultInterfaceIid = reader.guid("DefaultInterfaceIID");
    r.eventInterfaceName = reader.text("EventInterface");
    r.eventInterfaceIid = reader.guid("EventInterfaceIID");
    r.hasEvents = reader.flag("HasEvents");
    r.typeLibraryName = reader.text("TypeLibrary");
    const std::string& version = reader.text("TypeLibraryVersion");
    unsigned major = 0;
    unsigned minor = 0;
    char dot = 0;
    std::istringstream versionText(version);
    if (!(versionText >> major >> dot >> minor) || dot != '.' || !versionText.eof() || major > 0xFFFF ||
        minor > 0xFFFF) {
        throw accessError(file, "the entry TypeLibraryVersion is not major.minor: \"" + version + "\"");
    }
    r.typeLibraryMajor = static_cast<std::uint16_t>(major);
    r.typeLibraryMinor = static_cast<std::uint16_t>(minor);
    r.typeLibraryId = reader.guid("TypeLibraryID");
    r.isControl = reader.flag("Control");
    r.toolboxBitmap = reader.number("ToolboxBitmap");
    r.defaultIcon = reader.text("DefaultIcon");
    r.miscStatus = reader.number("MiscStatus");
    r.threadingModel = reader.text("ThreadingModel");
    r.version = reader.text("Version");
    return r;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return ".";
}

}  // namespace

ClassRegistry::ClassRegistry(fs::path folder) : folder_(std::move(folder)) {}

fs::path ClassRegistry::standardFolder() {
    if (const char* named = std::getenv("QUENVAR_REGISTRY"); named != nullptr && *named != '\0') return named;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
        return fs::path(data) / "quenvar" / "registry";
    }
    return fs::path(homeFolder()) / ".local" / "share" / "quenvar" / "registry";
}

ClassRegistry ClassRegistry::standard() { return ClassRegistry(standardFolder()); }

fs::path ClassRegistry::recordPath(const Guid& clsid) const {
    return folder_ / (clsid.toString() + std::string(recordExtension));
}

void ClassRegistry::registerClass(const ClassRecord& record) const {
    const fs::path target = recordPath(record.clsid);
    for (const std::string* value : {&record.className, &record.progId, &record.modulePath,
                                     &record.defaultInterfaceName, &record.eventInterfaceName,
                                     &record.typeLibraryName, &record.defaultIcon, &record.threadingModel,
                                     &record.version}) {
        if (value->find_first_of("\r\n") != std::string::npos) {
            throw accessError(target, "the value \"" + *value + "\" spans lines and cannot be recorded");
        }
    }
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) throw accessError(target, "cannot create the folder " + folder_.string() + ": " + error.message());

    // Write beside the record, then rename over it, so a reader never sees half a record.
    const fs::path temporary = target.string() + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw accessError(temporary, std::strerror(errno));
        out << formatRecord(record);
        out.flush();
        if (!out) {
            fs::remove(temporary, error);
            throw accessError(temporary, "writing failed");
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw accessError(target, "cannot replace the record: " + error.message());
    }
}

bool ClassRegistry::unregisterClass(const Guid& clsid) const {
    const fs::path target = recordPath(clsid);
    std::error_code error;
    const bool removed = fs::remove(target, error);
    if (error) throw accessError(target, "cannot remove the record: " + error.message());
    return removed;
}

std::optional<ClassRecord> ClassRegistry::findByClassId(const Guid& clsid) const {
    const fs::path target = recordPath(clsid);
    std::error_code error;
    if (!fs::exists(target, error)) return std::nullopt;
    return readRecord(target);
}

std::optional<ClassRecord> ClassRegistry::findByProgId(std::string_view progId) const {
    for (ClassRecord& record : records()) {
        if (equalsIgnoringCase(record.progId, progId)) return std::move(record);
    }
    return std::nullopt;
}

std::vector<ClassRecord> ClassRegistry::records() const {
    std::vector<fs::path> files;
    std::error_code error;
    if (!fs::is_directory(folder_, error)) return {};
    for (fs::directory_iterator entry(folder_, error), end; !error && entry != end; entry.increment(error)) {
        if (entry->path().extension() == recordExtension) files.push_back(entry->path());
    }
    if (error) throw accessError(folder_, "cannot list the folder: " + error.message());
    std::sort(files.begin(), files.end());
    std::vector<ClassRecord> result;
    for (const fs::path& file : files) result.push_back(readRecord(file));
    return result;
}

}  // namespace quenvar::automation
