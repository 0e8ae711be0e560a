// A test camera for the Windows camera path: an in-process COM server that
// registers itself as a video-input device the way a virtual camera does
// (IFilterMapper2 into the video-input category, with FriendlyName and a USB
// DevicePath), and whose filter answers IBaseFilter, IKsControl on the
// Extension Unit node, IKsTopologyInfo and, for the cameras that have it,
// the camera driver's vendor interface.
//
// Behind the filter sits the simulated camera: the station file that
// TESSELL_TEST_CAMERA_STATION names, one registered instance per video-input
// device of that file, each flash in its backing file. The system device
// enumerator, the monikers, their property bags and COM activation are the
// system's own; only the camera is ours.
//
// A camera that leaves the bus (a chip reset, an unplug) leaves the category,
// and comes back into it when it re-enumerates, as a real camera does.
//
// Test code: built only in the Windows test tree, never installed.

#include "common/text_format.h"
#include "platform/sim/sim_platform.h"
#include "platform/windows/dshow_monikers.h"
#include "platform/windows/ks_property.h"
#include "platform/windows/vendor_property.h"
#include "platform/windows/windows_text.h"

#include <cctype>
#include <cfgmgr32.h>
#include <cstdio>
#include <cstdlib>
#include <dshow.h>
#include <mutex>
#include <ocidl.h>
#include <optional>
#include <setupapi.h>
#include <string>

namespace {

using tessell::platform::DeviceEntry;
using tessell::platform::DeviceListKind;
using tessell::platform::PropertyOp;
using namespace tessell::platform::windows;

// {6E0C7A51-2D3B-4C8E-9A41-7F2B1C09D3E5}
constexpr CLSID kTestCameraClsid = {
    0x6E0C7A51, 0x2D3B, 0x4C8E, {0x9A, 0x41, 0x7F, 0x2B, 0x1C, 0x09, 0xD3, 0xE5}};
constexpr const wchar_t* kClsidText = L"{6E0C7A51-2D3B-4C8E-9A41-7F2B1C09D3E5}";
constexpr const char* kStationVariable = "TESSELL_TEST_CAMERA_STATION";
constexpr std::uint32_t kVendorPropertyId = 35;

HINSTANCE dllModule = nullptr;

HRESULT fromWin32(DWORD error) {
    return HRESULT_FROM_WIN32(error);
}

// COM on the calling thread for the filter mapper, whatever the caller set up.
class ComInit {
public:
    ComInit() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComInit() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

private:
    HRESULT result_;
};

// The instance name of the station's device `position`: the enumerator lists
// a category's instances in name order, which is then the station's order.
std::wstring instanceName(std::size_t position) {
    const std::wstring number = std::to_wstring(position);
    return L"tessell-test-camera-" + std::wstring(number.size() < 2 ? 1 : 0, L'0') + number;
}

// --- The simulated station ------------------------------------------------------

std::unique_ptr<tessell::sim::SimPlatform> openStation(bool serviceThread, std::string& error) {
    const char* station = std::getenv(kStationVariable);
    if (!station || !*station) {
        error = std::string(kStationVariable) + " names no station file";
        return nullptr;
    }
    return tessell::sim::SimPlatform::open(station, {serviceThread, serviceThread}, error);
}

// Puts the category in step with the station: every video-input device on
// the bus registered under its instance, with its current device path (it
// changes when a new image changes the camera's USB identity); every other
// device of the station taken out.
HRESULT syncCategory(tessell::sim::SimPlatform& platform) {
    ComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, mapper.putVoid());
    if (FAILED(hr))
        return hr;
    for (std::size_t i = 0; i < platform.cameraCount(); ++i) {
        const auto view = platform.camera(i).view();
        const std::wstring instance = instanceName(i);
        if (!view.onBus || view.list != DeviceListKind::VideoInput) {
            mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(),
                                     kTestCameraClsid);
            continue;
        }
        REGFILTER2 filter{};
        filter.dwVersion = 2;
        filter.dwMerit = MERIT_DO_NOT_USE;
        ComPtr<IMoniker> moniker;
        hr = mapper->RegisterFilter(kTestCameraClsid, wideText(view.friendlyName).c_str(),
                                    moniker.put(), &CLSID_VideoInputDeviceCategory,
                                    instance.c_str(), &filter);
        if (FAILED(hr))
            return hr;
        ComPtr<IPropertyBag> bag;
        hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid());
        if (FAILED(hr))
            return hr;
        VARIANT path;
        VariantInit(&path);
        path.vt = VT_BSTR;
        path.bstrVal = SysAllocString(wideText(view.devicePath).c_str());
        hr = bag->Write(L"DevicePath", &path);
        VariantClear(&path);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// The station of this process, opened on the first filter and kept to the
