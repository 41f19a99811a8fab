// Registry keys read back as a tree of values, to compare what registration
// wrote with what it should have: self-registration, per-user registration
// and the installer package all write the same rows.
#pragma once

#include <windows.h>

#include <map>
#include <ostream>
#include <string>

extern const char clsidText[];
extern const char libidText[];
extern const char progId[];
extern const char independentProgId[];
extern const std::string classKey;          // "CLSID\{...}"
extern const std::string typeLibraryKey;    // "TypeLib\{...}"

struct RegValue {
    DWORD type;
    std::string data;   // the stored bytes, a string's terminating zero included
    bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};
void PrintTo(const RegValue& value, std::ostream* os);

// A REG_SZ value as written with its terminating zero counted.
RegValue text(const std::string& data);

using KeyValues = std::map<std::string, RegValue>;   // "" names the default value
using RegTree = std::map<std::string, KeyValues>;    // key path -> its values

// Adds root\path and every key below it, with their values, to the tree.
void readTree(HKEY root, const std::string& path, RegTree& tree);
// The class key and both ProgID keys as they stand under root.
RegTree classTree(HKEY root = HKEY_CLASSES_ROOT);
// Those and the type library's registration.
RegTree registrationTree(HKEY root = HKEY_CLASSES_ROOT);
// The class tree registration writes, the server keys naming serverPath.
RegTree expectedTree(const std::string& serverPath);
// The tree with every string value that names 'path' (compared without case)
// replaced by 'replacement'.
RegTree withPathReplaced(RegTree tree, const std::string& path, const std::string& replacement);

bool keyExists(HKEY root, const std::string& path);

// A key's default REG_SZ value read with the wide call, every character
// kept; empty when there is none.
std::wstring registryText(HKEY root, const std::string& path);
