// A file or folder made unwritable for as long as the object lives.
#pragma once

#include <string>

// Sets the read-only attribute on the path. Under Wine, where the tests run
// as root and neither the attribute nor a folder's security stops a write,
// it also sets the file system's immutable flag on the Unix file with
// chattr; the destructor clears both. writable() checks what a writer meets.
class UnwritablePath {
public:
    explicit UnwritablePath(std::string path);
    ~UnwritablePath();
    UnwritablePath(const UnwritablePath&) = delete;
    UnwritablePath& operator=(const UnwritablePath&) = delete;

    // True when a write into the path succeeds: a file opened for writing,
    // or a new file made in a folder.
    static bool writable(const std::string& path);

private:
    std::string path;
};

// Clears whatever an UnwritablePath left on the path when its process ended
// before the destructor ran.
void makeWritable(const std::string& path);
