// The built file: its type library against the member table, and its resources.

#include "OstrelZeltoDLL_h.h"
#include "member_table.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using namespace zelto;
using namespace zelto::wintest;
using com::ComPtr;

namespace {

ComPtr<ITypeLib> loadLibrary() {
    ComPtr<ITypeLib> lib;
    EXPECT_HRESULT_SUCCEEDED(LoadTypeLibEx(dllPath().c_str(), REGKIND_NONE, lib.put()));
    return lib;
}

// Indexed by the enumerations, in their order.
VARTYPE vtOf(ValueType t) {
    const VARTYPE types[] = {VT_EMPTY, VT_I2, VT_I4, VT_BOOL, VT_VARIANT};
    return types[static_cast<int>(t)];
}
INVOKEKIND invkindOf(MemberKind k) {
    const INVOKEKIND kinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT};
    return kinds[static_cast<int>(k)];
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The type library

TEST(TypeLibrary, LibraryAndClassIdentity) {
    auto lib = loadLibrary();
    ASSERT_TRUE(lib);
    TLIBATTR* la = nullptr;
    ASSERT_HRESULT_SUCCEEDED(lib->GetLibAttr(&la));
    EXPECT_EQ(la->guid, LIBID_OstrelZeltoDLL);
    EXPECT_EQ(la->wMajorVerNum, 5);
    EXPECT_EQ(la->wMinorVerNum, 0);
    EXPECT_EQ(la->lcid, 0u);
#ifdef _WIN64
    EXPECT_EQ(la->syskind, SYS_WIN64);
#else
    EXPECT_EQ(la->syskind, SYS_WIN32);
#endif
    lib->ReleaseTLibAttr(la);

    com::Bstr name;
    ASSERT_HRESULT_SUCCEEDED(lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr));
    EXPECT_EQ(narrow(name.get()), "OstrelZeltoDLL");
    // Exactly the class and its interface (a dual interface counts once).
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);

    ComPtr<ITypeInfo> cls;
    ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(CLSID_ZeltoDLL, cls.put()));
    TYPEATTR* ca = nullptr;
    ASSERT_HRESULT_SUCCEEDED(cls->GetTypeAttr(&ca));
    EXPECT_EQ(ca->typekind, TKIND_COCLASS);
    EXPECT_TRUE(ca->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(ca->cImplTypes, 1) << "one default interface and no event interface";
    cls->ReleaseTypeAttr(ca);
    INT implFlags = 0;
    ASSERT_HRESULT_SUCCEEDED(cls->GetImplTypeFlags(0, &implFlags));
    EXPECT_EQ(implFlags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE), IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_HRESULT_SUCCEEDED(cls->GetRefTypeOfImplType(0, &ref));
    ComPtr<ITypeInfo> iface;
    ASSERT_HRESULT_SUCCEEDED(cls->GetRefTypeInfo(ref, iface.put()));
    TYPEATTR* ia = nullptr;
    ASSERT_HRESULT_SUCCEEDED(iface->GetTypeAttr(&ia));
    EXPECT_EQ(ia->guid, IID__ZeltoDLL);
    iface->ReleaseTypeAttr(ia);
    ASSERT_HRESULT_SUCCEEDED(
        cls->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    EXPECT_EQ(narrow(name.get()), "ZeltoDLL");
}

TEST(TypeLibrary, InterfaceMatchesMemberTable) {
    auto lib = loadLibrary();
    ASSERT_TRUE(lib);
    ComPtr<ITypeInfo> disp;
    ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(IID__ZeltoDLL, disp.put()));
    TYPEATTR* da = nullptr;
    ASSERT_HRESULT_SUCCEEDED(disp->GetTypeAttr(&da));
    const WORD wanted =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(da->wTypeFlags & wanted, wanted);
    EXPECT_EQ(da->typekind, TKIND_DISPATCH);
    disp->ReleaseTypeAttr(da);

    // The table of methods: the interface half of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_HRESULT_SUCCEEDED(disp->GetRefTypeOfImplType(-1, &ref));
    ComPtr<ITypeInfo> vt;
    ASSERT_HRESULT_SUCCEEDED(disp->GetRefTypeInfo(ref, vt.put()));
    TYPEATTR* va = nullptr;
    ASSERT_HRESULT_SUCCEEDED(vt->GetTypeAttr(&va));
    EXPECT_EQ(va->typekind, TKIND_INTERFACE);
    const WORD vtWanted =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(va->wTypeFlags & vtWanted, vtWanted);
    const auto& table = memberTable();
    ASSERT_EQ(va->cFuncs, table.size());
    vt->ReleaseTypeAttr(va);

    for (size_t i = 0; i < table.size(); ++i) {
        const Member& m = table[i];
        SCOPED_TRACE(std::string(m.name) + " #" + std::to_string(i));
        FUNCDESC* fd = nullptr;
        ASSERT_HRESULT_SUCCEEDED(vt->GetFuncDesc(static_cast<UINT>(i), &fd));
        EXPECT_EQ(fd->memid, m.dispid);
        EXPECT_EQ(fd->invkind, invkindOf(m.kind));
        // After the seven entries of IUnknown and IDispatch, in table order.
        EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
        const bool hasResult = m.result != ValueType::None;
        ASSERT_EQ(fd->cParams, static_cast<SHORT>(m.params.size() + (hasResult ? 1 : 0)));

        for (size_t p = 0; p < m.params.size(); ++p) {
            const Param& param = m.params[p];
            SCOPED_TRACE(param.name);
            const ELEMDESC& ed = fd->lprgelemdescParam[p];
            if (param.byRef) {
                ASSERT_EQ(ed.tdesc.vt, VT_PTR);
                EXPECT_EQ(ed.tdesc.lptdesc->vt, vtOf(param.type));
                EXPECT_EQ(ed.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT),
                          PARAMFLAG_FIN | PARAMFLAG_FOUT);
            } else {
                EXPECT_EQ(ed.tdesc.vt, vtOf(param.type));
                EXPECT_EQ(ed.paramdesc.wParamFlags & PARAMFLAG_FOUT, 0);
            }
        }
        if (hasResult) {
            const ELEMDESC& ed = fd->lprgelemdescParam[fd->cParams - 1];
            ASSERT_EQ(ed.tdesc.vt, VT_PTR);
            EXPECT_EQ(ed.tdesc.lptdesc->vt, vtOf(m.result));
            EXPECT_TRUE(ed.paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
        }
        vt->ReleaseFuncDesc(fd);
    }

    // Names by identifier: the member's name, then the parameter names of the first function with
    // that identifier (the getter of a property, which comes first in the table).
    std::map<int32_t, const Member*> first;
    for (const Member& m : table)
        first.emplace(m.dispid, &m);
    for (const auto& [dispid, m] : first) {
        SCOPED_TRACE(m->name);
        BSTR names[8] = {};
        UINT got = 0;
        ASSERT_HRESULT_SUCCEEDED(vt->GetNames(dispid, names, 8, &got));
        std::vector<std::string> seen;
        for (UINT k = 0; k < got; ++k) {
            seen.push_back(narrow(names[k]));
            SysFreeString(names[k]);
        }
        ASSERT_GE(seen.size(), 1 + m->params.size());
        EXPECT_EQ(seen[0], m->name);
        for (size_t p = 0; p < m->params.size(); ++p)
            EXPECT_EQ(seen[1 + p], m->params[p].name);
    }
}

