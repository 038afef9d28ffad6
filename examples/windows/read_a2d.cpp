// Reads analog input 0 of the board from C++ through OstrelZeltoDLL, late-bound: the object is
// created by its programmatic identifier and its members are found by name (GetIDsOfNames) and
// called through IDispatch::Invoke. Run register.cmd first.
//
// Build with mingw-w64 (x86_64-w64-mingw32-g++ for a 64-bit program, which uses x64\, or
// i686-w64-mingw32-g++ for a 32-bit one, which uses x86\):
//   x86_64-w64-mingw32-g++ -O2 -static -o read_a2d.exe read_a2d.cpp -lole32 -loleaut32 -luuid
// or in a Visual C++ command prompt:
//   cl /EHsc read_a2d.cpp ole32.lib oleaut32.lib
// Run: read_a2d.exe [PORT]   (the COM port number, 1 by default)

#include <windows.h> // with ole2.h and oleauto.h

#include <cstdio>
#include <cstdlib>

namespace {

struct Result {
    HRESULT status;
    VARIANT value;
};

// Calls a member by name with up to one argument; a property put passes its new value as the
// named argument DISPID_PROPERTYPUT. A failure's status comes from the error info when the object
// raised an automation error.
Result call(IDispatch* board, const wchar_t* name, WORD flags, VARIANT* arg, EXCEPINFO& error) {
    Result r{};
    VariantInit(&r.value);
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    r.status = board->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(r.status))
        return r;
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params = {arg, isPut ? &put : nullptr, arg ? 1u : 0u, isPut ? 1u : 0u};
    r.status = board->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                             isPut ? nullptr : &r.value, &error, nullptr);
    if (r.status == DISP_E_EXCEPTION)
        r.status = error.scode;
    return r;
}

// Automation errors are 0x800A0000 + their number.
bool failed(const char* what, const Result& r, const EXCEPINFO& error) {
    if (SUCCEEDED(r.status))
        return false;
    std::printf("%s failed: error %ld (0x%08lX)", what, static_cast<long>(r.status & 0xFFFF),
                static_cast<unsigned long>(r.status));
    if (error.bstrDescription)
        std::printf(": %ls", error.bstrDescription);
    std::printf("\n");
    return true;
}

int run(IDispatch* board, short port) {
    EXCEPINFO error = {};
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I2;
    arg.iVal = port;
    if (failed("CommPort", call(board, L"CommPort", DISPATCH_PROPERTYPUT, &arg, error), error))
        return 1;
    arg.vt = VT_BOOL;
    arg.boolVal = VARIANT_TRUE;
    if (failed("opening the port", call(board, L"portopen", DISPATCH_PROPERTYPUT, &arg, error),
               error))
        return 1;
    arg.vt = VT_I4;
    arg.lVal = 0;
    Result reading = call(board, L"a2d", DISPATCH_METHOD, &arg, error);
    if (failed("a2d(0)", reading, error))
        return 1;
    VariantChangeType(&reading.value, &reading.value, 0, VT_I4);
    std::printf("a2d(0) = %ld\n", static_cast<long>(reading.value.lVal));
    arg.vt = VT_BOOL;
    arg.boolVal = VARIANT_FALSE;
    if (failed("closing the port", call(board, L"portopen", DISPATCH_PROPERTYPUT, &arg, error),
               error))
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const short port = static_cast<short>(argc > 1 ? std::atoi(argv[1]) : 1);
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    CLSID clsid;
    IDispatch* board = nullptr;
    HRESULT hr = CLSIDFromProgID(L"OstrelZeltoDLL.ZeltoDLL", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&board));
    int status = 1;
    if (FAILED(hr))
        std::printf("creating OstrelZeltoDLL.ZeltoDLL failed (0x%08lX): is it registered?\n",
                    static_cast<unsigned long>(hr));
    else {
        status = run(board, port);
        board->Release();
    }
    CoUninitialize();
    return status;
}
