#pragma once

#include "inventory/inventory.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The program's text is UTF-16; tests write and compare UTF-8.
typedef std::basic_string<WCHAR> WideText;
WideText Wide(const std::string& utf8);
std::string Utf8(const WCHAR* text);
std::string Utf8(const WideText& text);
// A list entry as the scan settles it; the path is a control path (UTF-8).
ControlEntry EntryOf(const std::string& controlPath, RegistryView view = VIEW_32);

// Registry seeding with Win32 calls only, so the same test runs against the
// stand-in and under Wine. Each call fails the test when Windows refuses.
// Paths, names and text are UTF-8, stored as UTF-16 through the W functions.
void SetRegistryText(HKEY root, const std::string& path, const char* name, const std::string& text,
                     DWORD type = REG_SZ);
void SetRegistryBytes(HKEY root, const std::string& path, const char* name, DWORD type,
                      const void* data, DWORD size);
void SetRegistryDword(HKEY root, const std::string& path, const char* name, DWORD number);
void CreateRegistryKey(HKEY root, const std::string& path);
// The view the calls above write from now on: 0 (this program's own, the
// 32-bit one on 64-bit Windows) or KEY_WOW64_64KEY.
// Deleting and looking keys up go to the same view.
void SeedRegistryView(REGSAM view);
REGSAM SeededRegistryView();
// Removes the key with everything below it; a missing key is fine.
void DeleteRegistryTree(HKEY root, const std::string& path);
bool RegistryKeyExists(HKEY root, const std::string& path);

// A key below HKEY_LOCAL_MACHINE that belongs to the running test alone.
std::string TestKeyPath(const char* leaf = NULL);

// Runs the body inside WM_INITDIALOG of the program's own main dialog
// template, with a procedure that does nothing else, then ends the dialog.
void WithMainDialog(const std::function<void(HWND)>& body);
// Runs the action inside the next message box the program shows in the
// dialog of WithMainDialog, before the box itself: a box lets posted
// messages through first. A fault placed so misses what the program did
// before it asked anything.
void AtNextMessageBox(HWND dialog, std::function<void()> action);

// A fixture file as the program sees it (a Windows path on the Z: drive, which
// maps the host's root), and as the host sees it.
std::string FixturePath(const char* name);
std::string FixtureHostPath(const char* name);
long long HostFileSize(const std::string& hostPath);

// What a list box or a field shows, read in UTF-16, as UTF-8.
std::vector<std::string> ListBoxItems(HWND dialog, int id);
std::string DialogItemText(HWND dialog, int id);
