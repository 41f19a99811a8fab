#include "registry_tree.h"

#include "handles.h"

const char clsidText[] = "{6D2B47A1-3C58-4E0F-9A71-B4C2E8D5F023}";
const char libidText[] = "{6D2B47A1-3C58-4E0F-9A71-B4C2E8D5F020}";
const char progId[] = "Orlendale.OrlendaleSignaturePad.1";
const char independentProgId[] = "Orlendale.OrlendaleSignaturePad";
const std::string classKey = std::string("CLSID\\") + clsidText;
const std::string typeLibraryKey = std::string("TypeLib\\") + libidText;

void PrintTo(const RegValue& value, std::ostream* os)
{
    *os << "type " << value.type << " \"" << value.data << "\" (" << value.data.size() << " bytes)";
}

RegValue text(const std::string& data)
{
    return {REG_SZ, std::string(data.c_str(), data.size() + 1)};
}

void readTree(HKEY root, const std::string& path, RegTree& tree)
{
    UniqueRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return;
    KeyValues& values = tree[path];
    for (DWORD i = 0;; i++) {
        char name[256];
        BYTE data[4096];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        values[name] = {type, std::string(reinterpret_cast<char*>(data), dataSize)};
    }
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key.get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        readTree(root, path + "\\" + name, tree);
    }
}

RegTree classTree(HKEY root)
{
    RegTree tree;
    readTree(root, classKey, tree);
    readTree(root, independentProgId, tree);
    readTree(root, progId, tree);
    return tree;
}

RegTree registrationTree(HKEY root)
{
    RegTree tree = classTree(root);
    readTree(root, typeLibraryKey, tree);
    return tree;
}

RegTree expectedTree(const std::string& serverPath)
{
    return {
        {classKey, {{"", text("Halverin Signature Pad Object")}}},
        {classKey + "\\Control", {{"", text("")}}},
        {classKey + "\\ProgID", {{"", text(progId)}}},
        {classKey + "\\InprocServer", {{"", text(serverPath)}}},
        {classKey + "\\InprocServer32", {{"", text(serverPath)}, {"ThreadingModel", text("Apartment")}}},
        {classKey + "\\LocalServer", {{"", text(serverPath)}}},
        {classKey + "\\TypeLib", {{"", text(libidText)}}},
        {classKey + "\\ToolboxBitmap32", {}},
        {classKey + "\\Version", {{"", text("1.0")}}},
        {classKey + "\\MiscStatus", {{"", text("0")}}},
        {classKey + "\\MiscStatus\\1", {{"", text("133521")}}},
        {independentProgId, {}},
        {std::string(independentProgId) + "\\CurVer", {{"", text(progId)}}},
        {progId, {}},
        {std::string(progId) + "\\CLSID", {{"", text(clsidText)}}},
    };
}

RegTree withPathReplaced(RegTree tree, const std::string& path, const std::string& replacement)
{
    for (auto& key : tree)
        for (auto& value : key.second)
            if (value.second.type == REG_SZ && lstrcmpiA(value.second.data.c_str(), path.c_str()) == 0)
                value.second = text(replacement);
    return tree;
}

bool keyExists(HKEY root, const std::string& path)
{
    UniqueRegKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring registryText(HKEY root, const std::string& path)
{
    std::wstring keyPath(path.begin(), path.end());
    WCHAR text[2048] = L"";
    DWORD size = sizeof text;
    if (RegGetValueW(root, keyPath.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return std::wstring();
    return text;
}
