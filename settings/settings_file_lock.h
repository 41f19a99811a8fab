// The lock every object of every process takes around one settings file's
// read-merge-write, so that no save writes over a change another object
// saved meanwhile.
#pragma once

#include <windows.h>

#include "handles.h"

class SettingsFileLock {
public:
    // Waits for the lock of the file at `path`; held() says whether it came.
    explicit SettingsFileLock(const WCHAR* path);
    ~SettingsFileLock();
    SettingsFileLock(const SettingsFileLock&) = delete;
    SettingsFileLock& operator=(const SettingsFileLock&) = delete;

    bool held() const { return owned; }

private:
    UniqueHandle mutex;
    bool owned = false;
};
