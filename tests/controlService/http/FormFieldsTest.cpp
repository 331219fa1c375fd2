// Form fields are taken from a body byte for byte: the first field of the name wins, and only
// where no letter or digit stands before it.
#include "http/FormFields.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct FieldCase {
    const char* label;
    std::string body;
    std::string name;
    std::string expected;
};

const FieldCase FieldCases[] = {
    { "OnlyField", "name=b", "name", "b" },
    { "SuffixOfAnotherName", "surname=a&name=b", "name", "b" },
    { "FirstOfTwoWins", "name=a&name=b", "name", "a" },
    { "EmptyValue", "name=", "name", "" },
    { "EmptyValueBeforeAnother", "name=&value=1", "name", "" },
    { "LastField", "a=1&server=de-12", "server", "de-12" },
    { "PercentEscapesKept", "server=a%20b", "server", "a%20b" },
    { "PlusKept", "message=a+b", "message", "a+b" },
    { "DigitBeforeIsNoBoundary", "1name=a&name=b", "name", "b" },
    { "PunctuationBeforeIsBoundary", "x.name=a", "name", "a" },
    { "HighByteBeforeIsBoundary", "\xE9name=a", "name", "a" },
    { "CaseMatters", "Name=a&name=b", "name", "b" },
    { "ValueUpToAmpersandOnly", "token=t=1&lifetime=5", "token", "t=1" },
    { "ValueWithNulBytes", std::string("pass=a\0b", 8), "pass", std::string("a\0b", 3) },
};

class GetParamTest : public ::testing::TestWithParam<FieldCase> {};

} // namespace

TEST_P(GetParamTest, FindsTheFieldsValue)
{
    const FieldCase& c = GetParam();
    EXPECT_EQ(getParam(c.body, c.name, false), c.expected);
    EXPECT_EQ(getParam(c.body, c.name, true), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, GetParamTest, ::testing::ValuesIn(FieldCases),
                         [](const ::testing::TestParamInfo<FieldCase>& info) { return info.param.label; });

TEST(GetParam, MissingFieldRaisesOrGivesEmptyText)
{
    for (const std::string body : { "", "value=1", "surname=a", "name", "xname=a&username=b" }) {
        EXPECT_EQ(getParam(body, "name", true), "") << body;
        try {
            getParam(body, "name", false);
            ADD_FAILURE() << "no error for " << body;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "no such parameter") << body;
        }
    }
}
