// The type library carried by the built DLL, held against the interface
// binding the control and its hosts are compiled with.
#include "testing.h"
#include "vtable_offsets.h"

#include <cstring>

namespace {

struct TypeAttr {
    ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    ~TypeAttr()
    {
        if (attr)
            info->ReleaseTypeAttr(attr);
    }
};

struct FuncDesc {
    ComPtr<ITypeInfo> info;
    FUNCDESC* desc = nullptr;
    ~FuncDesc()
    {
        if (desc)
            info->ReleaseFuncDesc(desc);
    }
};

std::wstring widen(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

std::wstring controlPath()
{
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(control().module(), path, MAX_PATH);
    return path;
}

class TypeLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(LoadTypeLibEx(controlPath().c_str(), REGKIND_NONE, library.put()), S_OK);
    }

    void typeOf(REFGUID guid, TypeAttr& type)
    {
        ASSERT_EQ(library->GetTypeInfoOfGuid(guid, type.info.put()), S_OK);
        ASSERT_EQ(type.info->GetTypeAttr(&type.attr), S_OK);
    }

    void method(const wchar_t* name, FuncDesc& func)
    {
        ASSERT_EQ(library->GetTypeInfoOfGuid(IID_ISignaturePad, func.info.put()), S_OK);
        MEMBERID id;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        ASSERT_EQ(func.info->GetIDsOfNames(names, 1, &id), S_OK);
        ASSERT_EQ(func.info->GetFuncDesc(id - 0x60010000, &func.desc), S_OK);
    }

    // The alias a parameter's type refers to, with its name and the library
    // that declares it.
    void expectAlias(ITypeInfo* from, const TYPEDESC& desc, const wchar_t* name, REFGUID libraryId, TypeAttr& alias)
    {
        ASSERT_EQ(desc.vt, VT_USERDEFINED);
        ASSERT_EQ(from->GetRefTypeInfo(desc.hreftype, alias.info.put()), S_OK);
        ASSERT_EQ(alias.info->GetTypeAttr(&alias.attr), S_OK);
        EXPECT_EQ(alias.attr->typekind, TKIND_ALIAS);
        UniqueBstr aliasName;
        ASSERT_EQ(alias.info->GetDocumentation(MEMBERID_NIL, aliasName.put(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(std::wstring(aliasName.get()), name);
        ComPtr<ITypeLib> container;
        UINT index;
        ASSERT_EQ(alias.info->GetContainingTypeLib(container.put(), &index), S_OK);
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(container->GetLibAttr(&attr), S_OK);
        EXPECT_TRUE(IsEqualGUID(attr->guid, libraryId)) << std::string(name, name + wcslen(name));
        container->ReleaseTLibAttr(attr);
    }

    // Names, member IDs and virtual-table offsets, in order, against the binding.
    void expectMethods(REFGUID guid, const MethodSlot* slots, unsigned count)
    {
        TypeAttr type;
        typeOf(guid, type);
        ASSERT_EQ(type.attr->typekind, TKIND_INTERFACE);
        ASSERT_EQ(type.attr->cFuncs, count);
        for (unsigned i = 0; i < count; i++) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(type.info->GetFuncDesc(i, &func), S_OK);
            EXPECT_EQ(func->memid, static_cast<MEMBERID>(0x60010000 + i)) << slots[i].name;
            EXPECT_EQ(static_cast<unsigned long long>(func->oVft), slots[i].offset) << slots[i].name;
            EXPECT_EQ(static_cast<unsigned long long>(func->oVft), (3 + i) * sizeof(void*)) << slots[i].name;
            EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
            UniqueBstr name;
            ASSERT_EQ(type.info->GetDocumentation(func->memid, name.put(), nullptr, nullptr, nullptr), S_OK);
            EXPECT_EQ(std::wstring(name.get()), widen(slots[i].name));
            type.info->ReleaseFuncDesc(func);
        }
        expectDerivesFromIUnknown(type);
    }

    void expectDerivesFromIUnknown(TypeAttr& type)
    {
        ASSERT_EQ(type.attr->cImplTypes, 1);
        HREFTYPE base;
        ASSERT_EQ(type.info->GetRefTypeOfImplType(0, &base), S_OK);
        TypeAttr parent;
        ASSERT_EQ(type.info->GetRefTypeInfo(base, parent.info.put()), S_OK);
        ASSERT_EQ(parent.info->GetTypeAttr(&parent.attr), S_OK);
        EXPECT_TRUE(IsEqualGUID(parent.attr->guid, IID_IUnknown));
        EXPECT_EQ(type.attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE, 0);
    }

    ComPtr<ITypeLib> library;
};

} // namespace

TEST_F(TypeLibrary, AttributesNameTheLibrary)
{
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_TallowmarkSignaturePad));
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->syskind, SYS_WIN64);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attr);

    UniqueBstr name, doc, helpFile;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), doc.put(), nullptr, helpFile.put()), S_OK);
    EXPECT_EQ(std::wstring(name.get()), L"TallowmarkSignaturePad");
    EXPECT_EQ(std::wstring(doc.get()), L"Orlendale Tallowmark Signature Pad");
    EXPECT_NE(std::wstring(helpFile.get()).find(L"SignaturePad.hlp"), std::wstring::npos);
}

