// Conversions between the host's 8-bit console text and Windows' wide
// strings, and readable failure codes.
#pragma once

#include <windows.h>

#include <string>

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);
// "0x80040154 (Class not registered)", the system's text when it has one.
std::string describeResult(HRESULT result);
// Where a file is on the Linux side when the host runs under Wine; empty on
// Windows.
std::string unixPathOf(const std::wstring& path);
