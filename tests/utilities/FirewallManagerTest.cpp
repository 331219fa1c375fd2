#include "FakeFirewall.h"
#include "FirewallManager.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const std::wstring Program = L"C:\\Program Files\\Nimbal Privacy\\NimbalService.exe";
const std::wstring OtherProgram = L"C:\\Other\\other.exe";

} // namespace

class FirewallManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com.result()));
        ASSERT_TRUE(firewall.registered());
    }

    // A manager with the profile open, and a clean record of calls.
    std::unique_ptr<FirewallManager> openManager()
    {
        auto manager = std::make_unique<FirewallManager>();
        manager->open();
        firewall.calls.clear();
        return manager;
    }

    ComInit com;
    FakeFirewall firewall;
};

TEST_F(FirewallManagerTest, OpenKeepsOnlyTheProfile)
{
    auto manager = openManager();
    EXPECT_EQ(firewall.liveObjects, 1) << "the manager object and the policy are released";
    manager->open();
    EXPECT_EQ(firewall.liveObjects, 1) << "reopening releases the profile held before";
    manager.reset();
    EXPECT_EQ(firewall.liveObjects, 0);
}

TEST_F(FirewallManagerTest, AFailedOpenLeavesNoProfileAndNothingHeld)
{
    struct Case {
        const char* call;
        bool fails; // else it succeeds without handing back an object
    };
    const Case cases[] = {
        { "CreateManager", true },
        { "get_LocalPolicy", true },
        { "get_LocalPolicy", false },
        { "get_CurrentProfile", true },
        { "get_CurrentProfile", false },
    };
    for (const Case& c : cases) {
        firewall.failing.clear();
        firewall.givingNothing.clear();
        (c.fails ? firewall.failing : firewall.givingNothing).insert(c.call);

        FirewallManager manager;
        manager.open();
        EXPECT_EQ(firewall.liveObjects, 0) << c.call;
        firewall.calls.clear();
        EXPECT_FALSE(manager.isFirewallEnabled()) << c.call;
        EXPECT_EQ(manager.getAppState(Program), FirewallManager::StateUnknown) << c.call;
        EXPECT_FALSE(manager.authorizeApp(Program, L"Nimbal Privacy")) << c.call;
        EXPECT_TRUE(firewall.calls.empty()) << c.call << ": nothing is asked without a profile";
    }
}

TEST_F(FirewallManagerTest, AFailedOpenDropsTheProfileOpenedBefore)
{
    FirewallManager manager;
    manager.open();
    firewall.failing.insert("get_CurrentProfile");
    manager.open();
    EXPECT_EQ(firewall.liveObjects, 0);
    EXPECT_FALSE(manager.isFirewallEnabled());
}

TEST_F(FirewallManagerTest, FirewallEnabledIsTheProfilesAnswer)
{
    auto manager = openManager();
    EXPECT_TRUE(manager->isFirewallEnabled());
    firewall.firewallEnabled = false;
    EXPECT_FALSE(manager->isFirewallEnabled());
    firewall.firewallEnabled = true;
    firewall.failing.insert("get_FirewallEnabled");
    EXPECT_FALSE(manager->isFirewallEnabled());
}

TEST_F(FirewallManagerTest, AppStateFollowsTheAuthorisedList)
{
    struct Case {
        const char* name;
        std::map<std::wstring, bool> applications;
        const char* failing;
        const char* givingNothing;
        int state;
    };
    const Case cases[] = {
        { "listed and enabled", { { Program, true } }, "", "", FirewallManager::StateEnabled },
        { "listed and disabled", { { Program, false } }, "", "", FirewallManager::StateDisabled },
        { "not listed", { { OtherProgram, true } }, "", "", FirewallManager::StateNotListed },
        { "lookup fails", { { Program, true } }, "Item", "", FirewallManager::StateNotListed },
        { "lookup gives nothing", { { Program, true } }, "", "Item", FirewallManager::StateNotListed },
        { "no list", { { Program, true } }, "get_AuthorizedApplications", "", FirewallManager::StateUnknown },
        { "empty list object", { { Program, true } }, "", "get_AuthorizedApplications", FirewallManager::StateUnknown },
        { "enabled unreadable", { { Program, true } }, "get_Enabled", "", FirewallManager::StateUnknown },
    };
    for (const Case& c : cases) {
        firewall.applications = c.applications;
        auto manager = openManager();
        firewall.failing = { c.failing };
        firewall.givingNothing = { c.givingNothing };
        EXPECT_EQ(manager->getAppState(Program), c.state) << c.name;
        EXPECT_EQ(firewall.liveObjects, 1) << c.name << ": only the profile is still held";
        EXPECT_TRUE(firewall.added.empty()) << c.name;
    }
}

