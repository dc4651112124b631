// The control's automation surface as COM hosts see it, judged against the member table it is
// built from: names, ids and types through GetIDsOfNames and the type library, fields, the
// send queue as a collection, the event interface and what its connection point lists, and
// failures as EXCEPINFO.

#include "control/QuenvarSurface.h"
#include "tests/windows/control/ControlHost.h"

namespace quenvar::testing {
namespace {

using automation::InvokeKind;
using automation::VarType;

using AutomationSurface = WithNewControl<>;

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

long countOf(IDispatch* collection) {
    const CallResult count = get(collection, 2);
    return V_VT(&count.value.v) == VT_I4 ? V_I4(&count.value.v) : -1;
}

TEST_F(AutomationSurface, EveryMemberIsFoundByItsNameInAnyCase) {
    for (const automation::MemberInfo& member : control::quenvarInterface().members) {
        std::wstring upper = wide(member.name);
        std::wstring lower = upper;
        CharUpperW(upper.data());
        CharLowerW(lower.data());
        for (std::wstring* name : {&upper, &lower}) {
            LPOLESTR names[] = {name->data()};
            DISPID id = 0;
            ASSERT_EQ(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << member.name;
            EXPECT_EQ(id, member.id) << member.name;
        }
    }
    std::wstring unknown = L"gethouse";
    LPOLESTR names[] = {unknown.data()};
    DISPID id = 0;
    EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
}

// A parameter's or result's type as the type library records it, pointers unwrapped.
VARTYPE baseType(ITypeInfo* info, const TYPEDESC& type) {
    if (type.vt == VT_PTR) return baseType(info, *type.lptdesc);
    if (type.vt != VT_USERDEFINED) return type.vt;
    ITypeInfo* referenced = nullptr;
    if (FAILED(info->GetRefTypeInfo(type.hreftype, &referenced))) return VT_EMPTY;
    BSTR name = nullptr;
    referenced->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    const VARTYPE result = wideText(name) == L"IDispatch" ? VT_DISPATCH : VT_USERDEFINED;
    SysFreeString(name);
    referenced->Release();
    return result;
}

VARTYPE comType(VarType type) {
    switch (type) {
        case VarType::Int16: return VT_I2;
        case VarType::Int32: return VT_I4;
        case VarType::Bool: return VT_BOOL;
        case VarType::Text: return VT_BSTR;
        case VarType::Object: return VT_DISPATCH;
        case VarType::Empty: return VT_VARIANT;
    }
    return VT_EMPTY;
}

INVOKEKIND comKind(InvokeKind kind) {
    switch (kind) {
        case InvokeKind::Method: return INVOKE_FUNC;
        case InvokeKind::PropertyGet: return INVOKE_PROPERTYGET;
        case InvokeKind::PropertyPut: return INVOKE_PROPERTYPUT;
        case InvokeKind::PropertyPutRef: return INVOKE_PROPERTYPUTREF;
    }
    return INVOKE_FUNC;
}

TEST_F(AutomationSurface, TheEmbeddedTypeLibraryDescribesExactlyTheMemberTable) {
    ITypeInfo* dispatchInfo = nullptr;
    ASSERT_HRESULT_SUCCEEDED(control_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatchInfo));
    // The dual interface's own functions, without those of IDispatch.
    HREFTYPE interfaceRef = 0;
    ITypeInfo* info = nullptr;
    ASSERT_HRESULT_SUCCEEDED(dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &interfaceRef));
    ASSERT_HRESULT_SUCCEEDED(dispatchInfo->GetRefTypeInfo(interfaceRef, &info));
    dispatchInfo->Release();

    TYPEATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attributes));
    EXPECT_EQ(attributes->guid, automation::windows::iidOf(control::identifiers::quenvarInterface));
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FHIDDEN);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
    const std::vector<automation::FunctionEntry> entries = control::quenvarInterface().entries();
    EXPECT_EQ(entries.size(), 24u) << "seven fields (a read and a write each) and ten methods";
    ASSERT_EQ(attributes->cFuncs, entries.size());
    info->ReleaseTypeAttr(attributes);

    for (UINT i = 0; i < entries.size(); ++i) {
        const automation::FunctionEntry& entry = entries[i];
        SCOPED_TRACE(entry.name);
        FUNCDESC* function = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &function));
        EXPECT_EQ(function->memid, entry.id);
        EXPECT_EQ(function->invkind, comKind(entry.kind));
        BSTR name = nullptr;
        UINT count = 0;
        info->GetNames(function->memid, &name, 1, &count);
        EXPECT_EQ(wideText(name), wide(entry.name));
        SysFreeString(name);
        // A read returns its value through one [out, retval] parameter.
        const bool isGet = entry.kind == InvokeKind::PropertyGet;
        ASSERT_EQ(static_cast<std::size_t>(function->cParams), entry.params.size() + (isGet ? 1 : 0));
        for (std::size_t p = 0; p < entry.params.size(); ++p) {
            const ELEMDESC& param = function->lprgelemdescParam[p];
            EXPECT_EQ(baseType(info, param.tdesc), comType(entry.params[p].type)) << entry.params[p].name;
            // Methods take every parameter by reference; a property's new value comes by value.
            EXPECT_EQ(param.tdesc.vt == VT_PTR, entry.kind == InvokeKind::Method) << entry.params[p].name;
        }
        if (isGet) {
            const ELEMDESC& result = function->lprgelemdescParam[0];
            EXPECT_TRUE(result.paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
            EXPECT_EQ(baseType(info, result.tdesc), comType(entry.resultType));
        }
        info->ReleaseFuncDesc(function);
    }
    info->Release();
}

TEST_F(AutomationSurface, TheClassNamesItsEventInterfaceWithX10readyAsId1) {
    IProvideClassInfo2* provider = nullptr;
    ASSERT_HRESULT_SUCCEEDED(control_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&provider)));
    GUID events{};
    ASSERT_HRESULT_SUCCEEDED(provider->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events));
    EXPECT_EQ(events, automation::windows::iidOf(control::identifiers::quenvarEvents));
    ITypeInfo* classInfo = nullptr;
    ASSERT_HRESULT_SUCCEEDED(provider->GetClassInfo(&classInfo));
    provider->Release();
    TYPEATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(classInfo->GetTypeAttr(&attributes));
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCONTROL);
    const UINT implemented = attributes->cImplTypes;
    classInfo->ReleaseTypeAttr(attributes);
    bool sawSource = false;
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        classInfo->GetImplTypeFlags(i, &flags);
        if (!(flags & IMPLTYPEFLAG_FSOURCE)) continue;
        HREFTYPE reference = 0;
        ITypeInfo* source = nullptr;
        ASSERT_HRESULT_SUCCEEDED(classInfo->GetRefTypeOfImplType(i, &reference));
        ASSERT_HRESULT_SUCCEEDED(classInfo->GetRefTypeInfo(reference, &source));
        FUNCDESC* function = nullptr;
        ASSERT_HRESULT_SUCCEEDED(source->GetFuncDesc(0, &function));
        EXPECT_EQ(function->memid, control::event::x10ready);
        source->ReleaseFuncDesc(function);
        source->Release();
        sawSource = true;
    }
    EXPECT_TRUE(sawSource);
    classInfo->Release();
}

// Each entry's pUnk, released, as COM identities, with its cookie; `enumeration` moves on.
using Connections = std::vector<std::pair<IUnknown*, DWORD>>;

Connections nextConnections(IEnumConnections* enumeration, ULONG wanted, HRESULT expected) {
    std::vector<CONNECTDATA> data(wanted);
    ULONG fetched = 0;
    EXPECT_EQ(enumeration->Next(wanted, data.data(), &fetched), expected);
    Connections listed;
    for (ULONG i = 0; i < fetched; ++i) {
        IUnknown* identity = nullptr;
        data[i].pUnk->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        identity->Release();
        data[i].pUnk->Release();
        listed.emplace_back(identity, data[i].dwCookie);
    }
    return listed;
}