TEST_F(TypeLibrary, GuidFamilyDiffersOnlyInTheLastByte)
{
    const GUID* family[] = {&LIBID_TallowmarkSignaturePad, &IID_ISignaturePad, &IID_ISignaturePadEvents,
                            &CLSID_TallowmarkSignaturePad};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(memcmp(family[i], family[0], 15), 0);
        EXPECT_EQ(family[i]->Data4[7], 0x20 + i);
    }
}

TEST_F(TypeLibrary, SignaturePadMethodsMatchTheBinding)
{
    ASSERT_EQ(signaturePadSlotCount, 66u);
    expectMethods(IID_ISignaturePad, signaturePadSlots, signaturePadSlotCount);
    EXPECT_STREQ(signaturePadSlots[65].name, "ShowProperties");
    EXPECT_EQ(signaturePadSlots[65].offset, 68 * sizeof(void*));
}

TEST_F(TypeLibrary, EventMethodsMatchTheBinding)
{
    ASSERT_EQ(eventSlotCount, 5u);
    expectMethods(IID_ISignaturePadEvents, eventSlots, eventSlotCount);
}

TEST_F(TypeLibrary, OnlyLoadCarriesAHelpString)
{
    TypeAttr type;
    typeOf(IID_ISignaturePad, type);
    for (unsigned i = 0; i < type.attr->cFuncs; i++) {
        UniqueBstr name, doc;
        ASSERT_EQ(type.info->GetDocumentation(0x60010000 + i, name.put(), doc.put(), nullptr, nullptr), S_OK);
        std::wstring text = doc.get() ? doc.get() : L"";
        if (std::wstring(name.get()) == L"Load")
            EXPECT_EQ(text, L"When Load is called with the first two arguments NULL - it means to check to see "
                            L"if the device CAN be connected - not necessarily to connect and stay connected");
        else
            EXPECT_EQ(text, L"") << std::string(name.get(), name.get() + SysStringLen(name.get()));
    }
    UniqueBstr doc;
    ASSERT_EQ(type.info->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(doc.get()), L"Tallowmark Signature Pad Interface");
}

TEST_F(TypeLibrary, DisplaySignatureBitmapFileHasOptionalDefaults)
{
    TypeAttr type;
    typeOf(IID_ISignaturePad, type);
    FUNCDESC* func = nullptr;
    ASSERT_EQ(type.info->GetFuncDesc(25, &func), S_OK);
    ASSERT_EQ(func->cParams, 3);
    EXPECT_EQ(func->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FOPT, 0);
    const LONG defaults[] = {0, 1};
    for (int i = 1; i <= 2; i++) {
        const PARAMDESC& param = func->lprgelemdescParam[i].paramdesc;
        EXPECT_TRUE(param.wParamFlags & PARAMFLAG_FOPT);
        ASSERT_TRUE(param.wParamFlags & PARAMFLAG_FHASDEFAULT);
        VARIANT value;
        VariantInit(&value);
        ASSERT_EQ(VariantChangeType(&value, &param.pparamdescex->varDefaultValue, 0, VT_I4), S_OK);
        EXPECT_EQ(V_I4(&value), defaults[i - 1]);
    }
    type.info->ReleaseFuncDesc(func);
}

