// A stand-in setupapi.dll for the tool under test, next to a copy of it: the
// configuration-manager and setup calls the tool makes, handed to the test
// camera (tessell-test-camera.dll in the same folder), which answers them
// from its station. Wine has no device tree to answer them (see
// test_camera.cpp); everything else the tool does goes to Wine itself.
//
// Loaded only where the test asks for it (WINEDLLOVERRIDES=setupapi=n).
// Test code, never installed.

#include <windows.h>

namespace {

// The test camera's module, loaded from this module's folder on first use.
FARPROC cameraFunction(const char* name) {
    static HMODULE camera = [] {
        wchar_t path[MAX_PATH];
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&cameraFunction), &self);
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return HMODULE{};
        wchar_t* slash = wcsrchr(path, L'\\');
        if (!slash || (slash - path) + 25 >= MAX_PATH)
            return HMODULE{};
        wcscpy(slash + 1, L"tessell-test-camera.dll");
        return LoadLibraryW(path);
    }();
    return camera ? GetProcAddress(camera, name) : nullptr;
}

template <typename Function> Function* camera(const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(cameraFunction(name)));
}

constexpr DWORD kFailure = 0x13; // CR_FAILURE

} // namespace

extern "C" {

__declspec(dllexport) DWORD CM_Locate_DevNodeW(DWORD* node, const WCHAR* id, ULONG flags) {
    auto* f = camera<DWORD(DWORD*, const WCHAR*, ULONG)>("TestCameraLocateDevNode");
    return f ? f(node, id, flags) : kFailure;
}

__declspec(dllexport) DWORD CM_Get_Parent(DWORD* parent, DWORD node, ULONG flags) {
    auto* f = camera<DWORD(DWORD*, DWORD, ULONG)>("TestCameraGetParent");
    return f ? f(parent, node, flags) : kFailure;
}

__declspec(dllexport) DWORD
    CM_Get_Device_IDW(DWORD node, WCHAR* buffer, ULONG length, ULONG flags) {
    auto* f = camera<DWORD(DWORD, WCHAR*, ULONG, ULONG)>("TestCameraGetDeviceId");
    return f ? f(node, buffer, length, flags) : kFailure;
}

__declspec(dllexport) DWORD
    CM_Get_DevNode_Registry_PropertyW(DWORD node, ULONG property, ULONG* type, void* buffer,
                                      ULONG* length, ULONG flags) {
    auto* f =
        camera<DWORD(DWORD, ULONG, ULONG*, void*, ULONG*, ULONG)>("TestCameraGetRegistryProperty");
    return f ? f(node, property, type, buffer, length, flags) : kFailure;
}

__declspec(dllexport) DWORD CM_Get_Device_Interface_List_SizeW(ULONG* length, GUID* interfaceClass,
                                                               WCHAR* id, ULONG flags) {
    auto* f = camera<DWORD(ULONG*, GUID*, WCHAR*, ULONG)>("TestCameraInterfaceListSize");
    return f ? f(length, interfaceClass, id, flags) : kFailure;
}

__declspec(dllexport) DWORD
    CM_Get_Device_Interface_ListW(GUID* interfaceClass, WCHAR* id, WCHAR* buffer, ULONG length,
                                  ULONG flags) {
    auto* f = camera<DWORD(GUID*, WCHAR*, WCHAR*, ULONG, ULONG)>("TestCameraInterfaceList");
    return f ? f(interfaceClass, id, buffer, length, flags) : kFailure;
}

__declspec(dllexport) void* SetupDiGetClassDevsW(const GUID* setupClass, const WCHAR* enumerator,
                                                 HWND parent, DWORD flags) {
    auto* f = camera<void*(const GUID*, const WCHAR*, HWND, DWORD)>("TestCameraGetClassDevs");
    return f ? f(setupClass, enumerator, parent, flags) : INVALID_HANDLE_VALUE;
}

__declspec(dllexport) BOOL SetupDiEnumDeviceInfo(void* set, DWORD index, void* data) {
    auto* f = camera<BOOL(void*, DWORD, void*)>("TestCameraEnumDeviceInfo");
    return f ? f(set, index, data) : FALSE;
}

__declspec(dllexport) BOOL SetupDiDestroyDeviceInfoList(void* set) {
    auto* f = camera<BOOL(void*)>("TestCameraDestroyDeviceInfoList");
    return f ? f(set) : FALSE;
}

} // extern "C"
