// SignaturePad: construction, identity, reference counting and destruction.
#include "reader.h"

#include <cstring>
#include <new>

SignaturePad::SignaturePad(IUnknown* /* outer: never aggregated */)
    : propertiesClient(nullptr),
      connectionPointContainer(this),
      connectionPoint(this),
      propertyPageClient(nullptr),
      padParameters{},
      originPoint{0, 0},
      baselinePoint{0, 0},
      isActive(0),
      isLoaded(0),
      padWidthInches(4.25),
      timeoutPeriod(0.0),
      inkWeight(2),
      inkColor(0),
      frameWindow(nullptr),
      refCount(0),
      hostServices(nullptr),
      properties(nullptr),
      padToLcdScaleX(1.0),
      padToLcdScaleY(1.0),
      readerThread(nullptr),
      stopRequested(false),
      device(nullptr),
      padWidth(0),
      padHeight(0)
{
    memset(deviceName, 0, sizeof deviceName);
    memset(deviceModel, 0, sizeof deviceModel);
    memset(padDisplayName, 0, sizeof padDisplayName);
    // An object without its connection table is not made whole: it is
    // destroyed before anything is bound to the settings file.
    whole = connectionPoint.slots && setUpSettings();
}

SignaturePad* SignaturePad::create(IUnknown* outer)
{
    SignaturePad* pad = new (std::nothrow) SignaturePad(outer);
    if (pad && !pad->whole) {
        pad->tearDownSettings();
        delete pad;
        return nullptr;
    }
    return pad;
}

STDMETHODIMP SignaturePad::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISignaturePad)) {
        *object = static_cast<ISignaturePad*>(this);
    } else if (IsEqualIID(riid, IID_IPrelvanePageClient)) {
        return propertyPageClient ? propertyPageClient->QueryInterface(riid, object) : E_NOINTERFACE;
    } else if (IsEqualIID(riid, IID_ISpecifyPropertyPages) || IsEqualIID(riid, IID_IPersistStream)) {
        return properties ? properties->QueryInterface(riid, object) : E_NOINTERFACE;
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(&connectionPointContainer);
    } else if (IsEqualIID(riid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(&connectionPoint);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) SignaturePad::AddRef()
{
    return ++refCount;
}

// The reader holds no reference of its own: the last Release on any other
// thread shuts the object down there and then, waiting for the reader to
// end. When the last reference goes inside one of the reader's events (a
// sink let the host's last reference go, on that object's reader or on
// another's), the object is shut down by that reader once its read has
// returned. Whoever shuts it down, its memory is freed only once its own
// reader has ended.
STDMETHODIMP_(ULONG) SignaturePad::Release()
{
    ULONG count = --refCount;
    if (count != 0)
        return count;
    if (Reader* calling = Reader::current(); calling && calling->insideEvent()) {
        calling->defer(Reader::Work::Destroy, this);
        return 0;
    }
    destroy();
    return 0;
}

void SignaturePad::destroy()
{
    // A reference taken and dropped while the object is being shut down
    // must not start its destruction a second time.
    if (destroying.exchange(true))
        return;
    shutDown();
    if (!freeOnceReaderEnds())
        delete this;
}

SignaturePad::~SignaturePad() = default;

void SignaturePad::emptyInkList()
{
    inkList.clear();
}
