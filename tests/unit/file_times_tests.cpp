#include "app/app.h"
#include "app/control_ids.h"
#include "details/details.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <win32sim.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>

static const unsigned long long kTicksPerSecond = 10000000ULL;

// The file time of a UTC calendar moment.
static FILETIME FileTimeOf(int year, int month, int day, int hour, int minute, int second)
{
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    unsigned long long ticks =
        (static_cast<unsigned long long>(timegm(&fields)) + 11644473600ULL) * kTicksPerSecond;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

static FILETIME WithLowPart(FILETIME time, DWORD low)
{
    time.dwLowDateTime = low;
    return time;
}

// Local time shown with the offset in force now, whatever the date shown.
class FileTimesTest : public testing::Test {
  protected:
    void SetUp() override
    {
        SimReset();
        const char* zone = getenv("TZ");
        savedZone = zone != NULL ? zone : "";
        hadZone = zone != NULL;
    }
    void TearDown() override
    {
        if (hadZone)
            setenv("TZ", savedZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void UseZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }
    static std::string Format(const FILETIME& time)
    {
        WCHAR text[MAX_PATH] = TEXT("untouched");
        if (!FormatFileTime(&time, text, MAX_PATH))
            return "FALSE";
        return Utf8(text);
    }
    std::string savedZone;
    bool hadZone = false;
};

TEST_F(FileTimesTest, FormatsInTheZoneOfTheProcess)
{
    FILETIME afternoon = FileTimeOf(1999, 3, 7, 19, 5, 9);
    UseZone("UTC0");
    EXPECT_EQ("03/07/99 19:05:09", Format(afternoon));
    EXPECT_EQ("01/01/00 00:00:00", Format(FileTimeOf(2000, 1, 1, 0, 0, 0)));
    EXPECT_EQ("12/31/05 23:59:59", Format(FileTimeOf(2005, 12, 31, 23, 59, 59)));

    UseZone("EST5EDT");
    time_t now = time(NULL);
    struct tm local;
    localtime_r(&now, &local);
    // Winter or summer now decides the offset, not the date of the file time.
    EXPECT_EQ(local.tm_isdst > 0 ? "03/07/99 15:05:09" : "03/07/99 14:05:09", Format(afternoon));
}

TEST_F(FileTimesTest, RefusesWhatDoesNotFitOrConvert)
{
    UseZone("UTC0");
    FILETIME time = FileTimeOf(1999, 3, 7, 19, 5, 9);
    // Sizes count characters: seventeen and the NUL fit in eighteen, and
    // nothing is written past what the call is told of.
    const WCHAR guard = 0xFDFD;
    WCHAR text[20] = TEXT("untouched");
    text[18] = text[19] = guard;
    EXPECT_FALSE(FormatFileTime(&time, text, 17));
    EXPECT_EQ("untouched", Utf8(text));
    EXPECT_TRUE(FormatFileTime(&time, text, 18));
    EXPECT_EQ("03/07/99 19:05:09", Utf8(text));
    EXPECT_EQ(guard, text[18]);
    EXPECT_EQ(guard, text[19]);

    FILETIME impossible = {0, 0x80000000u};
    EXPECT_EQ("FALSE", Format(impossible));
}

struct TimesCase {
    FILETIME creation, lastWrite, lastAccess;
    const char* installed;
    const char* changed;
    const char* accessed;
};

TEST_F(FileTimesTest, InstalledAndLastAccessRules)
{
    UseZone("UTC0");
    FILETIME made = FileTimeOf(2001, 2, 3, 4, 5, 6);
    FILETIME changed = FileTimeOf(2002, 3, 4, 5, 6, 7);
    FILETIME read = FileTimeOf(2003, 4, 5, 6, 7, 8);
    FILETIME broken = {0, 0x80000000u};
    const TimesCase cases[] = {
        {made, changed, read, "02/03/01 04:05:06", "03/04/02 05:06:07", "04/05/03"},
        {WithLowPart(made, 0), changed, read, "Unknown", "03/04/02 05:06:07", "04/05/03"},
        {WithLowPart(made, 0xEFF8C000u), changed, read, "Unknown", "03/04/02 05:06:07", "04/05/03"},
        {made, changed, WithLowPart(read, 0), "02/03/01 04:05:06", "03/04/02 05:06:07", "Unknown"},
        {broken, broken, broken, "Unknown", "Unknown", "Unknown"},
    };
    std::string host = SimHostPath("C:\\times.ocx");
    ASSERT_EQ(0, close(open(host.c_str(), O_CREAT | O_WRONLY, 0644)));
    WithMainDialog([&](HWND dialog) {
        for (const TimesCase& c : cases) {
            SCOPED_TRACE(c.installed);
            SimSetFileTimes("C:\\times.ocx", c.creation, c.lastWrite, c.lastAccess);
            for (int id : {IDC_INSTALLED, IDC_LAST_CHANGE, IDC_LAST_ACCESS})
                SetDlgItemTextW(dialog, id, TEXT("Unknown"));
            ShowFileDetails(dialog, EntryOf("C:/TIMES.ocx"), VersionStringTable, GetProcessHeap());
            EXPECT_EQ(c.installed, DialogItemText(dialog, IDC_INSTALLED));
            EXPECT_EQ(c.changed, DialogItemText(dialog, IDC_LAST_CHANGE));
            EXPECT_EQ(c.accessed, DialogItemText(dialog, IDC_LAST_ACCESS));
        }
    });
}

TEST_F(FileTimesTest, SizesBeyondTwoGigabytesAndRootFiles)
{
    struct {
        const char* path;
        long long size;
        const char* shown;
    } cases[] = {
        {"C:\\three.ocx", 3000000000LL, "3000000000"},
        {"C:\\four.ocx", 4294967296LL, "4294967296"},
        {"C:\\Ωmega 東京.ocx", 2147483648LL, "2147483648"},
        {"C:\\empty.dll", 0, "0"},
    };
    WithMainDialog([&](HWND dialog) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.path);
            std::string host = SimHostPath(c.path);
            ASSERT_EQ(0, close(open(host.c_str(), O_CREAT | O_WRONLY, 0644)));
            ASSERT_EQ(0, truncate(host.c_str(), c.size));
            ShowFileDetails(dialog, EntryOf(c.path), VersionStringTable, GetProcessHeap());
            EXPECT_EQ(c.shown, DialogItemText(dialog, IDC_SIZE));
        }
        // A file in the root folder has its extension read all the same.
        EXPECT_EQ("Application Extension", DialogItemText(dialog, IDC_FILE_TYPE));
    });
}
