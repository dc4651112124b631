#include "platform/automation/ClassRegistry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view recordExtension = ".class";
constexpr std::size_t maxRecordBytes = 64 * 1024;

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

// The value of decimal digits, or of 0x and hexadecimal digits; nothing for anything else or
// for a value beyond 32 bits.
std::optional<std::uint32_t> unsignedNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, fault] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || fault != std::errc() || stop != end || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> decimalNumber(std::string_view text) {
    if (text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    return unsignedNumber(text);
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
    // Decimal digits, or 0x and hexadecimal digits, as the registry writes them: no sign, no
    // spaces, and no octal reading of a leading zero.
    std::uint32_t number(const std::string& key) const {
        const std::string& value = text(key);
        const auto parsed = unsignedNumber(value);
        if (!parsed) throw accessError(file_, "the entry " + key + " is not a number: \"" + value + "\"");
        return *parsed;
    }

private:
    const fs::path& file_;
    std::map<std::string, std::string> values_;
};

// Control characters other than tab would let one value pose as several lines or hide text.
bool hasControlCharacter(std::string_view value) {
    return std::any_of(value.begin(), value.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return (code < 0x20 && c != '\t') || code == 0x7F;
    });
}

// A record file is trusted to name the module that gets loaded, so it must be a regular file
// that nobody but its owner (the user or root) can change, in a folder where nobody else can
// put another file in its place. The same holds in the user's folder and the system-wide one.
void checkRecordFileIsTrusted(const fs::path& file, int descriptor) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0) throw accessError(file, std::strerror(errno));
    if (!S_ISREG(status.st_mode)) throw accessError(file, "it is not a regular file");
    if ((status.st_mode & S_IWOTH) != 0) {
        throw accessError(file,
                          "every user may change it, so it is not trusted. Remove that permission "
                          "(chmod o-w) or register the class again");
    }
    if (status.st_uid != geteuid() && status.st_uid != 0) {
        throw accessError(file, "it belongs to user " + std::to_string(status.st_uid) +
                                    ", not to you or root, so it is not trusted. Register the class again");
    }
    struct stat folder {};
    if (stat(file.parent_path().c_str(), &folder) == 0 && (folder.st_mode & S_IWOTH) != 0 &&
        (folder.st_mode & S_ISVTX) == 0) {
        throw accessError(file, "it lies in the folder " + file.parent_path().string() +
                                    ", where every user may replace it, so it is not trusted. Remove that "
                                    "permission (chmod o-w " +
                                    file.parent_path().string() + ")");
    }
}

ClassRecord readRecord(const fs::path& file) {
    const int descriptor = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) throw accessError(file, std::strerror(errno));
    struct DescriptorCloser {
        int descriptor;
        ~DescriptorCloser() { close(descriptor); }
    } closer{descriptor};
    checkRecordFileIsTrusted(file, descriptor);

    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw accessError(file, std::string("reading failed: ") + std::strerror(errno));
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > maxRecordBytes) break;  // parseClassRecord names the fault
    }
    return parseClassRecord(text, file);
}

fs::path recordFileIn(const fs::path& folder, const Guid& clsid) {
    return folder / (clsid.toString() + std::string(recordExtension));
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
    return ".";
}

}  // namespace

ClassRecord parseClassRecord(std::string_view text, const fs::path& source) {
    if (text.size() > maxRecordBytes) {
        throw accessError(
            source, "it is larger than " + std::to_string(maxRecordBytes) + " bytes; a class record is a few hundred");
    }
    std::map<std::string, std::string> values;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.empty()) continue;
        const auto equals = line.find('=');
        const std::string shown(line.substr(0, 80));
        if (equals == std::string_view::npos) throw accessError(source, "the line \"" + shown + "\" has no '='");
        if (hasControlCharacter(line)) {
            throw accessError(source, "the line \"" + shown + "\" holds a control character");
        }
        std::string key(line.substr(0, equals));
        if (values.count(key) != 0) throw accessError(source, "the entry " + key + " appears more than once");
        values.emplace(std::move(key), line.substr(equals + 1));
    }

    const RecordReader reader(source, std::move(values));
    ClassRecord r;
    r.className = reader.text("ClassName");
    r.progId = reader.text("ProgID");
    if (r.progId.empty()) throw accessError(source, "the entry ProgID is empty");
    r.clsid = reader.guid("CLSID");
    r.modulePath = reader.text("ModulePath");
    if (!fs::path(r.modulePath).is_absolute()) {
        throw accessError(source, "the entry ModulePath is not an absolute path: \"" + r.modulePath + "\"");
    }
    r.defaultInterfaceName = reader.text("DefaultInterface");
    r.defaultInterfaceIid = reader.guid("DefaultInterfaceIID");
    r.eventInterfaceName = reader.text("EventInterface");
    r.eventInterfaceIid = reader.guid("EventInterfaceIID");
    r.hasEvents = reader.flag("HasEvents");
    r.typeLibraryName = reader.text("TypeLibrary");
    const std::string& version = reader.text("TypeLibraryVersion");
    const std::string_view versionText(version);
    const auto dot = versionText.find('.');
    const auto major = decimalNumber(versionText.substr(0, dot));
    const auto minor = dot == std::string_view::npos ? std::nullopt : decimalNumber(versionText.substr(dot + 1));
    if (!major || !minor || *major > 0xFFFF || *minor > 0xFFFF) {
        throw accessError(source, "the entry TypeLibraryVersion is not major.minor: \"" + version + "\"");
    }
    r.typeLibraryMajor = static_cast<std::uint16_t>(*major);
    r.typeLibraryMinor = static_cast<std::uint16_t>(*minor);
    r.typeLibraryId = reader.guid("TypeLibraryID");
    r.isControl = reader.flag("Control");
    r.toolboxBitmap = reader.number("ToolboxBitmap");
    r.defaultIcon = reader.text("DefaultIcon");
    r.miscStatus = reader.number("MiscStatus");
    r.threadingModel = reader.text("ThreadingModel");
    r.version = reader.text("Version");
    return r;
}

