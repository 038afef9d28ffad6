// DllCanUnloadNow and the class factory of the built DLL.

#include "OstrelZeltoDLL_h.h"
#include "win_test_util.h"

#include <gtest/gtest.h>

using namespace zelto::wintest;

TEST(Unloading, ObjectsLocksAndFactoryKeepTheDllLoaded) {
    HMODULE dll = LoadLibraryW(dllPath().c_str());
    ASSERT_TRUE(dll);
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    using GetClass = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto canUnload = exported<CanUnload>(dll, "DllCanUnloadNow");
    auto getClass = exported<GetClass>(dll, "DllGetClassObject");
    ASSERT_TRUE(canUnload && getClass);

    EXPECT_EQ(canUnload(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClass(CLSID_ZeltoDLL, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(canUnload(), S_FALSE) << "a factory reference";
    IDispatch* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)),
              S_OK);
    IUnknown* outer = object;
    void* aggregated = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(getClass(CLSID_ZeltoDLL, IID_IClassFactory, nullptr), E_POINTER);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "a live object";
    object->Release();
    EXPECT_EQ(canUnload(), S_OK);

    ASSERT_EQ(getClass(CLSID_ZeltoDLL, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE) << "a lock";
    ASSERT_EQ(getClass(CLSID_ZeltoDLL, IID_IUnknown, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClass(IID__ZeltoDLL, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    FreeLibrary(dll);
}
