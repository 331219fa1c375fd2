// The machine facts sent with every check-in.
#include "SystemInfo.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

namespace {

bool matches(const std::wstring& text, const wchar_t* pattern)
{
    return std::regex_match(text, std::wregex(pattern));
}

} // namespace

TEST(SystemInfo, BitnessIsThatOfWindowsNotOfThisProgram)
{
    // Only a 64-bit Windows has a folder for 32-bit system files.
    wchar_t folder[MAX_PATH];
    const bool windowsIs64Bit = GetSystemWow64DirectoryW(folder, MAX_PATH) != 0;
    EXPECT_EQ(getBitness(), windowsIs64Bit ? L"64" : L"32");
}

TEST(SystemInfo, VersionsAreTwoNumbersJoinedByAPoint)
{
    const std::wstring version = getOsVersion();
    EXPECT_TRUE(matches(version, L"[1-9]\\d*\\.\\d+")) << version;
    const std::wstring servicePack = getServicePackVersion();
    EXPECT_TRUE(matches(servicePack, L"\\d+\\.\\d+")) << servicePack;
}

TEST(SystemInfo, LocaleIsLanguageUnderscoreCountry)
{
    const std::wstring locale = getLocaleName();
    ASSERT_TRUE(matches(locale, L"[a-z]{2,3}_[A-Z]{2,3}")) << locale;

    // The same user locale as the system names it, as in "en-US".
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    ASSERT_GT(GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH), 0);
    const std::wstring language = locale.substr(0, locale.find(L'_'));
    EXPECT_EQ(std::wstring(name).substr(0, language.size() + 1), language + L"-");
}