// ---------------------------------------------------------------------------------------------
// Resources of the built file

namespace {

struct LoadedAsData {
    HMODULE module = LoadLibraryExW(dllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ~LoadedAsData() {
        if (module)
            FreeLibrary(module);
    }
    std::string bytes(const wchar_t* type, WORD language) const {
        HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(1), language);
        if (!found)
            return {};
        HGLOBAL data = LoadResource(module, found);
        const auto* p = static_cast<const char*>(LockResource(data));
        return std::string(p, SizeofResource(module, found));
    }
};

std::string versionString(const std::vector<char>& block, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length))
        return "<missing>";
    return std::string(static_cast<const char*>(value));
}

} // namespace

TEST(Resources, TypeLibraryAndInterfaceIdentifier) {
    LoadedAsData dll;
    ASSERT_TRUE(dll.module);
    const std::string tlb = dll.bytes(L"TYPELIB", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_GE(tlb.size(), 4u);
    EXPECT_EQ(tlb.substr(0, 4), "MSFT");

    const std::string iid = dll.bytes(L"_IID_ZeltoDLL", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_EQ(iid.size(), 20u);
    const char length[4] = {16, 0, 0, 0};
    EXPECT_EQ(iid.substr(0, 4), std::string(length, 4));
    EXPECT_EQ(std::memcmp(iid.data() + 4, &IID__ZeltoDLL, 16), 0);
}

TEST(Resources, VersionBlock) {
    const std::string path = narrow(dllPath().c_str());
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    const std::map<std::string, std::string> strings = {
        {"FileVersion", "1.00"},
        {"ProductVersion", "1.00"},
        {"FileDescription", "Zelto ActiveX DLL"},
        {"ProductName", "OstrelZeltoDLL"},
        {"InternalName", "OstrelZeltoDLL"},
        {"OriginalFilename", "OstrelZeltoDLL.dll"},
        {"CompanyName", "Ostrel"},
        {"OLESelfRegister", ""},
    };
    for (const auto& [name, value] : strings)
        EXPECT_EQ(versionString(block, name.c_str()), value) << name;
}
