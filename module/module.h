// Values the module records when it is loaded, read everywhere afterwards.
#pragma once

#include <windows.h>

extern HINSTANCE moduleHandle;      // for the module's resources
extern char modulePath[1024];       // the module file, in the ANSI code page
// The same path as the file system names it, whatever characters it holds:
// the ANSI code page may lack some of them, and spells those as '?'. Empty
// when the path does not fit.
extern WCHAR modulePathWide[256];
// The module file's own name without its folder and its last dot, from the
// file system's name as above; empty when it does not fit.
extern WCHAR moduleBaseName[260];
extern char dataFolder[260];        // "<common application data>\Tallowmark"

// The module file's name without its folder: the text after the last
// backslash of modulePath, or after its last slash when it has no backslash.
const char* moduleFileName();

// Creates the data folders and initialises the pad library, once per
// process. It cannot run inside DllMain, under the loader lock, so every
// exported entry point calls it before doing anything else.
void completeModuleStartup();
