// RegistrySnapshot: keys read whole with the wide registry calls (a server
// path may hold any character) and written back where they differ.
#include "registry_snapshot.h"

#include <shlwapi.h>
#include <algorithm>
#include <cstring>

#include "handles.h"

namespace {

using Key = RegistrySnapshot::Key;
using Value = RegistrySnapshot::Value;

// Registry names are compared without regard to case, as the registry does.
template <typename Named>
const Named* findNamed(const std::vector<Named>& items, const std::wstring& name)
{
    auto found = std::find_if(items.begin(), items.end(),
                              [&](const Named& item) { return lstrcmpiW(item.name.c_str(), name.c_str()) == 0; });
    return found == items.end() ? nullptr : &*found;
}

bool sameValue(const Value* a, const Value& b)
{
    return a && a->type == b.type && a->data == b.data;
}

// The key's values and the names of its subkeys; with `deep`, the subkeys
// with everything below them too.
bool readKey(HKEY key, Key& content, bool deep)
{
    DWORD subkeyCount = 0, longestSubkey = 0, valueCount = 0, longestValueName = 0, largestValue = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &longestSubkey, nullptr, &valueCount,
                         &longestValueName, &largestValue, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<WCHAR> name(std::max(longestSubkey, longestValueName) + 1);
    std::vector<BYTE> data(largestValue);
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            return false;
        content.values.push_back({std::wstring(name.data(), nameLength), type,
                                  std::vector<BYTE>(data.begin(), data.begin() + size)});
    }
    for (DWORD i = 0; i < subkeyCount; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        Key subkey;
        subkey.name.assign(name.data(), nameLength);
        if (deep) {
            UniqueRegKey opened;
            if (RegOpenKeyExW(key, subkey.name.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS ||
                !readKey(opened.get(), subkey, true))
                return false;
        }
        content.subkeys.push_back(std::move(subkey));
    }
    return true;
}

bool sameLevel(const Key& current, const Key& recorded)
{
    auto sameSet = [](const auto& a, const auto& b, auto same) {
        return a.size() == b.size() &&
               std::all_of(a.begin(), a.end(), [&](const auto& item) { return same(findNamed(b, item.name), item); });
    };
    return sameSet(current.values, recorded.values, sameValue) &&
           sameSet(current.subkeys, recorded.subkeys, [](const Key* found, const Key&) { return found != nullptr; });
}

// Makes parent\name hold what was recorded of it.
bool restoreKey(HKEY parent, const std::wstring& name, const Key& recorded)
{
    UniqueRegKey key;
    Key current;
    LSTATUS status = RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, key.put());
    if (status == ERROR_SUCCESS) {
        if (!readKey(key.get(), current, false))
            return false;
    } else if (status != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (status != ERROR_SUCCESS || !sameLevel(current, recorded)) {
        if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.put(),
                            nullptr) != ERROR_SUCCESS)
            return false;
        bool restored = true;
        for (const Value& value : current.values)
            if (!findNamed(recorded.values, value.name))
                restored = RegDeleteValueW(key.get(), value.name.c_str()) == ERROR_SUCCESS && restored;
        for (const Value& value : recorded.values)
            if (!sameValue(findNamed(current.values, value.name), value))
                restored = RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
                           restored;
        for (const Key& subkey : current.subkeys)
            if (!findNamed(recorded.subkeys, subkey.name))
                restored = SHDeleteKeyW(key.get(), subkey.name.c_str()) == ERROR_SUCCESS && restored;
        if (!restored)
            return false;
    }
    bool restored = true;
    for (const Key& subkey : recorded.subkeys)
        restored = restoreKey(key.get(), subkey.name, subkey) && restored;
    return restored;
}

} // namespace

bool RegistrySnapshot::add(HKEY root, const char* path)
{
    Tree tree{root, std::wstring(path, path + strlen(path)), false, Key()};
    UniqueRegKey key;
    LSTATUS status = RegOpenKeyExW(root, tree.path.c_str(), 0, KEY_READ, key.put());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return false;
    tree.present = status == ERROR_SUCCESS;
    if (tree.present && !readKey(key.get(), tree.key, true))
        return false;
    trees.push_back(std::move(tree));
    return true;
}

bool RegistrySnapshot::restore() const
{
    bool restored = true;
    for (const Tree& tree : trees) {
        if (tree.present) {
            restored = restoreKey(tree.root, tree.path, tree.key) && restored;
        } else {
            LSTATUS status = SHDeleteKeyW(tree.root, tree.path.c_str());
            restored = (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) && restored;
        }
    }
    return restored;
}
