// Text conversions, replacement, form-field escaping and error texts.
#include "StringHelpers.h"

#include <windows.h>

#include <gtest/gtest.h>

TEST(Conversions, EndAtTheFirstNulInBothDirections)
{
    EXPECT_EQ(toWideString(std::string("abc\0def", 7)), L"abc");
    EXPECT_EQ(toNarrowString(std::wstring(L"abc\0def", 7)), "abc");
    EXPECT_EQ(toWideString(std::string("\0abc", 4)), L"");
    EXPECT_EQ(toNarrowString(std::wstring(L"\0abc", 4)), "");
}

TEST(Conversions, EmptyAndNullInputsGiveEmptyTexts)
{
    EXPECT_EQ(toWideString(""), L"");
    EXPECT_EQ(toNarrowString(std::wstring()), "");
    EXPECT_EQ(toNarrowString(static_cast<const wchar_t*>(nullptr)), "");
}

TEST(Conversions, LongTextsSurviveTheRoundTrip)
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += static_cast<char>('a' + i % 26);
    const std::wstring wide = toWideString(text);
    EXPECT_EQ(wide.size(), text.size());
    EXPECT_EQ(toNarrowString(wide), text);
    EXPECT_EQ(toNarrowString(wide.c_str()), text);
}

TEST(Conversions, UseTheAnsiCodePage)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "expectations are for code page 1252, this system uses " << GetACP();
    EXPECT_EQ(toWideString("caf\xe9 \x80"), L"caf\u00e9 \u20ac");
    EXPECT_EQ(toNarrowString(L"caf\u00e9 \u20ac"), "caf\xe9 \x80");
    // What the code page cannot hold becomes its default character.
    EXPECT_EQ(toNarrowString(L"a\u4e2db"), "a?b");
}

struct Replacement {
    const wchar_t* text;
    const wchar_t* from;
    const wchar_t* to;
    const wchar_t* expected;
};

void PrintTo(const Replacement& value, std::ostream* out)
{
    *out << ::testing::PrintToString(value.text) << " " << ::testing::PrintToString(value.from);
}

class ReplaceAll : public ::testing::TestWithParam<Replacement> {};

TEST_P(ReplaceAll, ReplacesEveryOccurrenceWithoutSearchingInsertedText)
{
    std::wstring text = GetParam().text;
    replaceAll(text, GetParam().from, GetParam().to);
    EXPECT_EQ(text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(StringHelpers, ReplaceAll, ::testing::Values(
    Replacement { L"++", L"+", L"%2B", L"%2B%2B" },
    Replacement { L"a+b+c", L"+", L"%2B", L"a%2Bb%2Bc" },
    Replacement { L"aaa", L"a", L"aa", L"aaaaaa" },           // the replacement holds the pattern
    Replacement { L"abcabc", L"abc", L"", L"" },
    Replacement { L"aabb", L"ab", L"", L"ab" },               // the search goes on after the seam, not before it
    Replacement { L"xyz", L"q", L"r", L"xyz" },
    Replacement { L"xyz", L"", L"r", L"xyz" },                // an empty pattern changes nothing
    Replacement { L"", L"a", L"b", L"" }));

struct EscapeCase {
    const wchar_t* input;
    const wchar_t* expected;
};

void PrintTo(const EscapeCase& value, std::ostream* out)
{
    *out << ::testing::PrintToString(value.input);
}

class FormFieldEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(FormFieldEscape, EscapesAFormField)
{
    EXPECT_EQ(urlEscape(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(StringHelpers, FormFieldEscape, ::testing::Values(
    EscapeCase { L"+", L"%2B" },
    EscapeCase { L"&", L"%26" },
    EscapeCase { L" ", L"%20" },
    EscapeCase { L"%", L"%25" },
    EscapeCase { L"++&&", L"%2B%2B%26%26" },
    EscapeCase { L"%2B", L"%252B" },                              // already escaped text is escaped again
    EscapeCase { L"a+b&c d%e", L"a%2Bb%26c%20d%25e" },
    EscapeCase { L"a/b?c#d", L"a%2Fb%3Fc%23d" },                  // the whole text is one path segment
    EscapeCase { L"Nimbal Privacy", L"Nimbal%20Privacy" },
    EscapeCase { L"plain-text_1.0", L"plain-text_1.0" },
    EscapeCase { L"", L"" }));

TEST(FormFieldEscape, HasRoomForATextThatIsAllEscapes)
{
    const std::wstring input(5000, L' ');
    std::wstring expected;
    for (size_t i = 0; i < input.size(); ++i)
        expected += L"%20";
    EXPECT_EQ(urlEscape(input), expected);
}

struct ErrorCase {
    DWORD code;
    const wchar_t* number;
    bool hasDescription;
};

void PrintTo(const ErrorCase& value, std::ostream* out)
{
    *out << value.code;
}

class LastErrorText : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LastErrorText, IsTheHexadecimalCodeAndTheSystemsText)
{
    SetLastError(GetParam().code);
    const std::wstring text = getLastErrorText();
    const std::wstring number = GetParam().number;
    if (GetParam().hasDescription) {
        EXPECT_EQ(text.substr(0, number.size() + 1), number + L"\n");
        EXPECT_GT(text.size(), number.size() + 1) << "no description after the line break";
    } else {
        EXPECT_EQ(text, number);
    }
}

INSTANTIATE_TEST_SUITE_P(StringHelpers, LastErrorText, ::testing::Values(
    ErrorCase { ERROR_FILE_NOT_FOUND, L"Error #2", true },
    ErrorCase { ERROR_ACCESS_DENIED, L"Error #5", true },
    ErrorCase { WSAHOST_NOT_FOUND, L"Error #2af9", true },
    // A code with the customer bit set has no system text: the number stands alone.
    ErrorCase { 0x2000abcd, L"Error #2000abcd", false }));
