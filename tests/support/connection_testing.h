// Helpers of the test programs for the connection points and the delivery of
// events. Those programs also use the connection-point classes the control
// exports under their C++ names, so they include their declarations.
#pragma once

#include "testing.h"
#include "exported_classes.h"

#include <olectl.h>

#include <functional>
#include <utility>

using EmbeddedContainer = SignaturePad::_IConnectionPointContainer;
using EmbeddedPoint = SignaturePad::_IConnectionPoint;

inline ULONG countOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

inline ComPtr<IConnectionPointContainer> containerOf(ISignaturePad* pad)
{
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(pad->QueryInterface(IID_IConnectionPointContainer, container.putVoid()), S_OK);
    return container;
}

// The connection point for ISignaturePadEvents, found the way a host finds it.
inline ComPtr<IConnectionPoint> pointOf(ISignaturePad* pad)
{
    ComPtr<IConnectionPoint> point;
    ComPtr<IConnectionPointContainer> container = containerOf(pad);
    if (container) {
        EXPECT_EQ(container->FindConnectionPoint(IID_ISignaturePadEvents, point.put()), S_OK);
    }
    return point;
}

// The exported class behind the interface pointer the object hands out.
inline EmbeddedContainer* embedded(IConnectionPointContainer* container)
{
    return static_cast<EmbeddedContainer*>(container);
}

inline EmbeddedPoint* embedded(IConnectionPoint* point)
{
    return static_cast<EmbeddedPoint*>(point);
}

inline DWORD advise(IConnectionPoint* point, IUnknown* sink)
{
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
    return cookie;
}

// The cookies of a fresh snapshot of the connections, in the order listed.
inline std::vector<DWORD> listedCookies(IConnectionPoint* point)
{
    std::vector<DWORD> cookies;
    ComPtr<IEnumConnections> connections;
    HRESULT hr = point->EnumConnections(connections.put());
    EXPECT_TRUE(hr == S_OK || hr == OLE_E_NOCONNECTION) << std::hex << hr;
    if (!connections)
        return cookies;
    CONNECTDATA entry;
    while (connections->Next(1, &entry, nullptr) == S_OK) {
        cookies.push_back(entry.dwCookie);
        entry.pUnk->Release();
    }
    return cookies;
}

// A recording sink that also runs a reaction, on the delivering thread,
// after recording each event: unadvising, advising, releasing the object.
class ReactingSink : public RecordingSink {
public:
    std::function<void(const Event&)> reaction;

protected:
    void record(const Event& event) override
    {
        RecordingSink::record(event);
        if (reaction)
            reaction(event);
    }
};

// A thread running one function, waited for with a bound.
class Worker {
public:
    explicit Worker(std::function<void()> body)
        : body(std::move(body)), handle(CreateThread(nullptr, 0, run, this, 0, &threadId))
    {
        EXPECT_TRUE(handle) << GetLastError();
    }
    // A thread still running after the wait has hung: the test cannot go on
    // safely, so the process ends as a failure.
    ~Worker()
    {
        if (handle && WaitForSingleObject(handle.get(), 20000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "a worker thread hangs";
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    DWORD id() const { return threadId; }
    bool join(DWORD timeoutMs = 20000) { return WaitForSingleObject(handle.get(), timeoutMs) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI run(void* self)
    {
        static_cast<Worker*>(self)->body();
        return 0;
    }

    std::function<void()> body;
    DWORD threadId = 0;
    UniqueHandle handle;
};
