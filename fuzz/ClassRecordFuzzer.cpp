// The class registry's record parser with any text: it either gives a record or raises
// Path/File access error (75) naming the record's source; nothing else leaves it. A record it
// gives is registered into a folder of the run's own, read back through the registry and parsed
// again from the file written: all three compare equal.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/automation/RuntimeError.h"

namespace {

namespace fs = std::filesystem;
using quenvar::automation::ClassRecord;
using quenvar::automation::ClassRegistry;
using quenvar::automation::RuntimeError;
using quenvar::fuzz::require;

const fs::path source = "/fuzz/input/record.class";

// A registry folder of this process's own, removed when the run ends.
struct TemporaryRegistry {
    fs::path folder;
    TemporaryRegistry() {
        std::string pattern = (fs::temp_directory_path() / "quenvar-fuzz-registry-XXXXXX").string();
        require(mkdtemp(pattern.data()) != nullptr, "a temporary registry folder can be made", pattern);
        folder = pattern;
    }
    ~TemporaryRegistry() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

std::string readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TemporaryRegistry registryFolder;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    ClassRecord record;
    try {
        record = quenvar::automation::parseClassRecord(text, source);
    } catch (const RuntimeError& error) {
        require(error.number() == quenvar::automation::error_number::PathFileAccessError,
                "a malformed record raises Path/File access error (75)",
                std::to_string(error.number()) + ": " + error.description());
        require(error.description().find(source.string()) != std::string::npos, "the error names the record's source",
                error.description());
        return 0;
    } catch (const std::exception& failure) {
        quenvar::fuzz::fail("only run-time errors leave the record parser", failure.what());
    }

    const ClassRegistry registry(registryFolder.folder);
    try {
        registry.registerClass(record);
        const auto reread = registry.findByClassId(record.clsid);
        require(reread.has_value(), "a registered record is found by its class id", record.clsid.toString());
        require(*reread == record, "a parsed record survives registering and reading back", record.clsid.toString());
        const fs::path written = registry.recordPath(record.clsid);
        require(quenvar::automation::parseClassRecord(readWhole(written), written) == record,
                "the written record parses to the same record", written.string());
        registry.unregisterClass(record.clsid);
    } catch (const RuntimeError& error) {
        quenvar::fuzz::fail("a parsed record can be registered and read back", error.description());
    } catch (const std::exception& failure) {
        quenvar::fuzz::fail("only run-time errors leave the registry", failure.what());
    }
    return 0;
}