TEST_F(AutomationSurface, TheEventPointIsListedAndListsTheAdvisedSinksWithTheirCookiesAsTheyWereWhenAsked) {
    IConnectionPointContainer* container = nullptr;
    ASSERT_HRESULT_SUCCEEDED(
        control_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IEnumConnectionPoints* points = nullptr;
    ASSERT_HRESULT_SUCCEEDED(container->EnumConnectionPoints(&points));
    container->Release();
    IConnectionPoint* listedPoints[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listedPoints, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    points->Release();
    IConnectionPoint* events = listedPoints[0];
    IID eventsIid{};
    ASSERT_HRESULT_SUCCEEDED(events->GetConnectionInterface(&eventsIid));
    EXPECT_EQ(eventsIid, automation::windows::iidOf(control::identifiers::quenvarEvents));

    EventSink first, second;
    DWORD firstCookie = 0, secondCookie = 0;
    ASSERT_HRESULT_SUCCEEDED(events->Advise(&first, &firstCookie));
    ASSERT_HRESULT_SUCCEEDED(events->Advise(&second, &secondCookie));
    const std::pair<IUnknown*, DWORD> firstEntry{static_cast<IDispatch*>(&first), firstCookie};
    const std::pair<IUnknown*, DWORD> secondEntry{static_cast<IDispatch*>(&second), secondCookie};
    IEnumConnections* before = nullptr;
    ASSERT_HRESULT_SUCCEEDED(events->EnumConnections(&before));
    EXPECT_EQ(nextConnections(before, 3, S_FALSE), (std::vector{firstEntry, secondEntry}));
    EXPECT_EQ(nextConnections(before, 1, S_FALSE), Connections{});

    // Unadvising changes later lists only; the earlier one still holds the sink it lists.
    ASSERT_HRESULT_SUCCEEDED(events->Unadvise(firstCookie));
    EXPECT_GT(first.references, 0);
    IEnumConnections* after = nullptr;
    ASSERT_HRESULT_SUCCEEDED(events->EnumConnections(&after));
    EXPECT_EQ(nextConnections(after, 2, S_FALSE), (std::vector{secondEntry}));
    after->Release();
    ASSERT_HRESULT_SUCCEEDED(before->Reset());
    EXPECT_EQ(before->Skip(1), S_OK);
    IEnumConnections* clone = nullptr;
    ASSERT_HRESULT_SUCCEEDED(before->Clone(&clone));
    EXPECT_EQ(before->Skip(2), S_FALSE);
    before->Release();
    EXPECT_EQ(nextConnections(clone, 1, S_OK), (std::vector{secondEntry}));
    clone->Release();
    EXPECT_EQ(first.references, 0) << "the last list let go of the unadvised sink";

    ASSERT_HRESULT_SUCCEEDED(events->Unadvise(secondCookie));
    events->Release();
    EXPECT_EQ(second.references, 0);
}

TEST_F(AutomationSurface, FieldsStoreWhatIsWrittenInTheirOwnType) {
    struct Case {
        DISPID id;
        Value written;
        VARTYPE readType;
        Value read;
    };
    Value trueFlag;
    V_VT(&trueFlag.v) = VT_BOOL;
    V_BOOL(&trueFlag.v) = VARIANT_TRUE;
    const Case cases[] = {
        {control::member::comstatus, Value::int16(99), VT_I2, Value::int16(99)},
        {control::member::countmacro, Value::text(L"-7"), VT_I2, Value::int16(-7)},
        {control::member::powerfailreply, Value::text(L"1"), VT_I2, Value::int16(1)},
        {control::member::powerfailreply, Value::int32(0), VT_I2, Value::int16(0)},
        // A nonzero number stored in the Boolean field reads back as true (-1).
        {control::member::sendstatus, Value::int32(5), VT_BOOL, trueFlag},
        {control::member::strtotal, Value::int16(12), VT_BSTR, Value::text(L"12")},
        // Characters of the single-byte code page above 0x7F cross unchanged.
        {control::member::checksum, Value::text(L"\u00FB\u00A5"), VT_BSTR, Value::text(L"\u00FB\u00A5")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(put(control_, c.id, c.written).status, S_OK);
        CallResult read = get(control_, c.id);
        ASSERT_EQ(read.status, S_OK);
        ASSERT_EQ(V_VT(&read.value.v), c.readType);
        EXPECT_EQ(VarCmp(&read.value.v, const_cast<VARIANT*>(&c.read.v), LOCALE_USER_DEFAULT, 0),
                  static_cast<HRESULT>(VARCMP_EQ));
    }
}

TEST_F(AutomationSurface, APowerFailReplyThatIsNoSettingIsError380AndChangesNothing) {
    ASSERT_EQ(put(control_, control::member::powerfailreply, Value::int16(1)).status, S_OK);
    for (const Value& written : {Value::int16(2), Value::int32(-1), Value::text(L"7")}) {
        const CallResult refused = put(control_, control::member::powerfailreply, written);
        EXPECT_EQ(refused.status, DISP_E_EXCEPTION);
        EXPECT_EQ(refused.scode, static_cast<HRESULT>(0x800A017C));  // 380
        EXPECT_EQ(refused.description, L"Invalid property value");
        const CallResult kept = get(control_, control::member::powerfailreply);
        ASSERT_EQ(V_VT(&kept.value.v), VT_I2);
        EXPECT_EQ(V_I2(&kept.value.v), 1);
    }
}

TEST_F(AutomationSurface, TheSendQueueIsACollectionThatCanBeSetByReference) {
    CallResult queue = get(control_, control::member::colstring);
    ASSERT_EQ(V_VT(&queue.value.v), VT_DISPATCH);
    IDispatch* collection = V_DISPATCH(&queue.value.v);
    ASSERT_EQ(call(collection, 1, {Value::text(L"\x06")}).status, S_OK);  // Add
    ASSERT_EQ(call(collection, 1, {Value::text(L"b")}).status, S_OK);
    EXPECT_EQ(countOf(collection), 2);                                       // Count
    EXPECT_EQ(call(collection, 0, {Value::int32(2)}).value.asText(), L"b");  // Item
    CallResult outside = call(collection, 0, {Value::int32(3)});
    EXPECT_EQ(outside.status, DISP_E_EXCEPTION);
    EXPECT_EQ(outside.scode, static_cast<HRESULT>(0x800A0009));      // subscript out of range
    ASSERT_EQ(call(collection, 3, {Value::int32(1)}).status, S_OK);  // Remove
    EXPECT_EQ(call(collection, 0, {Value::int32(1)}).value.asText(), L"b");

    // Another control takes this queue by reference and sees its contents.
    IDispatch* other = createControl();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(invoke(other, control::member::colstring, DISPATCH_PROPERTYPUTREF, {queue.value.v}).status, S_OK);
    CallResult shared = get(other, control::member::colstring);
    EXPECT_EQ(countOf(V_DISPATCH(&shared.value.v)), 1);
    // The null reference empties the field: the next read makes a fresh, empty queue.
    VARIANT nothing;
    V_VT(&nothing) = VT_DISPATCH;
    V_DISPATCH(&nothing) = nullptr;
    ASSERT_EQ(invoke(other, control::member::colstring, DISPATCH_PROPERTYPUTREF, {nothing}).status, S_OK);
    const CallResult fresh = get(other, control::member::colstring);
    EXPECT_EQ(countOf(V_DISPATCH(&fresh.value.v)), 0);
    // Anything but an object is refused.
    CallResult number = invoke(other, control::member::colstring, DISPATCH_PROPERTYPUTREF, {Value::int16(1).v});
    EXPECT_EQ(number.scode, static_cast<HRESULT>(0x800A000D));
    other->Release();
}

TEST_F(AutomationSurface, IdsOfPrivateProceduresAndWrongArgumentCountsAreRefused) {
    for (DISPID id : {0, 0x60030002, 0x60030003, 0x6003000B}) {
        EXPECT_EQ(call(control_, id).status, DISP_E_MEMBERNOTFOUND) << std::hex << id;
    }
    EXPECT_EQ(call(control_, control::member::x10on, {Value::text(L"A")}).status, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(put(control_, control::member::x10on, Value::text(L"A")).status, DISP_E_MEMBERNOTFOUND);
}

}  // namespace
}  // namespace quenvar::testing