TEST_F(TypeLibrary, CoclassIsCreatableWithDefaultAndSourceInterfaces)
{
    TypeAttr type;
    typeOf(CLSID_TallowmarkSignaturePad, type);
    EXPECT_EQ(type.attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(type.attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    ASSERT_EQ(type.attr->cImplTypes, 2);
    UniqueBstr doc;
    ASSERT_EQ(type.info->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(std::wstring(doc.get()), L"Tallowmark Signature Pad Object");
    const GUID* expected[] = {&IID_ISignaturePad, &IID_ISignaturePadEvents};
    const int flags[] = {IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE};
    for (UINT i = 0; i < 2; i++) {
        int implFlags = 0;
        ASSERT_EQ(type.info->GetImplTypeFlags(i, &implFlags), S_OK);
        EXPECT_EQ(implFlags, flags[i]);
        HREFTYPE ref;
        ASSERT_EQ(type.info->GetRefTypeOfImplType(i, &ref), S_OK);
        TypeAttr implemented;
        ASSERT_EQ(type.info->GetRefTypeInfo(ref, implemented.info.put()), S_OK);
        ASSERT_EQ(implemented.info->GetTypeAttr(&implemented.attr), S_OK);
        EXPECT_TRUE(IsEqualGUID(implemented.attr->guid, *expected[i]));
    }
}

// Calls made on a live object at the offsets the library gives land on the
// methods of those names.
TEST_F(TypeLibrary, OffsetsReachTheNamedMethodsOfALiveObject)
{
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    TypeAttr type;
    typeOf(IID_ISignaturePad, type);

    auto call = [&](const wchar_t* method, VARTYPE resultType, VARIANT& result) {
        MEMBERID id;
        LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
        ASSERT_EQ(type.info->GetIDsOfNames(names, 1, &id), S_OK);
        FUNCDESC* func = nullptr;
        ASSERT_EQ(type.info->GetFuncDesc(id - 0x60010000, &func), S_OK);
        VariantInit(&result);
        ASSERT_EQ(DispCallFunc(pad.get(), func->oVft, CC_STDCALL, resultType, 0, nullptr, nullptr, &result), S_OK);
        type.info->ReleaseFuncDesc(func);
    };
    VARIANT result;
    call(L"HasScaling", VT_I4, result);
    EXPECT_EQ(V_I4(&result), 1);
    call(L"IsLCD", VT_I4, result);
    EXPECT_EQ(V_I4(&result), 0);
    call(L"ClearInk", VT_I4, result);
    EXPECT_EQ(static_cast<HRESULT>(V_I4(&result)), E_NOTIMPL);
    call(L"InkWeight", VT_I4, result);
    EXPECT_EQ(V_I4(&result), pad->InkWeight());
    call(L"WidthInInches", VT_R8, result);
    EXPECT_EQ(V_R8(&result), pad->WidthInInches());
    call(L"DeviceProductName", VT_I8, result);
    EXPECT_STREQ(reinterpret_cast<const char*>(V_I8(&result)), "Scriptel");
    call(L"DeviceModel", VT_I8, result);
    EXPECT_STREQ(reinterpret_cast<const char*>(V_I8(&result)), "(ST-15000)");
}

TEST_F(TypeLibrary, BitmapHandlesAreTheLibrarysUintPtr)
{
    for (const wchar_t* name : {L"DisplaySignatureBitmapHandle", L"OverlaySignatureBitmapHandle",
                                L"DisplayHotSpotHandle"}) {
        FuncDesc func;
        ASSERT_NO_FATAL_FAILURE(method(name, func));
        BSTR names[2] = {};
        UINT count = 0;
        ASSERT_EQ(func.info->GetNames(func.desc->memid, names, 2, &count), S_OK);
        UniqueBstr methodName(names[0]), parameterName(names[1]);
        ASSERT_EQ(count, 2u);
        EXPECT_EQ(std::wstring(parameterName.get()), L"hBitmap");
        TypeAttr alias;
        ASSERT_NO_FATAL_FAILURE(expectAlias(func.info.get(), func.desc->lprgelemdescParam[0].tdesc, L"UINT_PTR",
                                            LIBID_TallowmarkSignaturePad, alias));
        EXPECT_EQ(alias.attr->tdescAlias.vt, VT_UI8);
    }
}

TEST_F(TypeLibrary, BackgroundHandleIsStdoleOleHandle)
{
    FuncDesc func;
    ASSERT_NO_FATAL_FAILURE(method(L"SetBackgroundHandle", func));
    ASSERT_EQ(func.desc->cParams, 1);
    TypeAttr alias;
    ASSERT_NO_FATAL_FAILURE(
        expectAlias(func.info.get(), func.desc->lprgelemdescParam[0].tdesc, L"OLE_HANDLE", IID_StdOle, alias));
    // A 32-bit handle, as stdole2 itself declares it.
    EXPECT_EQ(alias.attr->cbSizeInstance, 4u);
    // The library keeps no OLE_HANDLE of its own.
    for (UINT i = 0; i < library->GetTypeInfoCount(); i++) {
        UniqueBstr name;
        ASSERT_EQ(library->GetDocumentation(i, name.put(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_NE(std::wstring(name.get()), L"OLE_HANDLE");
    }
}

TEST_F(TypeLibrary, RectParametersReachTheRecordAsRect)
{
    const std::pair<const wchar_t*, int> parameters[] = {{L"PrepareForPage", 0}, {L"GetRect", 0}, {L"GetHotSpot", 1}};
    for (const auto& [name, index] : parameters) {
        FuncDesc func;
        ASSERT_NO_FATAL_FAILURE(method(name, func));
        ASSERT_GT(func.desc->cParams, index);
        const TYPEDESC& pointer = func.desc->lprgelemdescParam[index].tdesc;
        ASSERT_EQ(pointer.vt, VT_PTR);
        TypeAttr alias;
        ASSERT_NO_FATAL_FAILURE(
            expectAlias(func.info.get(), *pointer.lptdesc, L"RECT", LIBID_TallowmarkSignaturePad, alias));
        ASSERT_EQ(alias.attr->tdescAlias.vt, VT_USERDEFINED);
        TypeAttr record;
        ASSERT_EQ(alias.info->GetRefTypeInfo(alias.attr->tdescAlias.hreftype, record.info.put()), S_OK);
        ASSERT_EQ(record.info->GetTypeAttr(&record.attr), S_OK);
        EXPECT_EQ(record.attr->typekind, TKIND_RECORD);
        EXPECT_EQ(record.attr->cbSizeInstance, sizeof(RECT));
        ASSERT_EQ(record.attr->cVars, 4);
        const wchar_t* fields[] = {L"left", L"top", L"right", L"bottom"};
        for (UINT i = 0; i < 4; i++) {
            VARDESC* var = nullptr;
            ASSERT_EQ(record.info->GetVarDesc(i, &var), S_OK);
            EXPECT_EQ(var->elemdescVar.tdesc.vt, VT_I4);
            EXPECT_EQ(var->oInst, i * sizeof(LONG));
            UniqueBstr field;
            EXPECT_EQ(record.info->GetDocumentation(var->memid, field.put(), nullptr, nullptr, nullptr), S_OK);
            record.info->ReleaseVarDesc(var);
            EXPECT_EQ(std::wstring(field.get()), fields[i]);
        }
    }
}
