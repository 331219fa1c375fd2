// The owner of the sections: user sections by SID, their documents, and the process's general section.
#include "SettingsStoreFixture.h"

#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"

#include "StringHelpers.h"

#include <thread>

using Names = std::vector<std::wstring>;
using Lines = std::vector<std::string>;

namespace {

const std::wstring Sid = L"S-1-5-21-1004336348-1177238915-682003330-1000";
const std::string NarrowSid(Sid.begin(), Sid.end());
const std::wstring UserDocument = L"user." + Sid + L".params";

} // namespace

class ConfigManagerTest : public SettingsStoreFixture {
protected:
    ConfigManager manager { store.path() };
};

TEST_F(ConfigManagerTest, EmptySidGivesTheGeneralSectionAndCreatesNothing)
{
    EXPECT_EQ(manager.getConfigUser(L""), &manager.generalSection());
    EXPECT_EQ(lines(), (Lines { "getConfigUser(\"  \")",
                                "ConfigManager::getConfigUser got empty sid, returning general section" }));
    EXPECT_EQ(filesInStore(), Names {});
}

TEST_F(ConfigManagerTest, UserSectionIsCreatedAndLoadedOnce)
{
    ConfigSection* first = manager.getConfigUser(Sid);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->filePath, document(UserDocument));
    EXPECT_EQ(manager.getConfigUser(Sid), first);
    EXPECT_NE(first, &manager.generalSection());
    EXPECT_EQ(lines(), (Lines { "getConfigUser(\" " + NarrowSid + " \")", "Creating new config section",
                                "Config file " + narrowDocument(UserDocument) + "  empty, nothing to load.",
                                "Section created and decrypted", "getConfigUser(\" " + NarrowSid + " \")",
                                "Config founded. Return." }));
    // A section is made only in memory until it is saved.
    EXPECT_EQ(filesInStore(), Names {});
}

TEST_F(ConfigManagerTest, UserDocumentIsSavedAndReadByTheNextManager)
{
    manager.getConfigUser(Sid)->setValue(L"Browser.lastTab", L"settings");
    manager.saveConfigSection(Sid);
    EXPECT_EQ(filesInStore(), (Names { UserDocument }));
    EXPECT_TRUE(logHasInOrder({ "Saving config section for sid =  " + NarrowSid,
                                narrowDocument(UserDocument) + " saved", "Saved" }));

    ConfigManager next(store.path());
    EXPECT_EQ(next.getConfigUser(Sid)->getValue<std::wstring>(L"Browser.lastTab"), L"settings");
    EXPECT_FALSE(next.generalSection().hasValue(L"Browser"));
}

TEST_F(ConfigManagerTest, SavingForAnEmptyOrUnknownSidWritesNothing)
{
    manager.saveConfigSection(L"");
    manager.saveConfigSection(L"S-1-5-18");
    EXPECT_EQ(lines(), (Lines { "Saving config section for empty sid rejected",
                                "Config section that should be saved has not been found for sid = S-1-5-18" }));
    EXPECT_EQ(filesInStore(), Names {});
}

TEST_F(ConfigManagerTest, SavingEverythingWritesEachUserThenTheGeneralDocument)
{
    manager.getConfigUser(L"S-1-5-18")->setValue(L"a", L"1");
    manager.getConfigUser(Sid)->setValue(L"b", L"2");
    manager.generalSection().setValue(L"c", L"3");
    manager.saveUsersConfigurations();
    EXPECT_EQ(filesInStore(), (Names { L"settings.params", L"user.S-1-5-18.params", UserDocument }));
    EXPECT_TRUE(logHasInOrder({ "Save users configurations...", narrowDocument(L"settings.params") + " saved", "Saved" }));
    EXPECT_NE(decryptedDocument(L"user.S-1-5-18.params").find("\"a\": \"1\""), std::string::npos);
}

