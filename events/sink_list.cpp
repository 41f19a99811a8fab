// The advised sinks as one delivery sees them, and the shared reference on
// each sink that keeps it alive for as long as a slot or a list names it.
#include "sink_list.h"

#include <memory>
#include <new>

SinkReference* SinkReference::create(ISignaturePadEvents* sink)
{
    return new (std::nothrow) SinkReference(sink);
}

void SinkReference::release()
{
    if (--references == 0)
        delete this;
}

SinkList* SinkList::create(const CONNECTDATA* slots, SinkReference* const* slotReferences, LONG slotCapacity,
                           LONG connectionCount)
{
    ULONG live = connectionCount > 0 ? static_cast<ULONG>(connectionCount) : 0;
    std::unique_ptr<SinkList> list(new (std::nothrow) SinkList);
    if (!list)
        return nullptr;
    list->connections = new (std::nothrow) CONNECTDATA[live];
    list->sinkReferences = new (std::nothrow) SinkReference*[live];
    if (!list->connections || !list->sinkReferences)
        return nullptr;
    for (LONG i = 0; i < slotCapacity && list->count < live; ++i) {
        if (!slots[i].dwCookie)
            continue;
        list->connections[list->count] = slots[i];
        list->sinkReferences[list->count] = slotReferences[i];
        slotReferences[i]->addRef();
        ++list->count;
    }
    return list.release();
}

SinkList::~SinkList()
{
    for (ULONG i = 0; i < count; ++i)
        sinkReferences[i]->release();
    delete[] sinkReferences;
    delete[] connections;
}

void SinkList::release()
{
    if (--references == 0)
        delete this;
}
