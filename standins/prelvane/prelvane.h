// The properties component: named properties bound to storage that belongs
// to the component's client, kept in a settings file, saved and restored in a
// stack of snapshots, persisted to streams, and shown in the settings sheet
// that the client's page client describes.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <prsht.h>

#include <atomic>
#include <string>
#include <vector>

#include "Prelvane_h.h"
#include "handles.h"
#include "settings_file.h"
#include "sync.h"

// One object behind all three interfaces: each answers every other,
// IPrelvane included, with the same identity.
class Prelvane final : public IPrelvane, public ISpecifyPropertyPages, public IPersistStream {
public:
    Prelvane();
    Prelvane(const Prelvane&) = delete;
    Prelvane& operator=(const Prelvane&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPrelvane
    STDMETHODIMP SetSettingsFile(BSTR path) override;
    STDMETHODIMP LoadSettings(VARIANT_BOOL* loaded) override;
    STDMETHODIMP SaveSettings() override;
    STDMETHODIMP DeclareProperty(LPCWSTR name, void* reserved) override;
    STDMETHODIMP SetClient(IPrelvaneClient* client) override;
    STDMETHODIMP BindPropertyStorage(LPCWSTR name, LONG typeCode, void* storage, LONG byteCount) override;
    STDMETHODIMP SetPageClient(IPrelvanePageClient* pageClient, boolean ownsPages) override;
    STDMETHODIMP ShowSettingsSheet(HWND parent, IUnknown* object) override;
    STDMETHODIMP SaveSnapshot() override;
    STDMETHODIMP RestoreSnapshot() override;
    STDMETHODIMP DropSnapshot() override;
    STDMETHODIMP GetSnapshotDepth(LONG* depth) override;
    STDMETHODIMP GetSettingsFile(BSTR* path) override;
    STDMETHODIMP GetSaveCount(LONG* saves) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IPersist, IPersistStream
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;

private:
    ~Prelvane();

    struct Property {
        std::wstring name;
        std::string fileName;       // the name as the settings file holds it (UTF-8)
        LONG typeCode = 0;
        BYTE* storage = nullptr;    // null while the property is not bound
        size_t byteCount = 0;
    };
    // One value per property, in declaration order; empty for a property
    // that was not bound when the values were taken.
    using Values = std::vector<std::vector<BYTE>>;

    // Each of these expects `lock` to be held.
    Property* findProperty(LPCWSTR name);
    Values boundValues() const;
    void writeValues(const Values& values);
    std::vector<settingsfile::Entry> fileEntries() const;
    bool readEntries(const std::vector<settingsfile::Entry>& entries);

    // The page client, when it supplies the sheet's pages.
    ComPtr<IPrelvanePageClient> sheetPageClient();

    std::atomic<ULONG> refCount;
    SlimLock lock;
    std::vector<Property> properties;
    std::vector<Values> snapshots;
    // The values as last read or written, file or stream: IsDirty's reference.
    Values persistedValues;
    std::wstring settingsFile;
    LONG saveCount;
    ComPtr<IPrelvaneClient> client;
    ComPtr<IPrelvanePageClient> pageClient;
    bool pagesFromPageClient;
};

// A new reference on an interface pointer that may be null.
template <typename Interface>
ComPtr<Interface> holdReference(Interface* pointer)
{
    if (pointer)
        pointer->AddRef();
    ComPtr<Interface> held;
    held.attach(pointer);
    return held;
}

// Room for every version of the page record that a page client may fill in.
union PageRecord {
    PROPSHEETPAGEA page;
    BYTE bytes[256];
};

// Has the page client describe its page into a cleared record. A record whose
// stated size is not that of a page record, or that names no dialog
// procedure or no template that can be found, is refused.
HRESULT describePage(IPrelvanePageClient* pageClient, PageRecord& record);

// The dialog template a page record names, or null when there is none.
const BYTE* pageTemplate(const PROPSHEETPAGEA& page);
