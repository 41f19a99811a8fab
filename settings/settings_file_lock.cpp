// SettingsFileLock: a named mutex per settings file, shared by the processes
// of every session and every user of the machine. It allocates nothing from
// the C runtime, so that the save at an object's release cannot throw.
#include "settings_file_lock.h"

#include <sddl.h>
#include <cwchar>

namespace {

// Longer than any save under the lock takes, a held file's retries included;
// a lock not had by then is a save not made.
constexpr DWORD lockWaitMs = 10000;

// Everyone may wait for the lock and release it (SYNCHRONIZE and
// MUTEX_MODIFY_STATE), whoever made it.
const WCHAR lockAccess[] = L"D:(A;;0x00100001;;;WD)";

// "Global\Tallowmark.Settings.<hash>": the 64-bit FNV-1a hash of the path in
// upper case, as file names compare. A global name, so that the sessions of
// a terminal server share it.
void formatLockName(const WCHAR* path, WCHAR (&name)[64])
{
    unsigned long long hash = 14695981039346656037ull;
    for (; *path; ++path) {
        WCHAR character = *path;
        CharUpperBuffW(&character, 1);
        hash = (hash ^ character) * 1099511628211ull;
    }
    swprintf(name, ARRAYSIZE(name), L"Global\\Tallowmark.Settings.%016llX", hash);
}

} // namespace

SettingsFileLock::SettingsFileLock(const WCHAR* path)
{
    WCHAR name[64];
    formatLockName(path, name);
    UniqueLocalMemory descriptor;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(lockAccess, SDDL_REVISION_1, descriptor.put(), nullptr))
        attributes.lpSecurityDescriptor = descriptor.get();
    // Only the rights the lock needs are asked for: a mutex another user
    // made opens with them.
    mutex.reset(CreateMutexExW(&attributes, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!mutex)
        return;
    // An abandoned lock is had too: its owner ended in the middle of a save,
    // and the component's replace leaves the old file or the new one whole.
    DWORD wait = WaitForSingleObject(mutex.get(), lockWaitMs);
    owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

SettingsFileLock::~SettingsFileLock()
{
    if (owned)
        ReleaseMutex(mutex.get());
}
