// A settings name as the tree reads it: which names are aliases of the stored password, and which
// name no setting at all.
#include "settings/ConfigSection.h"
#include "settings/SettingPath.h"
#include "settings/SettingsKeys.h"

#include "StringHelpers.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const wchar_t* name;
    bool wellFormed;
    bool password;
};

const NameCase Names[] = {
    { L"Hidden.VpnUser.password", true, true },
    // The tree's reader skips one separator at the end: the same setting.
    { L"Hidden.VpnUser.password.", false, true },
    { L"Hidden.VpnUser.password..", false, false },
    { L"Hidden..VpnUser.password", false, false },
    { L".Hidden.VpnUser.password", false, false },
    // Keys keep their case.
    { L"Hidden.VpnUser.Password", true, false },
    { L"HIDDEN.VPNUSER.PASSWORD", true, false },
    { L"Hidden.VpnUser", true, false },
    { L"Hidden.VpnUser.password.x", true, false },
    { L"Hidden.VpnUser.password ", true, false },
    { L"Internal.LoggingEnabled", true, false },
    { L"Internal.LoggingEnabled.", false, false },
    // The root.
    { L"", true, false },
    { L".", false, false },
    { L"..", false, false },
};

} // namespace

TEST(SettingPath, TellsAliasesOfThePasswordAndNamesWithAnEmptyComponent)
{
    for (const NameCase& c : Names) {
        SCOPED_TRACE(toNarrowString(c.name));
        const SettingPath path(c.name);
        EXPECT_EQ(path.wellFormed(), c.wellFormed);
        EXPECT_EQ(path.isPassword(), c.password);
    }
}

TEST(SettingPath, IsThePasswordExactlyWhenTheTreeReadsThePasswordByThatName)
{
    ConfigSection section(L"C:\\unused\\settings.params");
    section.setValue(SettingsKeys::VpnUserPassword, L"the-password");
    section.setValue(L"Hidden.VpnUser.login", L"someone");
    for (const NameCase& c : Names) {
        SCOPED_TRACE(toNarrowString(c.name));
        EXPECT_EQ(section.getValue<std::wstring>(c.name) == L"the-password", SettingPath(c.name).isPassword());
    }
}

TEST(SettingPath, ComponentsAreTheKeysTheTreeLooksUp)
{
    const struct { const wchar_t* name; std::vector<std::wstring> components; } cases[] = {
        { L"", {} },
        { L"a", { L"a" } },
        { L"a.b.c", { L"a", L"b", L"c" } },
        { L"a.b.", { L"a", L"b" } },
        { L"a..b", { L"a", L"", L"b" } },
        { L".a", { L"", L"a" } },
        { L"a..", { L"a", L"" } },
        { L".", { L"" } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(SettingPath(c.name).components(), c.components) << toNarrowString(c.name);
}