TEST_F(ConfigManagerTest, AUserWhoStoredNothingGetsNoDocumentButAnEmptiedOneIsWritten)
{
    const std::wstring named = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::wstring emptied = L"S-1-5-21-1004336348-1177238915-682003330-1002";
    const std::wstring stored = L"S-1-5-21-1004336348-1177238915-682003330-1003";
    // A document from an earlier run, whose one setting is then removed.
    {
        ConfigManager earlier(store.path());
        earlier.getConfigUser(emptied)->setValue(L"Browser.theme", L"dark");
        earlier.saveConfigSection(emptied);
    }
    ASSERT_EQ(filesInStore(), (Names { L"user." + emptied + L".params" }));
    manager.getConfigUser(named);
    manager.getConfigUser(emptied)->removeValue(L"Browser");
    manager.getConfigUser(stored)->setValue(L"Browser.theme", L"light");

    const Names users { L"user." + emptied + L".params", L"user." + stored + L".params" };
    for (const std::wstring& sid : { named, emptied, stored })
        manager.saveConfigSection(sid);
    EXPECT_EQ(filesInStore(), users);
    manager.saveUsersConfigurations();
    EXPECT_EQ(filesInStore(), (Names { L"settings.params", users[0], users[1] }));
    EXPECT_EQ(countLines("Nothing stored, no document written: " + narrowDocument(L"user." + named + L".params")), 2u);

    ConfigManager next(store.path());
    EXPECT_FALSE(next.getConfigUser(emptied)->hasValue(L"Browser"));
    EXPECT_EQ(next.getConfigUser(stored)->getValue<std::wstring>(L"Browser.theme"), L"light");
}

TEST_F(ConfigManagerTest, ThreadsNamingTheSameNewSidShareOneSection)
{
    constexpr int Threads = 8;
    std::vector<ConfigSection*> seen(Threads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i)
        threads.emplace_back([this, &seen, i] { seen[i] = manager.getConfigUser(Sid); });
    for (auto& thread : threads)
        thread.join();
    for (ConfigSection* section : seen)
        EXPECT_EQ(section, seen[0]);
    EXPECT_EQ(countLines("Creating new config section"), 1u);
    EXPECT_EQ(countLines("Config founded. Return."), static_cast<size_t>(Threads - 1));
}

class MalformedSid : public SettingsStoreFixture, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(MalformedSid, IsRefusedAndCreatesNoSectionAndNoFile)
{
    ConfigManager manager(store.path());
    const std::wstring sid = GetParam();
    EXPECT_EQ(manager.getConfigUser(sid), nullptr);
    EXPECT_EQ(countLines("ConfigManager::getConfigUser refused malformed sid"), 1u);
    // Refused before it is logged: a line break in it cannot make a line of its own.
    EXPECT_EQ(logText().find(toNarrowString(sid)), std::string::npos) << logText();
    manager.saveConfigSection(sid);
    manager.saveUsersConfigurations();
    // Only the general document: no user file, inside the folder or beside it.
    EXPECT_EQ(filesInStore(), (Names { L"settings.params" }));
    EXPECT_FALSE(fileExists(store.file(L"..\\x.params")));
    EXPECT_EQ(countLines("Creating new config section"), 0u);
}

INSTANTIATE_TEST_SUITE_P(ConfigManager, MalformedSid,
                         ::testing::Values(L"..\\..\\x", L"S-1-5-18\\..\\..\\x", L"S-1-5-18/../x", L"S-1-",
                                           L"S-1-5-", L"S-1-5--18", L"s-1-5-18", L"S-2-5-18", L"S-1-5-18 ",
                                           L" S-1-5-18", L"S-1-5-1a", L"S-1-5-18.x", L"S-1", L"S-1-5-18\n",
                                           L"C:\\Windows\\x", L"S-1-5-18\r\n2016-01-01 00:00:00:\tforged line"));

TEST(SidText, WellFormedSidsAreAccepted)
{
    for (const wchar_t* sid : { L"S-1-5-18", L"S-1-0", L"S-1-5-21-1004336348-1177238915-682003330-1000" })
        EXPECT_TRUE(isWellFormedSid(sid)) << std::string(sid, sid + wcslen(sid));
}

TEST(MainSettings, IsTheProcessManagersGeneralSectionInAppdataPath)
{
    ConfigSection& general = mainSettings();
    EXPECT_EQ(&general, &ConfigManager::instance().generalSection());
    EXPECT_EQ(&general, &mainSettings());
    EXPECT_EQ(general.filePath, AppdataPath + L"settings.params");
}
