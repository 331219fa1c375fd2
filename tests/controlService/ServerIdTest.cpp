// Which server ids may name a configuration file and a word of the daemon's command line.
#include "vpn/ServerId.h"

#include "StringHelpers.h"

#include <gtest/gtest.h>

TEST(ServerId, PlainNamesAreAccepted)
{
    for (const wchar_t* id : { L"nl-ams-01", L"US_East.2", L"a", L"0", L"a..b", L"x.", L"" })
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
