// Creating, loading, switching and releasing the control.
#include "pad_host.h"

#include <cwchar>

#include "text.h"

namespace {

// A version-independent ProgID may lead to its class only through the
// CurVer key, which names the current versioned ProgID.
HRESULT classOfProgId(const wchar_t* progId, CLSID& clsid)
{
    HRESULT result = CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(result))
        return result;
    std::wstring key = std::wstring(progId) + L"\\CurVer";
    wchar_t current[256] = L"";
    DWORD size = sizeof current;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, current, &size) != ERROR_SUCCESS)
        return result;
    return CLSIDFromProgID(current, &clsid);
}

// A pad module carries a type library whose creatable class is the control.
HRESULT creatableClassOf(const std::wstring& modulePath, CLSID& clsid)
{
    ComPtr<ITypeLib> library;
    HRESULT result = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library.put());
    if (FAILED(result))
        return result;
    UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS)
            continue;
        ComPtr<ITypeInfo> info;
        TYPEATTR* attributes = nullptr;
        if (FAILED(library->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attributes)))
            continue;
        bool creatable = (attributes->wTypeFlags & TYPEFLAG_FCANCREATE) != 0;
        clsid = attributes->guid;
        info->ReleaseTypeAttr(attributes);
        if (creatable)
            return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

// Makes a control straight from a pad module's class factory. The module
// stays loaded for the rest of the process: pad modules cannot be unloaded.
bool instantiate(const std::wstring& modulePath, ComPtr<ISignaturePad>& created, std::string& error)
{
    CLSID clsid;
    HRESULT result = creatableClassOf(modulePath, clsid);
    if (FAILED(result)) {
        error = "it names no creatable class in a type library: " + describeResult(result);
        return false;
    }
    HMODULE module = LoadLibraryW(modulePath.c_str());
    if (!module) {
        error = "it does not load: " + describeResult(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) {
        error = "it exports no DllGetClassObject";
        return false;
    }
    ComPtr<IClassFactory> factory;
    if (FAILED(result = getClassObject(clsid, IID_IClassFactory, factory.putVoid())) ||
        FAILED(result = factory->CreateInstance(nullptr, IID_ISignaturePad, created.putVoid()))) {
        error = "its class does not create a signature pad control: " + describeResult(result);
        return false;
    }
    return true;
}

std::wstring fileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

PadHost::PadHost(HWND frame, SignatureSink* eventSink) : frame(frame), services(*this)
{
    eventSink->AddRef();
    sink.attach(eventSink);
}

PadHost::~PadHost()
{
    release();
}

bool PadHost::createByProgId(const wchar_t* progId, std::string& error)
{
    release();
    CLSID clsid;
    HRESULT result = classOfProgId(progId, clsid);
    if (FAILED(result)) {
        error = "the signature pad control is not registered: no class for the ProgID " + narrow(progId) +
                " (" + describeResult(result) + "); register SignaturePad.dll with regsvr32";
        return false;
    }
    ComPtr<ISignaturePad> created;
    result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISignaturePad, created.putVoid());
    if (FAILED(result)) {
        error = "cannot create the signature pad control " + narrow(progId) + ": " + describeResult(result);
        return false;
    }
    return attach(std::move(created), error);
}

bool PadHost::createFromModule(const std::wstring& modulePath, std::string& error)
{
    ComPtr<ISignaturePad> created;
    if (!instantiate(modulePath, created, error)) {
        error = "cannot use the pad module " + narrow(modulePath) + ": " + error;
        return false;
    }
    release();
    return attach(std::move(created), error);
}

bool PadHost::attach(ComPtr<ISignaturePad> created, std::string& error)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD newCookie = 0;
    HRESULT result = created->QueryInterface(IID_IConnectionPointContainer, container.putVoid());
    if (SUCCEEDED(result))
        result = container->FindConnectionPoint(IID_ISignaturePadEvents, point.put());
    if (SUCCEEDED(result))
        result = point->Advise(static_cast<ISignaturePadEvents*>(sink.get()), &newCookie);
    if (FAILED(result)) {
        error = "cannot attach to the control's events: " + describeResult(result);
        return false;
    }
    created->TakeFrameWindow(frame);

    // The module that serves the control is the one its virtual table lies in.
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = L"";
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            *reinterpret_cast<LPCWSTR*>(created.get()), &module))
        GetModuleFileNameW(module, path, MAX_PATH);

    pad = std::move(created);
    connectionPoint = std::move(point);
    cookie = newCookie;
    padModulePath = path;
    return true;
}

bool PadHost::load()
{
    if (!pad)
        return false;
    char hostName[] = "Tallowmark demo host";
    loaded = pad->Load(hostName, frame, static_cast<ITallowmarkServices*>(&services)) == 0;
    return loaded;
}

void PadHost::start()
{
    if (pad && loaded)
        pad->Start();
}

void PadHost::stopAndUnload()
{
    if (!pad)
        return;
    pad->Stop();
    pad->Unload();
    loaded = false;
}

void PadHost::release()
{
    if (!pad)
        return;
    stopAndUnload();
    if (cookie)
        connectionPoint->Unadvise(cookie);
    cookie = 0;
    connectionPoint.reset();
    pad.reset();
    padModulePath.clear();
}

std::wstring PadHost::moduleFile() const
{
    return fileNameOf(padModulePath);
}

std::string PadHost::showSettings()
{
    if (!pad)
        return std::string();
    pendingPadChange.clear();
    pad->ShowProperties();
    if (pendingPadChange.empty())
        return std::string();
    std::wstring requested;
    requested.swap(pendingPadChange);
    return changePad(requested);
}

std::string PadHost::changePad(const std::wstring& moduleName)
{
    std::string name = narrow(moduleName);
    std::string current = pad ? narrow(moduleFile()) : std::string("none");
    wchar_t found[MAX_PATH] = L"";
    DWORD length = SearchPathW(nullptr, moduleName.c_str(), nullptr, MAX_PATH, found, nullptr);
    if (!length || length >= MAX_PATH)
        return "Pad module " + name + " not found; keeping " + current + ".";
    if (pad && !_wcsicmp(found, padModulePath.c_str()))
        return "Pad module " + name + " is already the active one.";

    std::string error;
    if (!createFromModule(found, error))
        return error + (pad ? "; keeping " + current + "." : std::string("; no pad module is active."));
    if (!load())
        return "Switched to pad module " + narrow(found) + ", but its Load failed: no pad it serves was found.";
    return "Switched to pad module " + narrow(found) + ".";
}

ImageLayout PadHost::imageLayout() const
{
    ImageLayout layout;
    layout.padWidth = pad->Width();
    layout.padHeight = pad->Height();
    layout.widthInches = pad->WidthInInches();
    layout.heightInches = pad->HeightInInches();
    layout.inkColor = pad->InkColor();
    layout.inkWeight = pad->InkWeight();
    return layout;
}
