// The device identifier in the registry, in both views. These tests change the product's real key:
// they put back what they found, and hold the registry lock against other programs that change it.
#include "SettingsLogFixture.h"

#include "RegistryGuidBackup.h"

#include <optional>
#include <regex>

using Lines = std::vector<std::string>;

using namespace registry_guid_backup;

namespace {

void setText(REGSAM view, const std::wstring& text)
{
    setRaw(view, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::string asBytes(const std::wstring& text, bool withNul)
{
    const size_t units = text.size() + (withNul ? 1 : 0);
    return std::string(reinterpret_cast<const char*>(text.c_str()), units * sizeof(wchar_t));
}

} // namespace

class RegistryGuidTest : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        // Every test starts with no value in either view; keys are left as they are.
        removeValue(KEY_WOW64_32KEY);
        removeValue(KEY_WOW64_64KEY);
    }
    void TearDown() override
    {
        view32.restore();
        view64.restore();
        SettingsLogFixture::TearDown();
    }

    void removeBothKeys()
    {
        removeKeys(KEY_WOW64_32KEY, !view32.parentExisted);
        removeKeys(KEY_WOW64_64KEY, !view64.parentExisted);
        ASSERT_FALSE(keyExists(KEY_WOW64_32KEY));
        ASSERT_FALSE(keyExists(KEY_WOW64_64KEY));
    }

    static void expectOneFailedReadLine(const Lines& logged)
    {
        ASSERT_EQ(logged.size(), 1u);
        static const std::regex line(
            "\\[INFO\\]: \\t Failed reading \\[ Software\\\\Kestrova Ltd\\.\\\\Nimbal Privacy \\] @ guid , error: \\d+ ");
        EXPECT_TRUE(std::regex_match(logged[0], line)) << logged[0];
    }

    const ViewState view32 { KEY_WOW64_32KEY };
    const ViewState view64 { KEY_WOW64_64KEY };
};

TEST_F(RegistryGuidTest, WriterCreatesTheMissingKeyInBothViews)
{
    removeBothKeys();
    RegistryGuidWriter writer(GuidValueName);
    EXPECT_TRUE(writer.write(L"3f2504e0-4f89-11d3-9a0c-0305e82c3301"));
    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY }) {
        const auto stored = readRaw(view);
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(stored->data, asBytes(L"3f2504e0-4f89-11d3-9a0c-0305e82c3301", true));
    }
    EXPECT_EQ(readRegistryGuid(), L"3f2504e0-4f89-11d3-9a0c-0305e82c3301");
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(RegistryGuidTest, WriterUsesOnlyTheViewWhoseKeyExists)
{
    removeBothKeys();
    createKey(KEY_WOW64_32KEY);
    RegistryGuidWriter writer(GuidValueName);
    EXPECT_TRUE(writer.write(L"only-32"));
    EXPECT_FALSE(keyExists(KEY_WOW64_64KEY));
    EXPECT_EQ(readRegistryGuid(), L"only-32");
}

TEST_F(RegistryGuidTest, ValueOnlyInThe64BitViewIsFoundWithoutAnErrorLine)
{
    removeBothKeys();
    setText(KEY_WOW64_64KEY, L"from-64");
    ASSERT_FALSE(keyExists(KEY_WOW64_32KEY)) << "the two views are the same key here";
    EXPECT_EQ(readRegistryGuid(), L"from-64");
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(RegistryGuidTest, The32BitViewComesFirst)
{
    setText(KEY_WOW64_32KEY, L"from-32");
    setText(KEY_WOW64_64KEY, L"from-64");
    EXPECT_EQ(readRegistryGuid(), L"from-32");
}

TEST_F(RegistryGuidTest, ExpandableTextIsReadUnexpanded)
{
    const std::wstring text = L"%TEMP%-guid";
    setRaw(KEY_WOW64_32KEY, REG_EXPAND_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(readRegistryGuid(), text);
}

TEST_F(RegistryGuidTest, MissingValueReadsAsEmptyWithOneLine)
{
    EXPECT_EQ(readRegistryGuid(), L"");
    expectOneFailedReadLine(lines());
}

struct MalformedValue {
    const char* name;
    DWORD type;
    std::string data;
};

class RegistryGuidMalformed : public RegistryGuidTest, public ::testing::WithParamInterface<MalformedValue> {};

TEST_P(RegistryGuidMalformed, ReadsAsEmptyWithOneLine)
{
    const std::string& data = GetParam().data;
    setRaw(KEY_WOW64_32KEY, GetParam().type, data.data(), static_cast<DWORD>(data.size()));
    setRaw(KEY_WOW64_64KEY, GetParam().type, data.data(), static_cast<DWORD>(data.size()));
    EXPECT_EQ(readRegistryGuid(), L"");
    expectOneFailedReadLine(lines());
}

INSTANTIATE_TEST_SUITE_P(
    RegistryGuid, RegistryGuidMalformed,
    ::testing::Values(MalformedValue { "Dword", REG_DWORD, std::string("\x2a\0\0\0", 4) },
                      MalformedValue { "Binary", REG_BINARY, asBytes(L"guid", true) },
                      MalformedValue { "TextWithoutItsNul", REG_SZ, asBytes(L"guid", false) },
                      MalformedValue { "HalfACharacter", REG_SZ, asBytes(L"guid", true) + "x" },
                      MalformedValue { "OneByte", REG_SZ, std::string("g") },
                      MalformedValue { "NoData", REG_SZ, std::string() },
                      MalformedValue { "OnlyTheNul", REG_SZ, asBytes(L"", true) }),
    [](const ::testing::TestParamInfo<MalformedValue>& info) { return std::string(info.param.name); });