// end: its service thread brings cameras back after a reset and keeps the
// category in step. The module stays loaded for it. Station and subscription
// are never destroyed: at process exit the service thread is already gone,
// perhaps holding the listeners' lock, and a destructor waiting for that lock
// would keep the process from ending.
tessell::sim::SimPlatform* processStation() {
    static std::mutex mutex;
    static tessell::sim::SimPlatform* station = nullptr;
    std::lock_guard lock(mutex);
    if (station)
        return station;
    std::string error;
    auto opened = openStation(true, error);
    if (!opened) {
        std::fprintf(stderr, "tessell-test-camera: %s\n", error.c_str());
        return nullptr;
    }
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&processStation), &pinned);
    station = opened.release();
    station
        ->subscribe([](const tessell::platform::HotplugEvent&) {
            const ComInit com;
            syncCategory(*station);
        })
        .release();
    return station;
}

// --- The device tree -------------------------------------------------------------
//
// Wine's configuration manager has no device tree (CM_Locate_DevNodeW answers
// CR_FAILURE even for an instance SetupAPI has just registered, CM_Get_Parent
// CR_NO_SUCH_DEVNODE), so the tool cannot learn under
// Wine where a camera sits. The stand-in setupapi.dll next to the tool under
// test (setupapi_standin.cpp) hands its calls to these functions, which
// answer from the station: each camera on the bus is an interface node
// (its instance id), under its USB device node, under a hub node named by
// its hub text. The hub itself cannot be asked (no interface, no driver
// key), so the port comes from the address property and VID, PID and
// bcdDevice from the hardware id, as on a machine where the hub refuses.

constexpr DEVINST kNodeBase = 0x1000;
enum class NodeLevel : DEVINST { Interface = 0, Device = 1, Hub = 2 };

DEVINST nodeOf(std::size_t camera, NodeLevel level) {
    return kNodeBase + static_cast<DEVINST>(camera) * 4 + static_cast<DEVINST>(level);
}

struct TreeNode {
    tessell::sim::BusView view;
    NodeLevel level = NodeLevel::Interface;
};

std::optional<TreeNode> treeNode(DEVINST node) {
    tessell::sim::SimPlatform* station = processStation();
    if (!station || node < kNodeBase)
        return std::nullopt;
    const std::size_t camera = (node - kNodeBase) / 4;
    const auto level = static_cast<NodeLevel>((node - kNodeBase) % 4);
    if (camera >= station->cameraCount() || level > NodeLevel::Hub)
        return std::nullopt;
    auto view = station->camera(camera).view();
    if (!view.onBus || !view.usb)
        return std::nullopt;
    return TreeNode{std::move(view), level};
}

std::string nodeId(const TreeNode& node) {
    switch (node.level) {
    case NodeLevel::Interface:
        return node.view.instanceId;
    case NodeLevel::Device:
        return tessell::formatText("USB\\VID_%04X&PID_%04X\\5&%s&0&%u", node.view.identity.vid,
                                   node.view.identity.pid, node.view.hub.c_str(),
                                   static_cast<unsigned>(node.view.port));
    case NodeLevel::Hub:
        return node.view.hub;
    }
    return {};
}

