#include "platform/automation/TypeLibraryText.h"

#include <cstdio>
#include <sstream>

namespace quenvar::automation {

namespace {

const char* typeName(VarType type) {
    switch (type) {
        case VarType::Empty: return "VARIANT";
        case VarType::Int16: return "short";
        case VarType::Int32: return "long";
        case VarType::Bool: return "VARIANT_BOOL";
        case VarType::Text: return "BSTR";
        case VarType::Object: return "IDispatch*";
    }
    return "VARIANT";
}

std::string hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The identifier as the interface definition language writes it: no braces.
std::string uuid(const Guid& id) {
    const std::string braced = id.toString();
    return "uuid(" + braced.substr(1, braced.size() - 2) + ")";
}

std::string attributes(const InterfaceInfo& info) {
    std::string text = uuid(info.iid);
    if (info.flags.hidden) text += ", hidden";
    if (info.flags.dual) text += ", dual";
    // The language has no way to mark a dispatch-only interface as not extensible.
    if (info.flags.nonExtensible && !info.flags.dispatchOnly) text += ", nonextensible";
    if (info.flags.automationCompatible) text += ", oleautomation";
    return text;
}

void writeEntry(std::ostringstream& out, const FunctionEntry& entry, bool dispatchOnly) {
    out << "        [id(" << hex(static_cast<std::uint32_t>(entry.id), 8) << ")";
    switch (entry.kind) {
        case InvokeKind::PropertyGet: out << ", propget"; break;
        case InvokeKind::PropertyPut: out << ", propput"; break;
        case InvokeKind::PropertyPutRef: out << ", propputref"; break;
        case InvokeKind::Method: break;
    }
    out << "] " << (dispatchOnly ? "void " : "HRESULT ") << entry.name << "(";
    bool first = true;
    // Method parameters are by reference; a property's new value comes in by value.
    const bool byReference = entry.kind == InvokeKind::Method;
    for (const ParamInfo& param : entry.params) {
        out << (first ? "" : ", ") << (byReference ? "[in, out] " : "[in] ") << typeName(param.type)
            << (byReference ? "* " : " ") << param.name;
        first = false;
    }
    if (entry.kind == InvokeKind::PropertyGet) {
        out << "[out, retval] " << typeName(entry.resultType) << "* value";
    }
    out << ");\n";
}

}  // namespace

std::string typeLibraryText(const TypeLibrary& library) {
    const TypeLibraryInfo& lib = library.library;
    std::ostringstream out;
    out << "import \"oaidl.idl\";\n\n[\n    " << uuid(lib.libid) << ",\n    version(" << lib.majorVersion << "."
        << lib.minorVersion << "),\n    lcid(" << hex(lib.lcid, 4) << "),\n    helpstring(\"" << lib.helpText << "\")"
        << (lib.holdsControls ? ",\n    control" : "") << "\n]\nlibrary " << lib.name << "\n{\n"
        << "    importlib(\"stdole2.tlb\");\n";

    for (const InterfaceInfo* info : library.interfaces) {
        out << "\n    [" << attributes(*info) << "]\n";
        if (info->flags.dispatchOnly) {
            out << "    dispinterface " << info->name << "\n    {\n    properties:\n    methods:\n";
        } else {
            out << "    interface " << info->name << " : IDispatch\n    {\n";
        }
        for (const FunctionEntry& entry : info->entries()) {
            writeEntry(out, entry, info->flags.dispatchOnly);
        }
        out << "    };\n";
    }

    for (const ClassInfo& cls : library.classes) {
        out << "\n    [" << uuid(cls.clsid) << (cls.isControl ? ", control" : "")
            << (cls.creatable ? "" : ", noncreatable") << "]\n    coclass " << cls.name << "\n    {\n";
        if (cls.defaultInterface) out << "        [default] interface " << cls.defaultInterface->name << ";\n";
        if (cls.defaultSource) out << "        [default, source] dispinterface " << cls.defaultSource->name << ";\n";
        out << "    };\n";
    }
    out << "};\n";
    return out.str();
}

}  // namespace quenvar::automation