ClassRegistry::ClassRegistry(fs::path folder) : folders_{std::move(folder)} {}

ClassRegistry::ClassRegistry(fs::path folder, fs::path systemFolder) : folders_{std::move(folder)} {
    // Spelled with a trailing separator each, so that "a/" and "a" compare equal.
    if ((folders_.front() / "").lexically_normal() != (systemFolder / "").lexically_normal()) {
        folders_.push_back(std::move(systemFolder));
    }
}

fs::path ClassRegistry::standardFolder() {
    if (const char* named = std::getenv("QUENVAR_REGISTRY"); named != nullptr && *named != '\0') return named;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/') {
        return fs::path(data) / "quenvar" / "registry";
    }
    return fs::path(homeFolder()) / ".local" / "share" / "quenvar" / "registry";
}

fs::path ClassRegistry::systemFolder() {
    if (const char* named = std::getenv("QUENVAR_SYSTEM_REGISTRY"); named != nullptr && *named != '\0') return named;
    return QUENVAR_SYSTEM_REGISTRY_FOLDER;
}

ClassRegistry ClassRegistry::standard() { return ClassRegistry(standardFolder(), systemFolder()); }

fs::path ClassRegistry::recordPath(const Guid& clsid) const {
    for (const fs::path& folder : folders_) {
        std::error_code error;
        if (fs::exists(recordFileIn(folder, clsid), error)) return recordFileIn(folder, clsid);
    }
    return recordFileIn(folder(), clsid);
}

void ClassRegistry::registerClass(const ClassRecord& record) const {
    const fs::path& writtenFolder = folder();
    const fs::path target = recordFileIn(writtenFolder, record.clsid);
    if (!fs::path(record.modulePath).is_absolute()) {
        throw accessError(target, "the module path \"" + record.modulePath + "\" is not absolute");
    }
    for (const std::string* value : {&record.className, &record.progId, &record.modulePath,
                                     &record.defaultInterfaceName, &record.eventInterfaceName, &record.typeLibraryName,
                                     &record.defaultIcon, &record.threadingModel, &record.version}) {
        if (value->find_first_of("\r\n") != std::string::npos) {
            throw accessError(target, "the value \"" + *value + "\" spans lines and cannot be recorded");
        }
    }
    // Folder and record are written so that nobody but their owner may change them, whatever the
    // umask: lookups refuse them otherwise.
    constexpr auto folderPermissions = static_cast<fs::perms>(0755);
    constexpr auto recordPermissions = static_cast<fs::perms>(0644);
    std::error_code error;
    if (fs::create_directories(writtenFolder, error) && !error)
        fs::permissions(writtenFolder, folderPermissions, error);
    if (error) {
        throw accessError(target, "cannot create the folder " + writtenFolder.string() + ": " + error.message());
    }

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
    fs::permissions(temporary, recordPermissions, error);
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw accessError(target, "cannot replace the record: " + error.message());
    }
}

bool ClassRegistry::unregisterClass(const Guid& clsid) const {
    const fs::path target = recordFileIn(folder(), clsid);
    std::error_code error;
    const bool removed = fs::remove(target, error);
    if (error) throw accessError(target, "cannot remove the record: " + error.message());
    return removed;
}

std::optional<ClassRecord> ClassRegistry::findByClassId(const Guid& clsid) const {
    for (const fs::path& folder : folders_) {
        const fs::path target = recordFileIn(folder, clsid);
        std::error_code error;
        if (!fs::exists(target, error)) continue;
        ClassRecord record = readRecord(target);
        if (record.clsid != clsid) {
            throw accessError(target,
                              "it records the class " + record.clsid.toString() + ", not the one its name says");
        }
        return record;
    }
    return std::nullopt;
}

std::optional<ClassRecord> ClassRegistry::findByProgId(std::string_view progId) const {
    // One damaged record must not hide the others: it only matters when the class asked for is
    // not found elsewhere (it may be the damaged one), and then it is named.
    std::optional<RuntimeError> firstFault;
    for (const fs::path& file : recordFiles()) {
        try {
            ClassRecord record = readRecord(file);
            if (equalsIgnoringCase(record.progId, progId)) return record;
        } catch (const RuntimeError& fault) {
            if (!firstFault) firstFault = fault;
        }
    }
    if (firstFault) throw *firstFault;
    return std::nullopt;
}

std::vector<ClassRecord> ClassRegistry::records() const {
    // Keyed by the record's file name, which is its class id: an earlier folder's record of a
    // class hides a later one's.
    std::map<fs::path, ClassRecord> byClass;
    for (const fs::path& file : recordFiles()) {
        if (byClass.count(file.filename()) == 0) byClass.emplace(file.filename(), readRecord(file));
    }
    std::vector<ClassRecord> result;
    for (auto& [name, record] : byClass) result.push_back(std::move(record));
    return result;
}

std::vector<fs::path> ClassRegistry::recordFiles() const {
    std::vector<fs::path> files;
    for (const fs::path& folder : folders_) {
        std::vector<fs::path> inFolder;
        std::error_code error;
        if (!fs::is_directory(folder, error)) continue;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
            if (entry->path().extension() == recordExtension) inFolder.push_back(entry->path());
        }
        if (error) throw accessError(folder, "cannot list the folder: " + error.message());
        std::sort(inFolder.begin(), inFolder.end());
        files.insert(files.end(), inFolder.begin(), inFolder.end());
    }
    return files;
}

}  // namespace quenvar::automation