bool sameText(std::string a, std::string b) {
    for (auto* text : {&a, &b})
        for (char& c : *text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return a == b;
}

// The imaging-class device lists SetupDiGetClassDevsW hands out.
struct ImagingList {
    std::vector<DEVINST> nodes;
};

// --- The filter -------------------------------------------------------------------

class TestCameraFilter final : public IBaseFilter,
                               public IPersistPropertyBag,
                               public IKsControl,
                               public IKsTopologyInfo,
                               public IVendorPropertyInterface {
public:
    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
            iid == IID_IBaseFilter)
            *object = static_cast<IBaseFilter*>(this);
        else if (iid == IID_IPersistPropertyBag)
            *object = static_cast<IPersistPropertyBag*>(this);
        else if (iid == IID_IKsControl && device_ && device_->control())
            *object = static_cast<IKsControl*>(this);
        else if (iid == kIidKsTopologyInfo && device_ && device_->topology())
            *object = static_cast<IKsTopologyInfo*>(this);
        else if (iid == kIidVendorPropertyInterface && device_ && device_->vendor())
            *object = static_cast<IVendorPropertyInterface*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IPersist
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = kTestCameraClsid;
        return S_OK;
    }

    // IMediaFilter, IBaseFilter: a filter that never streams.
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP Pause() override { return S_OK; }
    STDMETHODIMP Run(REFERENCE_TIME) override { return S_OK; }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        if (!state)
            return E_POINTER;
        *state = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        if (!clock)
            return E_POINTER;
        *clock = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins**) override { return E_NOTIMPL; }
    STDMETHODIMP FindPin(LPCWSTR, IPin**) override { return VFW_E_NOT_FOUND; }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return S_OK; }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // IPersistPropertyBag: the moniker hands over its bag when it binds;
    // the DevicePath in it names the camera.
    STDMETHODIMP InitNew() override { return S_OK; }
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog*) override {
        if (!bag)
            return E_POINTER;
        const auto path = readProperty(*bag, L"DevicePath");
        tessell::sim::SimPlatform* station = processStation();
        if (!path || !station)
            return E_FAIL;
        std::vector<DeviceEntry> entries;
        station->list(DeviceListKind::VideoInput, entries);
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].devicePath == *path) {
                device_ = station->bind(DeviceListKind::VideoInput, i, entries[i]);
                break;
            }
        return device_ ? S_OK : fromWin32(ERROR_DEVICE_NOT_CONNECTED);
    }
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

    // IKsControl: property requests on a topology node, laid out and
    // checked as the kernel-streaming property handler does.
    HRESULT STDMETHODCALLTYPE KsProperty(PKSPROPERTY property, ULONG propertyLength, PVOID data,
                                         ULONG dataLength, ULONG* bytesReturned) override {
        if (!property || !bytesReturned)
            return E_POINTER;
        *bytesReturned = 0;
        auto* control = device_ ? device_->control() : nullptr;
        if (!control)
            return fromWin32(ERROR_DEVICE_NOT_CONNECTED);
        if (propertyLength < sizeof(KSPROPERTY))
            return fromWin32(ERROR_INVALID_USER_BUFFER);
        // The Extension Unit's set lives on its node, not on the filter.
        if (!(property->Flags & KSPROPERTY_TYPE_TOPOLOGY))
            return fromWin32(ERROR_SET_NOT_FOUND);
        if (propertyLength < sizeof(KSP_NODE))
            return fromWin32(ERROR_INVALID_USER_BUFFER);
        const ULONG type = property->Flags & ~KSPROPERTY_TYPE_TOPOLOGY;
        if (type != KSPROPERTY_TYPE_GET && type != KSPROPERTY_TYPE_SET)
            return fromWin32(type == KSPROPERTY_TYPE_BASICSUPPORT ? ERROR_NOT_SUPPORTED
                                                                  : ERROR_INVALID_PARAMETER);
        if (dataLength > 0 && !data)
            return fromWin32(ERROR_NOACCESS);
        if (type == KSPROPERTY_TYPE_SET && dataLength == 0)
            return fromWin32(ERROR_INSUFFICIENT_BUFFER);
        const auto& node = *reinterpret_cast<const KSP_NODE*>(property);
        const PropertyOp op = type == KSPROPERTY_TYPE_SET ? PropertyOp::Set
                              : dataLength == 0           ? PropertyOp::Size
                                                          : PropertyOp::Get;
        std::uint32_t returned = 0;
        const auto result =
            control->request(fromWindowsGuid(property->Set), property->Id, op, node.NodeId,
                             {static_cast<std::uint8_t*>(data), dataLength}, returned);
        *bytesReturned = returned;
        return static_cast<HRESULT>(result);
    }
    HRESULT STDMETHODCALLTYPE KsMethod(PKSMETHOD, ULONG, PVOID, ULONG, ULONG*) override {
        return fromWin32(ERROR_SET_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE KsEvent(PKSEVENT, ULONG, PVOID, ULONG, ULONG*) override {
        return fromWin32(ERROR_SET_NOT_FOUND);
    }

    // IKsTopologyInfo: node count and types; the rest is not asked for.
    STDMETHODIMP get_NumCategories(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Category(DWORD, GUID*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NumConnections(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ConnectionInfo(DWORD, KSTOPOLOGY_CONNECTION*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP get_NumNodes(DWORD* count) override {
        if (!count)
            return E_POINTER;
        std::uint32_t nodes = 0;
        const auto result = device_->topology()->nodeCount(nodes);
        *count = nodes;
        return static_cast<HRESULT>(result);
    }
    STDMETHODIMP get_NodeType(DWORD node, GUID* type) override {
        if (!type)
            return E_POINTER;
        tessell::Guid answer;
        const auto result = device_->topology()->nodeType(node, answer);
        if (result == tessell::status::kOk)
            *type = toWindowsGuid(answer);
        return static_cast<HRESULT>(result);
    }
    STDMETHODIMP CreateNodeInstance(DWORD, REFIID, void**) override { return E_NOTIMPL; }

    // The driver's vendor interface: Set takes a command word (selector,
    // class request, length) with a write's data after it; Get answers the
    // last command into the caller's buffer, which holds the longest answer.
    STDMETHODIMP Unused() override { return E_NOTIMPL; }
    STDMETHODIMP Set(ULONG propertyId, void* buffer) override {
        if (!buffer)
            return E_POINTER;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        const std::uint32_t word = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                   std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
        const std::size_t length = word & 0xFFFF;
        const auto request = static_cast<std::uint8_t>(word >> 16);
        if (length > tessell::platform::kXuMaxTransfer)
            return fromWin32(ERROR_INVALID_PARAMETER);
        std::lock_guard lock(vendorMutex_);
        answerLength_ = request == tessell::platform::kUvcGetCur   ? length
                        : request == tessell::platform::kUvcGetLen ? 2
                                                                   : 0;
        const std::size_t carried = request == tessell::platform::kUvcSetCur ? 4 + length : 4;
        return static_cast<HRESULT>(device_->vendor()->set(propertyId, {bytes, carried}));
    }
    STDMETHODIMP Get(ULONG propertyId, void* buffer) override {
        if (!buffer)
            return E_POINTER;
        if (propertyId != kVendorPropertyId)
            return fromWin32(ERROR_INVALID_PARAMETER);
        std::lock_guard lock(vendorMutex_);
        return static_cast<HRESULT>(device_->vendor()->get(
            propertyId, {static_cast<std::uint8_t*>(buffer), answerLength_}));
    }

private:
    ~TestCameraFilter() = default;

    LONG references_ = 1;
    std::unique_ptr<tessell::platform::CaptureDevice> device_;
    std::mutex vendorMutex_;
    std::size_t answerLength_ = 0;
};

class ClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* filter = new TestCameraFilter();
        const HRESULT hr = filter->QueryInterface(iid, object);
        filter->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

ClassFactory factory;

// --- Registration -----------------------------------------------------------------

LSTATUS setValue(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT registerClass() {
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(dllModule, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return fromWin32(GetLastError());
    const std::wstring server = std::wstring(L"CLSID\\") + kClsidText + L"\\InprocServer32";
    HKEY key = nullptr;
    LSTATUS error = RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                    nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS)
        return fromWin32(static_cast<DWORD>(error));
    error = setValue(key, nullptr, module);
    if (error == ERROR_SUCCESS)
        error = setValue(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    return error == ERROR_SUCCESS ? S_OK : fromWin32(static_cast<DWORD>(error));
}

// Takes every instance of this filter out of the category.
void unregisterInstances() {
    ComPtr<IFilterMapper2> mapper;
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, mapper.putVoid())))
        return;
    for (std::size_t i = 0; i < 100; ++i)
        mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instanceName(i).c_str(),
                                 kTestCameraClsid);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        dllModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != kTestCameraClsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

// The simulated station lives as long as the process.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_FALSE;
}

// Registers the class and one instance per video-input device of the station
// TESSELL_TEST_CAMERA_STATION names, replacing what an earlier station left.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
    const ComInit com;
    std::string error;
    const auto station = openStation(false, error);
    if (!station) {
        std::fprintf(stderr, "tessell-test-camera: %s\n", error.c_str());
        return E_FAIL;
    }
    HRESULT hr = registerClass();
    if (FAILED(hr))
        return hr;
    unregisterInstances();
    return syncCategory(*station);
}

// The configuration-manager and setup calls of the stand-in setupapi.dll.
extern "C" __declspec(dllexport) CONFIGRET
    TestCameraLocateDevNode(DEVINST* node, const WCHAR* id, ULONG) {
    if (!node || !id)
        return CR_INVALID_POINTER;
    *node = 0;
    tessell::sim::SimPlatform* station = processStation();
    for (std::size_t i = 0; station && i < station->cameraCount(); ++i)
        for (const auto level : {NodeLevel::Interface, NodeLevel::Device})
            if (const auto found = treeNode(nodeOf(i, level));
                found && sameText(nodeId(*found), utf8Text(id))) {
                *node = nodeOf(i, level);
                return CR_SUCCESS;
            }
    return CR_NO_SUCH_DEVNODE;
}

extern "C" __declspec(dllexport) CONFIGRET
    TestCameraGetParent(DEVINST* parent, DEVINST node, ULONG) {
    if (!parent)
        return CR_INVALID_POINTER;
    *parent = 0;
    const auto found = treeNode(node);
    if (!found || found->level == NodeLevel::Hub)
        return CR_NO_SUCH_DEVNODE;
    *parent = node + 1;
    return CR_SUCCESS;
}

extern "C" __declspec(dllexport) CONFIGRET
    TestCameraGetDeviceId(DEVINST node, WCHAR* buffer, ULONG length, ULONG) {
    if (!buffer)
        return CR_INVALID_POINTER;
    const auto found = treeNode(node);
    if (!found)
        return CR_NO_SUCH_DEVNODE;
    const std::wstring id = wideText(nodeId(*found));
    if (id.size() + 1 > length)
        return CR_BUFFER_SMALL;
    std::copy(id.c_str(), id.c_str() + id.size() + 1, buffer);
    return CR_SUCCESS;
}

extern "C" __declspec(dllexport) CONFIGRET
    TestCameraGetRegistryProperty(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                  ULONG* length, ULONG) {
    if (!length)
        return CR_INVALID_POINTER;
    const auto found = treeNode(node);
    if (!found)
        return CR_NO_SUCH_DEVNODE;
    std::vector<BYTE> value;
    ULONG valueType = REG_SZ;
    if (property == CM_DRP_HARDWAREID && found->level == NodeLevel::Device) {
        std::wstring ids = wideText(found->view.hardwareId);
        ids.push_back(L'\0');
        ids.push_back(L'\0');
        const auto* bytes = reinterpret_cast<const BYTE*>(ids.data());
        value.assign(bytes, bytes + ids.size() * sizeof(wchar_t));
        valueType = REG_MULTI_SZ;
    } else if (property == CM_DRP_ADDRESS && found->level == NodeLevel::Device) {
        const DWORD port = found->view.port;
        const auto* bytes = reinterpret_cast<const BYTE*>(&port);
        value.assign(bytes, bytes + sizeof port);
        valueType = REG_DWORD;
    } else {
        return CR_NO_SUCH_VALUE; // no driver key: the hub is never asked
    }
    if (type)
        *type = valueType;
    const ULONG room = *length;
    *length = static_cast<ULONG>(value.size());
    if (!buffer || room < value.size())
        return CR_BUFFER_SMALL;
    std::copy(value.begin(), value.end(), static_cast<BYTE*>(buffer));
    return CR_SUCCESS;
}

extern "C" __declspec(dllexport) CONFIGRET
    TestCameraInterfaceListSize(ULONG* length, GUID*, WCHAR*, ULONG) {
    if (length)
        *length = 0;
    return CR_NO_SUCH_DEVICE_INTERFACE;
}

extern "C" __declspec(dllexport) CONFIGRET
    TestCameraInterfaceList(GUID*, WCHAR*, WCHAR*, ULONG, ULONG) {
    return CR_NO_SUCH_DEVICE_INTERFACE;
}

// The imaging class lists the cameras on the bus in station order; the
// camera class of newer systems lists none, so that none is listed twice.
extern "C" __declspec(dllexport) HDEVINFO
    TestCameraGetClassDevs(const GUID* setupClass, const WCHAR*, HWND, DWORD) {
    static constexpr GUID kImagingClass = {
        0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
    auto* list = new ImagingList();
    tessell::sim::SimPlatform* station = processStation();
    if (setupClass && *setupClass == kImagingClass)
        for (std::size_t i = 0; station && i < station->cameraCount(); ++i)
            if (treeNode(nodeOf(i, NodeLevel::Interface)))
                list->nodes.push_back(nodeOf(i, NodeLevel::Interface));
    return list;
}

extern "C" __declspec(dllexport) BOOL
    TestCameraEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) {
    const auto* list = static_cast<const ImagingList*>(set);
    if (!list || !data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= list->nodes.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->DevInst = list->nodes[index];
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL TestCameraDestroyDeviceInfoList(HDEVINFO set) {
    delete static_cast<ImagingList*>(set);
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
    const ComInit com;
    unregisterInstances();
    const std::wstring key = std::wstring(L"CLSID\\") + kClsidText;
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return S_OK;
}
