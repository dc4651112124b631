// Registration as regsvr32 did it before this program ran, then unregistration and
// registration again through the module's own entry points: every key a host looks for is
// there, then gone, then back. And what the module carries beside its code for those who read it
// without running it.

#include <cstdint>
#include <cstring>
#include <optional>

#include "tests/windows/control/ControlHost.h"

namespace quenvar::testing {
namespace {

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The value of `name` under HKEY_CLASSES_ROOT\`path`, or nothing when the key is missing.
std::optional<std::wstring> classesValue(const std::wstring& path, const wchar_t* name = L"") {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    wchar_t data[1024] = L"";
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(data) : std::wstring(L"(key only)");
}

struct ExpectedKey {
    std::wstring path;
    const wchar_t* name;
    std::wstring value;
};

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(modulePath.c_str());
        ASSERT_NE(module_, nullptr) << "cannot load " << std::string(modulePath.begin(), modulePath.end());
    }
    void TearDown() override { FreeLibrary(module_); }

    HRESULT entryPoint(const char* name) {
        auto* function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module_, name));
        return function != nullptr ? function() : E_NOTIMPL;
    }

    static std::vector<ExpectedKey> expectedKeys() {
        const std::wstring clsid = wide(control::identifiers::quenvarClass.toString());
        const std::wstring libid = wide(control::identifiers::library.toString());
        const std::wstring classKey = L"CLSID\\" + clsid;
        return {
            {L"Zelvo.quenvar", L"", L"quenvar"},
            {L"Zelvo.quenvar\\CLSID", L"", clsid},
            {classKey, L"", L"quenvar"},
            {classKey + L"\\InprocServer32", L"", modulePath},
            {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
            {classKey + L"\\ProgID", L"", L"Zelvo.quenvar"},
            {classKey + L"\\Control", L"", L"(key only)"},
            {classKey + L"\\MiscStatus", L"", L"0"},
            {classKey + L"\\MiscStatus\\1", L"", L"131473"},  // 0x20191
            {classKey + L"\\ToolboxBitmap32", L"", modulePath + L", 30000"},
            {classKey + L"\\TypeLib", L"", libid},
            {classKey + L"\\Version", L"", L"1.0"},
            // The library's locale, 0x409, names the key of its file.
            {L"TypeLib\\" + libid + L"\\1.0\\409\\" + (sizeof(void*) == 8 ? L"win64" : L"win32"), L"", modulePath},
        };
    }

    static void expectAllPresent() {
        for (const ExpectedKey& key : expectedKeys()) {
            const std::optional<std::wstring> value = classesValue(key.path, key.name);
            ASSERT_TRUE(value.has_value()) << "missing key " << std::string(key.path.begin(), key.path.end());
            EXPECT_EQ(CompareStringOrdinal(value->c_str(), -1, key.value.c_str(), -1, TRUE), CSTR_EQUAL)
                << std::string(key.path.begin(), key.path.end()) << " holds "
                << std::string(value->begin(), value->end());
        }
    }

    static const std::wstring modulePath;
    HMODULE module_ = nullptr;
};

const std::wstring Registration::modulePath = wide(QUENVAR_OCX_WINDOWS_PATH);

TEST_F(Registration, Regsvr32RecordedEverythingUnregisterRemovesItAndRegisterWritesItAgain) {
    expectAllPresent();

    ASSERT_EQ(entryPoint("DllUnregisterServer"), S_OK);
    for (const ExpectedKey& key : expectedKeys()) {
        EXPECT_FALSE(classesValue(key.path).has_value()) << std::string(key.path.begin(), key.path.end()) << " is left";
    }
    CLSID clsid;
    EXPECT_HRESULT_FAILED(CLSIDFromProgID(L"Zelvo.quenvar", &clsid));

    ASSERT_EQ(entryPoint("DllRegisterServer"), S_OK);
    expectAllPresent();
}

TEST_F(Registration, TheModuleMayUnloadOnlyWhenNoControlLives) {
    IDispatch* control = createControl();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(entryPoint("DllCanUnloadNow"), S_FALSE);
    control->Release();
    EXPECT_EQ(entryPoint("DllCanUnloadNow"), S_OK);
}

TEST_F(Registration, ALockedFactoryKeepsTheModule) {
    IClassFactory* factory = nullptr;
    ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(automation::windows::iidOf(control::identifiers::quenvarClass),
                                              CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                              reinterpret_cast<void**>(&factory)));
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(TRUE));
    EXPECT_EQ(entryPoint("DllCanUnloadNow"), S_FALSE);
    ASSERT_HRESULT_SUCCEEDED(factory->LockServer(FALSE));
    EXPECT_EQ(entryPoint("DllCanUnloadNow"), S_OK);
    IUnknown* aggregated = nullptr;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                      reinterpret_cast<void**>(&aggregated)),
              CLASS_E_NOAGGREGATION);
    factory->Release();
}

TEST_F(Registration, TheModuleCarriesTheIdentifiersOfBothInterfacesAsLengthAndBytes) {
    const struct {
        const wchar_t* name;
        automation::Guid identifier;
    } records[] = {
        {L"_quenvar", control::identifiers::quenvarInterface},
        {L"__quenvar", control::identifiers::quenvarEvents},
    };
    for (const auto& record : records) {
        HRSRC found = FindResourceW(module_, record.name, L"IID");
        ASSERT_NE(found, nullptr) << "no resource IID " << std::string(record.name, record.name + wcslen(record.name));
        ASSERT_EQ(SizeofResource(module_, found), 4u + 16u);
        const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module_, found)));
        ASSERT_NE(bytes, nullptr);
        std::uint32_t length = 0;
        std::memcpy(&length, bytes, sizeof length);
        EXPECT_EQ(length, 16u);
        // The same record as the Linux module's: the identifier's bytes in the order it is written.
        EXPECT_EQ(std::memcmp(bytes + 4, record.identifier.bytes.data(), 16), 0) << record.identifier.toString();
    }
}

}  // namespace
}  // namespace quenvar::testing
