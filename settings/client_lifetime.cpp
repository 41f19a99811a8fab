// SignaturePad::ClientLifetime: the shared lifetime of the two client objects.
#include "signature_pad.h"

void SignaturePad::ClientLifetime::addReference()
{
    ExclusiveGuard guard(lock);
    ++references;
}

void SignaturePad::ClientLifetime::releaseReference()
{
    bool unused = false;
    {
        ExclusiveGuard guard(lock);
        if (references == 0)
            return;
        unused = --references == 0 && !ownerAlive;
    }
    if (unused)
        delete this;
}

void SignaturePad::ClientLifetime::releaseOwner()
{
    bool unused = false;
    {
        ExclusiveGuard guard(lock);
        ownerAlive = false;
        unused = references == 0;
    }
    if (unused)
        delete this;
}

HRESULT SignaturePad::ClientLifetime::queryClient(IUnknown* client, REFIID clientInterface, SignaturePad* owner,
                                                  REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, clientInterface)) {
        *object = client;
        client->AddRef();
        return S_OK;
    }
    return owner ? owner->QueryInterface(riid, object) : E_NOINTERFACE;
}
