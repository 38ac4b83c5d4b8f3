#pragma once

#include "e2e/driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e {

inline constexpr const char* kModuleUsage =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ModuleUsage";
inline constexpr const char* kTypeLib = "TypeLib";

// A browser download: a ModuleUsage subkey named after the file's path with
// '/' in place of '\'.
void RegisterDownload(const std::string& keyName);
void RegisterTypeLibFile(const std::string& libid, const std::string& version, const char* platform,
                         const std::string& path, DWORD type = REG_SZ, const char* locale = "0");

// A message box of the program: always captioned "Burrowlens" with OK alone.
struct ExpectedBox {
    std::string text;
    std::string icon; // as MessageBoxView names it
};

// The tests share the program's registry, which belongs to this test run
// alone: every test starts with neither registration key present and seeds
// exactly what it needs.
class ProgramTest : public testing::Test {
  protected:
    void SetUp() override;

    // Waits for the next box, checks it and closes it with OK.
    bool ExpectBoxAndAnswer(const ExpectedBox& expected, Where where = Where::current());
    // The program has settled with this list, entry 0 selected and no box open.
    void ExpectListShown(const std::vector<std::string>& expected, Where where = Where::current());
    void ExpectExitCode(DWORD expected, Where where = Where::current());

    Burrowlens app;
};

ExpectedBox KeyOpenFailedBox(int line);
ExpectedBox AccessDeniedBox();
ExpectedBox NoControlsBox();

} // namespace e2e
