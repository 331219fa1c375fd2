// Which server ids may name a configuration file and a word of the daemon's command line.
#include "vpn/ServerId.h"

#include "StringHelpers.h"

#include <gtest/gtest.h>

TEST(ServerId, PlainNamesAreAccepted)
{
    for (const wchar_t* id : { L"nl-ams-01", L"US_East.2", L"a", L"0", L"a..b", L"x.", L"", L"CONSOLE", L"COM10",
                               L"LPT", L"com", L"xNUL", L"nul-1", L"AUX_2", L"PRN1", L"COMA", L"LPT1x" })
        EXPECT_TRUE(isValidServerId(id)) << toNarrowString(id);
}

TEST(ServerId, PathsOptionsAndOddCharactersAreRefused)
{
    const std::wstring nul(L"a\0b", 3);
    EXPECT_FALSE(isValidServerId(nul));
    for (const wchar_t* id : { L"..\\..\\x", L"../x", L"a\\b", L"a/b", L"C:x", L"..", L".", L".hidden", L"a b",
                               L"x --up evil.sh", L"a\tb", L"a\"b", L"a'b", L"a;b", L"a*b", L"a?b", L"a%b",
                               L"\u00fcber" })
        EXPECT_FALSE(isValidServerId(id)) << toNarrowString(id);
}

// Such a name opens the device in any folder, with any extension after it.
TEST(ServerId, DeviceNamesAreRefusedInAnyCaseAndWithAnyExtension)
{
    for (const wchar_t* id : { L"CON", L"con", L"Prn", L"AUX", L"nul", L"NUL.txt", L"con.ovpn", L"Con.", L"aux.a.b",
                               L"COM0", L"COM1", L"com9", L"COM5.cfg", L"LPT0", L"LPT1", L"lpt9", L"LPT3.x" })
        EXPECT_FALSE(isValidServerId(id)) << toNarrowString(id);
}

TEST(ServerId, LongerThanTheBoundIsRefused)
{
    EXPECT_TRUE(isValidServerId(std::wstring(MaxServerIdLength, L'a')));
    EXPECT_FALSE(isValidServerId(std::wstring(MaxServerIdLength + 1, L'a')));
    EXPECT_FALSE(isValidServerId(std::wstring(100000, L'x')));
}
