// Registry keys as they stood before a registration, so that one that fails
// half-way can put back what was there.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RegistrySnapshot {
public:
    // Records root\path (ASCII) with everything below it, or that it is not
    // there. False when it is there but cannot be read whole. May throw
    // std::bad_alloc.
    bool add(HKEY root, const char* path);

    // Makes every recorded key hold again what it held: keys and values
    // added since go, changed values get their data back. Writes only where
    // something differs, so keys that cannot be written but were not changed
    // are no obstacle. True when all of it is as recorded. May throw
    // std::bad_alloc.
    bool restore() const;

    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct Key {
        std::wstring name;
        std::vector<Value> values;
        std::vector<Key> subkeys;
    };

private:
    struct Tree {
        HKEY root;
        std::wstring path;
        bool present;
        Key key;
    };
    std::vector<Tree> trees;
};
