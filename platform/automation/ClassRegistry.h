#pragma once
// The class registry: one record per registered class, kept as a small text file
// ("key=value" lines) in a folder. Classes are looked up in the user's own folder (the one
// named by QUENVAR_REGISTRY, else $XDG_DATA_HOME/quenvar/registry, else
// ~/.local/share/quenvar/registry), then in the system-wide folder, where an installed control
// is registered for every user (QUENVAR_SYSTEM_REGISTRY, else the folder chosen when the
// runtime was built, /var/lib/quenvar/registry). Registration writes to the first folder only.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/Guid.h"

namespace quenvar::automation {

namespace error_number {
inline constexpr std::int32_t PathFileAccessError = 75;
}

// Everything registration records about one class.
struct ClassRecord {
    std::string className;
    std::string progId;
    Guid clsid;
    std::string modulePath;  // absolute
    std::string defaultInterfaceName;
    Guid defaultInterfaceIid;
    std::string eventInterfaceName;  // empty when the class has no events
    Guid eventInterfaceIid;
    bool hasEvents = false;
    std::string typeLibraryName;
    std::uint16_t typeLibraryMajor = 1;
    std::uint16_t typeLibraryMinor = 0;
    Guid typeLibraryId;
    bool isControl = false;
    std::uint32_t toolboxBitmap = 0;  // resource number; 0: none
    std::string defaultIcon;          // empty: none
    std::uint32_t miscStatus = 0;
    std::string threadingModel = "Apartment";
    std::string version = "1.0";

    friend bool operator==(const ClassRecord&, const ClassRecord&) = default;
};

// Reads one record from its text; `source` names it in errors. Text that is not a whole,
// well-formed record (a missing, repeated or ill-typed entry, a control character, a module
// path that is not absolute, more than 64 KiB) raises RuntimeError PathFileAccessError naming
// `source` and the fault.
ClassRecord parseClassRecord(std::string_view text, const std::filesystem::path& source);

class ClassRegistry {
public:
    explicit ClassRegistry(std::filesystem::path folder);
    // Reads `folder`, then `systemFolder` (the same folder once); writes `folder`.
    ClassRegistry(std::filesystem::path folder, std::filesystem::path systemFolder);
    // The user's folder, then the system-wide one, as the environment names them (see the top
    // of this file).
    static ClassRegistry standard();
    static std::filesystem::path standardFolder();
    static std::filesystem::path systemFolder();

    // Where registration writes.
    const std::filesystem::path& folder() const { return folders_.front(); }
    // Where lookups read, in order; a class found in an earlier folder hides it in later ones.
    const std::vector<std::filesystem::path>& folders() const { return folders_; }

    // Writes (or replaces) the class's record, creating the folder when needed. The record is
    // written whole or not at all. Failure raises RuntimeError PathFileAccessError (75) naming
    // the file and the reason.
    void registerClass(const ClassRecord& record) const;
    // Removes the class's record; false when there was none.
    bool unregisterClass(const Guid& clsid) const;

    // ProgIDs compare without regard to case. A record file that cannot be read, is malformed,
    // could be changed by another user or lies in a folder every user may change raises
    // RuntimeError PathFileAccessError naming the file and the fault; findByProgId raises it
    // only when no sound record in any folder has the ProgID.
    std::optional<ClassRecord> findByProgId(std::string_view progId) const;
    std::optional<ClassRecord> findByClassId(const Guid& clsid) const;
    std::vector<ClassRecord> records() const;  // ordered by class id, each class once

    // The file of the class's record: the one lookups read, else the one registration writes.
    std::filesystem::path recordPath(const Guid& clsid) const;

private:
    std::vector<std::filesystem::path> recordFiles() const;  // by folder, then ordered by name

    std::vector<std::filesystem::path> folders_;
};

}  // namespace quenvar::automation
