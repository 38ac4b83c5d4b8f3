#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Registry seeding with Win32 calls only, so the same test runs against the
// stand-in and under Wine. Each call fails the test when Windows refuses.
void SetRegistryText(HKEY root, const std::string& path, const char* name, const std::string& text,
                     DWORD type = REG_SZ);
void SetRegistryBytes(HKEY root, const std::string& path, const char* name, DWORD type,
                      const void* data, DWORD size);
void SetRegistryDword(HKEY root, const std::string& path, const char* name, DWORD number);
void CreateRegistryKey(HKEY root, const std::string& path);
// Removes the key with everything below it; a missing key is fine.
void DeleteRegistryTree(HKEY root, const std::string& path);
bool RegistryKeyExists(HKEY root, const std::string& path);

// A key below HKEY_LOCAL_MACHINE that belongs to the running test alone.
std::string TestKeyPath(const char* leaf = NULL);

// Runs the body inside WM_INITDIALOG of the program's own main dialog
// template, with a procedure that does nothing else, then ends the dialog.
void WithMainDialog(const std::function<void(HWND)>& body);

// A fixture file as the program sees it (a Windows path on the Z: drive, which
// maps the host's root), and as the host sees it.
std::string FixturePath(const char* name);
std::string FixtureHostPath(const char* name);
long long HostFileSize(const std::string& hostPath);

std::vector<std::string> ListBoxItems(HWND dialog, int id);
std::string DialogItemText(HWND dialog, int id);