TEST_F(FirewallManagerTest, AuthorizingAnEnabledProgramChangesNothing)
{
    firewall.applications = { { Program, true } };
    auto manager = openManager();
    EXPECT_TRUE(manager->authorizeApp(Program, L"Nimbal Privacy"));
    EXPECT_TRUE(firewall.added.empty());
    EXPECT_FALSE(firewall.called("CreateApplication"));
    EXPECT_FALSE(firewall.called("Add"));
    EXPECT_FALSE(firewall.called("Remove"));
    EXPECT_EQ(firewall.liveObjects, 1);
}

TEST_F(FirewallManagerTest, AuthorizingAddsOneEntryWithPathAndName)
{
    struct Case {
        const char* name;
        std::map<std::wstring, bool> applications;
    };
    const Case cases[] = {
        { "not listed", {} },
        { "listed but disabled", { { Program, false } } },
    };
    for (const Case& c : cases) {
        firewall.applications = c.applications;
        firewall.added.clear();
        auto manager = openManager();
        EXPECT_TRUE(manager->authorizeApp(Program, L"Nimbal Privacy")) << c.name;
        ASSERT_EQ(firewall.added.size(), 1u) << c.name;
        EXPECT_EQ(firewall.added[0].first, Program) << c.name;
        EXPECT_EQ(firewall.added[0].second, L"Nimbal Privacy") << c.name;
        // Scope, IP version and the enabled state keep the entry's own defaults.
        for (const char* untouched : { "put_Scope", "put_IpVersion", "put_Enabled", "put_RemoteAddresses" })
            EXPECT_FALSE(firewall.called(untouched)) << c.name << ": " << untouched;
        EXPECT_EQ(manager->getAppState(Program), FirewallManager::StateEnabled) << c.name;
        EXPECT_EQ(firewall.liveObjects, 1) << c.name;
    }
}

TEST_F(FirewallManagerTest, AFailureWhileAuthorizingIsFalseAndReleasesEverything)
{
    const char* steps[] = { "get_AuthorizedApplications", "CreateApplication", "put_ProcessImageFileName", "put_Name",
                            "Add" };
    for (const char* step : steps) {
        firewall.applications.clear();
        firewall.added.clear();
        auto manager = openManager();
        firewall.failing = { step };
        EXPECT_FALSE(manager->authorizeApp(Program, L"Nimbal Privacy")) << step;
        EXPECT_TRUE(firewall.added.empty()) << step;
        EXPECT_EQ(firewall.liveObjects, 1) << step;
    }
    firewall.failing.clear();
    firewall.givingNothing = { "get_AuthorizedApplications" };
    auto manager = openManager();
    EXPECT_FALSE(manager->authorizeApp(Program, L"Nimbal Privacy"));
    EXPECT_EQ(firewall.liveObjects, 1);
}

// The system's own firewall objects, as this machine has them.
TEST(SystemFirewall, AuthorizingAProgramGoesThroughTheFirewallManager)
{
    ComInit com;
    ASSERT_TRUE(SUCCEEDED(com.result()));
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);

    FirewallManager manager;
    manager.open();
    // Wine's firewall reports itself off and keeps no list: every lookup answers a disabled
    // entry, before an authorisation as after it.
    EXPECT_FALSE(manager.isFirewallEnabled());
    EXPECT_EQ(manager.getAppState(path), FirewallManager::StateDisabled);
    EXPECT_TRUE(manager.authorizeApp(path, L"Nimbal Privacy"));
    EXPECT_EQ(manager.getAppState(path), FirewallManager::StateDisabled);
}
