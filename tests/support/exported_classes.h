// The four connection-point classes SignaturePad.dll exports under their C++
// names, declared as a program that imports them declares them: the same
// members in the same order, so the objects the DLL builds and the copies a
// test makes have the layout the DLL gives them. A change of the exported
// layout must be made here too, or these programs read the wrong fields.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <atomic>

#include "SignaturePad_h.h"
#include "sync.h"

#define SIGNATUREPAD_IMPORT __declspec(dllimport)

// What the connection point points at, never looked into here.
class SinkList;
class SinkReference;

// Only the nested classes are declared: no test makes a SignaturePad itself.
class SignaturePad final {
public:
    class SIGNATUREPAD_IMPORT _IConnectionPointContainer : public IConnectionPointContainer {
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

    class SIGNATUREPAD_IMPORT _IConnectionPoint : public IConnectionPoint {
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

    class SIGNATUREPAD_IMPORT _IEnumConnectionPoints final : public IEnumConnectionPoints {
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

    // Lists the live records (cookie not 0) among those it is given, in their
    // order, so a connection table can be given as it stands.
    class SIGNATUREPAD_IMPORT _IEnumerateConnections final : public IEnumConnections {
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
};
