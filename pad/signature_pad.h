// The control object: one SignaturePad per host, with the connection point
// its host advises, the client objects its properties component calls, and
// the state of its pad session.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <atomic>
#include <memory>
#include <vector>

#include "SignaturePad_h.h"
#include "Prelvane_h.h"
#include "TallowmarkServices_h.h"
#include "handles.h"
#include "scriptel.h"
#include "sync.h"

// The four connection-point classes are exported under their C++ names;
// programs that use them define this as __declspec(dllimport).
#ifndef SIGNATUREPAD_EXPORT
#define SIGNATUREPAD_EXPORT __declspec(dllexport)
#endif

struct PadParameters {
    LONG values[9];
};

struct PadPoint {
    LONG x;
    LONG y;
};

struct InkRecord {
    BYTE data[20];
};

// The advised sinks as deliveries share them (events/sink_list.h).
class SinkList;
class SinkReference;

// The six persisted settings, as one record.
struct StoredSettings {
    double padWidthInches;
    double timeoutPeriod;
    PadParameters padParameters;
    LONG inkWeight;
    PadPoint originPoint;
    COLORREF inkColor;
};

// What reading the settings file found.
enum class SettingsFileState {
    Read,           // read: the bound storage holds what it stores
    Missing,        // no file (or no file name)
    Unreadable,     // there, but could not be opened: held open elsewhere, say
    NotUnderstood,  // there and readable, but not in a form the component reads
};

class SignaturePad final : public ISignaturePad {
public:
    // Copies of the connection objects and enumerators belong to the same
    // owner as their original. Assignment copies what an object holds (its
    // table, listing and cursor) but never its owner, nor an enumerator's
    // reference count: the references already taken on it are its owner's.
    // Implemented in events/connection_point_container.cpp, with event delivery.
    class SIGNATUREPAD_EXPORT _IConnectionPointContainer : public IConnectionPointContainer {
    public:
        explicit _IConnectionPointContainer(SignaturePad* owner);
        _IConnectionPointContainer(const _IConnectionPointContainer& other);
        // Keeps this container's owner: a container holds nothing else.
        _IConnectionPointContainer& operator=(const _IConnectionPointContainer& other);
        ~_IConnectionPointContainer();

        STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** enumerator) override;
        STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** point) override;

        void fire_OptionSelected(long optionNumber);
        void fire_PenDown(long x, long y);
        void fire_PenPoint(long x, long y, float inkWeight);
        void fire_PenUp(long x, long y);

        SignaturePad* owner;
    };

    // Implemented in events/connection_point.cpp.
    class SIGNATUREPAD_EXPORT _IConnectionPoint : public IConnectionPoint {
    public:
        explicit _IConnectionPoint(SignaturePad* owner);
        // A copy holds references of its own on the same sinks under the same
        // cookies. Assignment takes a copy of the other's table and cookie
        // counter in place of its own and releases the sinks it held. Either
        // is left with no connections when memory for the table runs out.
        _IConnectionPoint(const _IConnectionPoint& other);
        _IConnectionPoint& operator=(const _IConnectionPoint& other);
        ~_IConnectionPoint();

        STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(GetConnectionInterface)(IID* iid) override;
        STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** container) override;
        STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override;
        STDMETHOD(Unadvise)(DWORD cookie) override;
        STDMETHOD(EnumConnections)(IEnumConnections** enumerator) override;

        // The sinks a delivery starting now reaches, with a reference for the
        // caller: S_OK, OLE_E_NOCONNECTION when none is advised, or
        // E_OUTOFMEMORY when the list, made again after a change of the
        // table, cannot be made.
        HRESULT shareAdvisedSinks(SinkList** sinks);

        SignaturePad* owner;
        DWORD nextCookie;
        LONG slotCapacity;
        LONG connectionCount;
        CONNECTDATA* slots;         // null, with no slots, only when memory ran out

    private:
        int findSlot(DWORD cookie);
        int getSlot();
        void releaseTable();

        // Beside each slot, the live slot's share of its sink's one reference.
        SinkReference** slotReferences;
        // The live slots as a list, made when a delivery or EnumConnections
        // first needs it after a change; null until then.
        SinkList* advisedSinks;
        // Guards the table and the list: deliveries on the reader thread take
        // the list while the host advises and unadvises. No sink method runs
        // under it but the AddRef a copy takes on each sink.
        mutable SlimLock tableLock;
    };

    // Implemented in events/enum_connection_points.cpp.
    class SIGNATUREPAD_EXPORT _IEnumConnectionPoints final : public IEnumConnectionPoints {
    public:
        // A new enumerator with its reference count at 0, or null when memory runs out.
        static _IEnumConnectionPoints* create(SignaturePad* owner, IConnectionPoint** items, LONG itemCount, LONG cursor);

        _IEnumConnectionPoints(SignaturePad* owner, IConnectionPoint** items, LONG itemCount, LONG cursor);
        // Either lists nothing when memory for the items runs out.
        _IEnumConnectionPoints(const _IEnumConnectionPoints& other);
        _IEnumConnectionPoints& operator=(const _IEnumConnectionPoints& other);
        ~_IEnumConnectionPoints();

        STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(Next)(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
        STDMETHOD(Skip)(ULONG count) override;
        STDMETHOD(Reset)() override;
        STDMETHOD(Clone)(IEnumConnectionPoints** enumerator) override;

        std::atomic<ULONG> refCount;
        LONG itemCount;
        LONG cursor;
        SignaturePad* owner;
        IConnectionPoint** items;   // null only when memory for them ran out

    private:
        void copyItems(IConnectionPoint* const* source, LONG count);
        void releaseItems();
    };

    // Implemented in events/enumerate_connections.cpp.
    // Lists the live records (cookie not 0) among those it is given, in their
    // order, so a connection table can be given as it stands.
    class SIGNATUREPAD_EXPORT _IEnumerateConnections final : public IEnumConnections {
    public:
        // A new enumerator with its reference count at 0, or null when memory runs out.
        static _IEnumerateConnections* create(IUnknown* owner, ULONG recordCount, const CONNECTDATA* records, ULONG cursor);

        _IEnumerateConnections(IUnknown* owner, ULONG recordCount, const CONNECTDATA* records, ULONG cursor);
        // Either lists nothing when memory for the entries runs out.
        _IEnumerateConnections(const _IEnumerateConnections& other);
        _IEnumerateConnections& operator=(const _IEnumerateConnections& other);
        ~_IEnumerateConnections();

        STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(Next)(ULONG count, CONNECTDATA* connections, ULONG* fetched) override;
        STDMETHOD(Skip)(ULONG count) override;
        STDMETHOD(Reset)() override;
        STDMETHOD(Clone)(IEnumConnections** enumerator) override;

        std::atomic<ULONG> refCount;
        IUnknown* owner;
        ULONG cursor;
        ULONG itemCount;
        CONNECTDATA* entries;       // null only when memory for them ran out

    private:
        void copyEntries(const CONNECTDATA* records, ULONG recordCount);
        void releaseEntries();

        // A usual snapshot keeps its entries here, so taking one costs a
        // single allocation.
        static constexpr ULONG inlineCapacity = 4;
        CONNECTDATA inlineEntries[inlineCapacity];
    };

    // Implemented in settings/client_lifetime.cpp.
    // What keeps a client object alive: its SignaturePad until the object is
    // destroyed, and every reference taken on the client, by the properties
    // component above all, which may still call it after the object is gone.
    // The clients' AddRef and Release answer 1 whatever the count, and
    // releases beyond the references taken are ignored. No reference on a
    // client holds the object itself.
    class ClientLifetime {
    public:
        ClientLifetime(const ClientLifetime&) = delete;
        ClientLifetime& operator=(const ClientLifetime&) = delete;

        void addReference();
        void releaseReference();
        // The owning object is going: the references alone keep the client.
        void releaseOwner();

    protected:
        ClientLifetime() = default;
        virtual ~ClientLifetime() = default;

        // Answers IUnknown and the client's own interface with the client and
        // passes every other request to the owning object while it lives.
        static HRESULT queryClient(IUnknown* client, REFIID clientInterface, SignaturePad* owner,
                                   REFIID riid, void** object);

    private:
        SlimLock lock;
        LONG references = 0;
        bool ownerAlive = true;
    };

    // Implemented in settings/prelvane_client.cpp.
    class _IPrelvaneClient : public IPrelvaneClient, public ClientLifetime {
    public:
        explicit _IPrelvaneClient(SignaturePad* owner) : owner(owner) {}

        STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(OnAttached)() override;
        STDMETHOD(InitializeDefaults)() override;
        STDMETHOD(ResetDefaults)() override;
        STDMETHOD(IsModified)() override;
        STDMETHOD(Validate)() override;
        STDMETHOD(OnSaved)() override;

        SignaturePad* owner;
    };

    // Implemented in settings/prelvane_page_client.cpp.
    class _IPrelvanePageClient : public IPrelvanePageClient, public ClientLifetime {
    public:
        explicit _IPrelvanePageClient(SignaturePad* owner) : owner(owner) {}

        STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;
        STDMETHOD(OnSheetCreated)() override;
        STDMETHOD(OnSheetDestroyed)() override;
        STDMETHOD(OnPageActivated)() override;
        STDMETHOD(OnPageDeactivated)() override;
        STDMETHOD(OnApply)() override;
        STDMETHOD(QueryPageFlags)(LONG pageIndex, LONG* flags) override;
        STDMETHOD(OnHelp)() override;
        STDMETHOD(OnCancel)() override;
        STDMETHOD(OnClose)() override;
        STDMETHOD(DescribeSheet)(void* sheetHeader) override;
        STDMETHOD(CountPages)(LONG* pageCount) override;
        STDMETHOD(DescribePage)(void* page) override;
        STDMETHOD(OnPagesCreated)() override;

        SignaturePad* owner;
    };

    explicit SignaturePad(IUnknown* outer);

    // A capture's reader thread (pad/reader.h).
    class Reader;
    // The object's reader when the calling thread is it, else null. A
    // delivery there needs no reference on the object (the reader keeps it),
    // and stops once a Stop, Unload or Release has given up waiting for it.
    Reader* ownReader() const;

    // IUnknown
    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // ISignaturePad, in virtual-table order.
    LONG STDMETHODCALLTYPE TakeFrameWindow(HWND hwndFrame) override;
    LONG STDMETHODCALLTYPE HostHandle(HWND hwnd) override;
    LONG STDMETHODCALLTYPE Load(char* pszName, HWND hwndClientHost, void* pvITallowmarkServices) override;
    LONG STDMETHODCALLTYPE Start() override;
    LONG STDMETHODCALLTYPE Unload() override;
    LONG STDMETHODCALLTYPE Stop() override;
    LONG STDMETHODCALLTYPE IsActive() override;
    LONG STDMETHODCALLTYPE Width() override;
    LONG STDMETHODCALLTYPE Height() override;
    LONG STDMETHODCALLTYPE LCDWidth() override;
    LONG STDMETHODCALLTYPE LCDHeight() override;
    double STDMETHODCALLTYPE WidthInInches() override;
    double STDMETHODCALLTYPE HeightInInches() override;
    double STDMETHODCALLTYPE PadToLCDScaleX() override;
    double STDMETHODCALLTYPE PadToLCDScaleY() override;
    double STDMETHODCALLTYPE PadTimeout() override;
    double STDMETHODCALLTYPE SetZoomFactor(double zoomFactor) override;
    char* STDMETHODCALLTYPE DeviceName() override;
    char* STDMETHODCALLTYPE DeviceProductName() override;
    char* STDMETHODCALLTYPE DeviceModel() override;
    LONG STDMETHODCALLTYPE IsLCD() override;
    LONG STDMETHODCALLTYPE IsFullPage() override;
    LONG STDMETHODCALLTYPE HasScaling() override;
    LONG STDMETHODCALLTYPE IsTabletPC() override;
    void STDMETHODCALLTYPE PrepareForPage(RECT* pRect) override;
    void STDMETHODCALLTYPE DisplaySignatureBitmapFile(char* pszImageFile, LONG populatePad, LONG isLastPage) override;
    void STDMETHODCALLTYPE DisplaySignatureBitmapHandle(UINT_PTR hBitmap, HDC hdc, LONG x, LONG y, LONG cx, LONG cy) override;
    void STDMETHODCALLTYPE OverlaySignatureBitmapHandle(UINT_PTR hBitmap, HDC hdc, LONG x, LONG y, LONG cx, LONG cy) override;
    void STDMETHODCALLTYPE DisplayHotSpotFile(char* pszFile, LONG eventID, LONG x, LONG y, LONG cx, LONG cy) override;
    void STDMETHODCALLTYPE DisplayHotSpotHandle(UINT_PTR hBitmap, HDC hdc, LONG eventID, LONG x, LONG y, LONG cx, LONG cy) override;
    void STDMETHODCALLTYPE DisplayOk(LONG eventID) override;
    void STDMETHODCALLTYPE DisplayClear(LONG eventID) override;
    void STDMETHODCALLTYPE DisplayCancel(LONG eventID) override;
    short STDMETHODCALLTYPE KeyPadQueryHotSpot(short KeyCode) override;
    void STDMETHODCALLTYPE SetBackgroundFile(BSTR bstrFileName) override;
    void STDMETHODCALLTYPE SetBackgroundHandle(OLE_HANDLE handle) override;
    void STDMETHODCALLTYPE GetRect(RECT* rect) override;
    void STDMETHODCALLTYPE GetHotSpot(LONG hotSpotNumber, RECT* rect) override;
    LONG STDMETHODCALLTYPE ClearInk() override;
    LONG STDMETHODCALLTYPE SignatureData() override;
    double* STDMETHODCALLTYPE SignatureDataX() override;
    double* STDMETHODCALLTYPE SignatureDataY() override;
    void STDMETHODCALLTYPE ClearSignatureData() override;
    void STDMETHODCALLTYPE DeleteSignatureData() override;
    void STDMETHODCALLTYPE PutLCDCaptureMode(LONG mode) override;
    void STDMETHODCALLTYPE TabletState(LONG state) override;
    LONG STDMETHODCALLTYPE EnableTablet() override;
    void STDMETHODCALLTYPE ClearTablet() override;
    LONG STDMETHODCALLTYPE DisableTablet() override;
    void STDMETHODCALLTYPE LCDRefresh(LONG mode, LONG XPos, LONG YPos, LONG XSize, LONG YSize) override;
    void STDMETHODCALLTYPE SetSigWindow() override;
    void STDMETHODCALLTYPE SetInkArea() override;
    LONG STDMETHODCALLTYPE GetPixelBits(HDC hdc) override;
    LONG STDMETHODCALLTYPE MaximumX() override;
    LONG STDMETHODCALLTYPE MaximumY() override;
    LONG STDMETHODCALLTYPE MinimumX() override;
    LONG STDMETHODCALLTYPE MinimumY() override;
    LONG STDMETHODCALLTYPE MaximumSignableY() override;
    LONG STDMETHODCALLTYPE FireOption(LONG optionNumber) override;
    LONG STDMETHODCALLTYPE OriginPointX() override;
    LONG STDMETHODCALLTYPE OriginPointY() override;
    LONG STDMETHODCALLTYPE BaselinePointX() override;
    LONG STDMETHODCALLTYPE BaselinePointY() override;
    ULONG STDMETHODCALLTYPE InkColor() override;
    LONG STDMETHODCALLTYPE InkWeight() override;
    HRESULT STDMETHODCALLTYPE ShowProperties() override;

    // The settings file (stored_settings.cpp). Reading it again keeps every
    // value this object changed since it last read or saved the file; saving
    // reads it again first, under a lock every process takes for the file,
    // and writes nothing over a file it cannot read. Neither throws.
    SettingsFileState rereadSettings();
    void saveSettings();

    // Fields, in declaration order.
    _IPrelvaneClient* propertiesClient;
    _IConnectionPointContainer connectionPointContainer;
    _IConnectionPoint connectionPoint;
    _IPrelvanePageClient* propertyPageClient;
    char deviceName[260];
    char deviceModel[260];
    char padDisplayName[260];
    PadParameters padParameters;
    PadPoint originPoint;
    PadPoint baselinePoint;
    LONG isActive;
    LONG isLoaded;
    double padWidthInches;
    double timeoutPeriod;           // persisted together with padWidthInches: keep adjacent
    LONG inkWeight;
    COLORREF inkColor;
    HWND frameWindow;
    std::atomic<ULONG> refCount;
    ITallowmarkServices* hostServices;
    IPrelvane* properties;
    double padToLcdScaleX;
    double padToLcdScaleY;
    std::vector<std::unique_ptr<InkRecord>> inkList;
    std::atomic<HANDLE> readerThread;
    std::atomic<bool> stopRequested;
    std::atomic<scriptel_device*> device;
    LONG padWidth;
    LONG padHeight;

    // A new object with its reference count at 0, or null when memory for
    // it or for what it is made of runs out (the class factory's creator).
    static SignaturePad* create(IUnknown* outer);

private:
    // Only destroy and create free the object, after its shutDown.
    ~SignaturePad();

    void emptyInkList();
    // False, with nothing set up, when memory for the client objects runs out.
    bool setUpSettings();
    void tearDownSettings();
    SettingsFileState readSettingsFile();
    StoredSettings currentSettings() const;
    bool mergeAndSave();
    void saveChangedSettings();

    // Device session (session.cpp). Those said to be called with the session
    // lock held are; the others take it themselves.
    void showLoadMessage(UINT messageId);
    void startFromReaderThread(scriptel_device* pad, Reader* calling);
    void startCapture(scriptel_device* pad);        // lock held
    // Deferred from inside the reader's events: a Start, with a reference
    // `held` for it when it was another object's; closing the pad.
    void startDeferred(bool held);
    static void closeUnlessOwned(scriptel_device* pad);
    void launchReader(scriptel_device* pad);        // lock held
    ComPtr<Reader> requestEnd();                    // lock held
    void endReader();
    void readerEnded();
    // True when the object's reader still runs: it frees the object as it ends.
    bool freeOnceReaderEnds();
    // A reference for the length of a call that may serve the host's messages
    // while it waits, whose handlers may let the host's last reference go.
    ComPtr<ISignaturePad> holdWhileWaiting();
    void shutDown();
    // Shuts the object down once and frees it, or has its reader thread free it.
    void destroy();

    // Pen input (reader.cpp), on the reader thread.
    void handleReport(const void* report, int type);
    void closeStroke();
    void closeCutStroke();

    // The latest reader; it runs while readerThread is set.
    ComPtr<Reader> reader;
    std::atomic<bool> destroying{false};
    bool whole = false;                 // construction got all the memory it needed
    // Under the session lock. Threads waiting for the reader to end: a Start
    // made from inside its events does not take that back. Those of them in a
    // Stop, Unload or Release: a Start on the host's thread meanwhile (from a
    // message served while they wait) does nothing.
    int endWaits = 0;
    int stopWaits = 0;
    bool freeWhenReaderEnds = false;    // the object went while its reader ran
    // A Start gave up waiting for the reader it ends: the reader starts the
    // next capture itself once it has ended.
    bool startWhenReaderEnds = false;
    // A Start from inside the reader's events asks for a new capture once
    // the read has returned; reports until then are not delivered.
    std::atomic<bool> restartPending{false};
    // Restarts made of a running reader, and those of them the reader has
    // acted on: each one closes the stroke under way.
    std::atomic<unsigned> restarts{0};
    unsigned restartsSeen = 0;
    // This object's pen state, touched only by its reader thread: -1 while
    // the pen is up.
    LONG lastPenX = -1;
    LONG lastPenY = -1;
    WCHAR settingsFile[260] = L"";      // the file this object's settings live in; empty: none
    StoredSettings storedSettings{};    // what that file holds, as this object last read or saved it
};
