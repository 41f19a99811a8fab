// What an event delivery walks: the sinks advised at one moment, in slot
// order, made once after each change of the connection table and shared by
// every delivery until the next change, so that a delivery costs one counted
// reference and the sinks' own calls.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <atomic>
#include <memory>

#include "SignaturePad_h.h"

// The one reference on an advised sink, shared by its slot in the table and
// by every list that names it. The sink is released when the last of them
// lets go, on whichever thread that is: a sink unadvised while a delivery is
// under way stays alive until that delivery has called it.
class SinkReference {
public:
    // Takes over the caller's reference on the sink; null, leaving it with
    // the caller, when memory runs out.
    static SinkReference* create(ISignaturePadEvents* sink);

    SinkReference(const SinkReference&) = delete;
    SinkReference& operator=(const SinkReference&) = delete;

    void addRef() { ++references; }
    void release();

private:
    explicit SinkReference(ISignaturePadEvents* sink) : sink(sink) {}
    ~SinkReference() { sink->Release(); }

    std::atomic<ULONG> references{1};
    ISignaturePadEvents* sink;
};

// Never changed once made; each holder has one counted reference.
class SinkList {
public:
    // The live slots of a table (cookie not 0), in index order, with one
    // reference for the caller; null when memory runs out. The caller holds
    // the table still while it is read.
    static SinkList* create(const CONNECTDATA* slots, SinkReference* const* slotReferences, LONG slotCapacity,
                            LONG connectionCount);

    SinkList(const SinkList&) = delete;
    SinkList& operator=(const SinkList&) = delete;

    void addRef() { ++references; }
    void release();

    // pUnk is the sink's ISignaturePadEvents pointer; dwCookie its cookie.
    const CONNECTDATA* begin() const { return connections; }
    const CONNECTDATA* end() const { return connections + count; }
    ULONG size() const { return count; }

private:
    friend struct std::default_delete<SinkList>;
    SinkList() = default;
    ~SinkList();

    std::atomic<ULONG> references{1};
    ULONG count = 0;
    CONNECTDATA* connections = nullptr;
    SinkReference** sinkReferences = nullptr;
};

// Holds one reference on a list and lets it go when it leaves scope.
class SharedSinks {
public:
    SharedSinks() = default;
    ~SharedSinks() { reset(); }
    SharedSinks(const SharedSinks&) = delete;
    SharedSinks& operator=(const SharedSinks&) = delete;

    const SinkList* operator->() const { return list; }
    const SinkList& operator*() const { return *list; }
    explicit operator bool() const { return list != nullptr; }
    // Takes over a reference the caller holds.
    void attach(SinkList* owned)
    {
        reset();
        list = owned;
    }
    // For a call that hands out a reference.
    SinkList** put()
    {
        reset();
        return &list;
    }
    void reset()
    {
        if (SinkList* old = list) {
            list = nullptr;
            old->release();
        }
    }

private:
    SinkList* list = nullptr;
};
