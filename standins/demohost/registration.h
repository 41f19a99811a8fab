// Installing a COM server the way installers do: regsvr32 on its file.
#pragma once

#include <string>

// Runs regsvr32 silently on the file and waits for it. False, with error,
// when it could not run or the registration failed.
bool registerServer(const std::wstring& path, std::string& error);
