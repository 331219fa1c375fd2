// A settings section in memory: typed reads and writes, removal, listing and its JSON text.
#include "SettingsLogFixture.h"

#include "settings/ConfigSection.h"

#include "StringHelpers.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <thread>

using Lines = std::vector<std::string>;
using Keys = std::vector<std::wstring>;

class ConfigSectionTest : public SettingsLogFixture {
protected:
    ConfigSection section { L"C:\\unused\\settings.params" };

    void load(const std::wstring& json) { ASSERT_TRUE(section.loadFromJson(json)); }
};

TEST_F(ConfigSectionTest, MissingPathReadsAsEmptyWithANoPathLine)
{
    EXPECT_EQ(section.getValue<int>(L"A.B"), 0);
    EXPECT_EQ(section.getValue<std::wstring>(L"Missing"), L"");
    EXPECT_FALSE(section.getValue<bool>(L"A"));
    EXPECT_EQ(lines(), (Lines { "ConfigSection::getValue: No path A.B in settings tree No such node (A.B)",
                                "ConfigSection::getValue: No path Missing in settings tree No such node (Missing)",
                                "ConfigSection::getValue: No path A in settings tree No such node (A)" }));
}

TEST_F(ConfigSectionTest, UnconvertibleValueReadsAsZeroWithTheConversionError)
{
    section.setValue(L"UpdatableSettings.ovpnControlPort", L"port");
    EXPECT_EQ(section.getValue<int>(L"UpdatableSettings.ovpnControlPort"), 0);
    EXPECT_EQ(section.getValue<long>(L"UpdatableSettings.ovpnControlPort"), 0);
    const Lines logged = lines();
    ASSERT_EQ(logged.size(), 2u);
    // Two blanks after the colon: the prefix part ends in one and the parts are joined by another.
    EXPECT_EQ(logged[0].rfind("ConfigSection::getValue:  conversion of data to type", 0), 0u) << logged[0];
}

struct TextRead {
    std::wstring text;
    int asInt;
    bool asBool;
    bool intConverts;
    bool boolConverts;
};

class ConfigSectionTextReads : public SettingsLogFixture, public ::testing::WithParamInterface<TextRead> {};

TEST_P(ConfigSectionTextReads, ConvertLikeAStreamAndLogOnlyFailures)
{
    ConfigSection section(L"x");
    section.setValue(L"Internal.value", GetParam().text);
    EXPECT_EQ(section.getValue<int>(L"Internal.value"), GetParam().asInt);
    const size_t afterInt = lines().size();
    EXPECT_EQ(afterInt, GetParam().intConverts ? 0u : 1u);
    EXPECT_EQ(section.getValue<bool>(L"Internal.value"), GetParam().asBool);
    EXPECT_EQ(lines().size() - afterInt, GetParam().boolConverts ? 0u : 1u);
    EXPECT_EQ(section.getValue<std::wstring>(L"Internal.value"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(ConfigSection, ConfigSectionTextReads,
                         ::testing::Values(TextRead { L"1", 1, true, true, true },
                                           TextRead { L"0", 0, false, true, true },
                                           TextRead { L"true", 0, true, false, true },
                                           TextRead { L"false", 0, false, false, true },
                                           TextRead { L"TRUE", 0, false, false, false },
                                           TextRead { L"yes", 0, false, false, false },
                                           TextRead { L"2", 2, false, true, false },
                                           TextRead { L" 86400 ", 86400, false, true, false },
                                           TextRead { L"12abc", 0, false, false, false },
                                           TextRead { L"", 0, false, false, false },
                                           TextRead { L"null", 0, false, false, false }));

TEST_F(ConfigSectionTest, TypedWritesAreStoredAsText)
{
    section.setValue(L"A.B.C", 5);
    section.setValue(L"Internal.ovpnRequiredState", true);
    section.setValue(L"Internal.off", false);
    section.setValue(L"Internal.negative", -12);
    EXPECT_EQ(section.getValue<std::wstring>(L"A.B.C"), L"5");
    EXPECT_EQ(section.getValue<std::wstring>(L"Internal.ovpnRequiredState"), L"true");
    EXPECT_EQ(section.getValue<std::wstring>(L"Internal.off"), L"false");
    EXPECT_EQ(section.getValue<int>(L"Internal.negative"), -12);
    EXPECT_TRUE(section.getValue<bool>(L"Internal.ovpnRequiredState"));
    EXPECT_EQ(section.toJson(false), L"{\n"
                                     L"    \"A\": {\n"
                                     L"        \"B\": {\n"
                                     L"            \"C\": \"5\"\n"
                                     L"        }\n"
                                     L"    },\n"
                                     L"    \"Internal\": {\n"
                                     L"        \"ovpnRequiredState\": \"true\",\n"
                                     L"        \"off\": \"false\",\n"
                                     L"        \"negative\": \"-12\"\n"
                                     L"    }\n"
                                     L"}\n");
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(ConfigSectionTest, WritingAgainReplacesTheValueInPlace)
{
    section.setValue(L"A", L"1");
    section.setValue(L"B", L"2");
    section.setValue(L"A", L"3");
    EXPECT_EQ(section.listSettings(L""), (Keys { L"A", L"B" }));
    EXPECT_EQ(section.getValue<std::wstring>(L"A"), L"3");
}

TEST_F(ConfigSectionTest, HasValueForEmptyValuesFoldersAndTheRoot)
{
    section.setValue(L"Hidden.VpnUser.token", L"");
    EXPECT_TRUE(section.hasValue(L"Hidden.VpnUser.token"));
    EXPECT_TRUE(section.hasValue(L"Hidden.VpnUser"));
    EXPECT_TRUE(section.hasValue(L"Hidden"));
    EXPECT_TRUE(section.hasValue(L""));
    EXPECT_FALSE(section.hasValue(L"Hidden.VpnUser.login"));
    EXPECT_FALSE(section.hasValue(L"Hidden.VpnUser.token.more"));
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(ConfigSectionTest, RemovingEmptyOrMissingPathsChangesNothing)
{
    load(L"{\"A\": {\"B\": \"1\"}, \"C\": \"2\"}");
    const std::wstring before = section.toJson(false);
    section.removeValue(L"");
    section.removeValue(L"A.X");
    section.removeValue(L"A.B.C");
    section.removeValue(L"Z.B");
    EXPECT_EQ(section.toJson(false), before);
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(ConfigSectionTest, RemovingANodeTakesItsSubtree)
{
    load(L"{\"A\": {\"B\": {\"C\": \"1\"}, \"D\": \"2\"}}");
    section.removeValue(L"A.B");
    EXPECT_FALSE(section.hasValue(L"A.B.C"));
    EXPECT_EQ(section.getValue<int>(L"A.D"), 2);
}

TEST_F(ConfigSectionTest, RemovingARepeatedKeyTakesTheFirstOnly)
{
    load(L"{\"k\": \"1\", \"k\": \"2\"}");
    EXPECT_EQ(section.listSettings(L""), (Keys { L"k", L"k" }));
    section.removeValue(L"k");
    EXPECT_EQ(section.getValue<std::wstring>(L"k"), L"2");
    section.removeValue(L"k");
    EXPECT_FALSE(section.hasValue(L"k"));
}

TEST_F(ConfigSectionTest, CallerHoldingTheLockErasesSeveralNodesAsOneChange)
{
    section.setValue(L"Hidden.VpnUser.login", L"me@example.com");
    section.setValue(L"Hidden.VpnUser.password", L"secret");
    section.setValue(L"Hidden.VpnUser.token", L"t");
    {
        std::unique_lock<SrwLock> lock(section.mutex);
        for (const wchar_t* key : { L"Hidden.VpnUser.login", L"Hidden.VpnUser.password", L"Hidden.VpnUser.token",
                                    L"Hidden.VpnUser.rememberMe" })
            section.eraseNode(key);
    }
    EXPECT_EQ(section.listSettings(L"Hidden.VpnUser"), Keys {});
}

TEST_F(ConfigSectionTest, PutChildReplacesTheBranchAndMovesItToTheEnd)
{
    load(L"{\"LastLoginRequestInfo\": {\"old\": \"1\"}, \"Internal\": {\"x\": \"2\"}}");
    ConfigSection::Tree answer;
    answer.put(L"version", L"1.1.0.34");
    answer.put(L"updateType", L"silent");
    section.putChild(L"LastLoginRequestInfo", answer);
    EXPECT_EQ(section.listFolders(L""), (Keys { L"Internal", L"LastLoginRequestInfo" }));
    EXPECT_EQ(section.listSettings(L"LastLoginRequestInfo"), (Keys { L"version", L"updateType" }));
    EXPECT_FALSE(section.hasValue(L"LastLoginRequestInfo.old"));

    section.putChild(L"New.Branch", answer);
    EXPECT_EQ(section.getValue<std::wstring>(L"New.Branch.updateType"), L"silent");
}

TEST_F(ConfigSectionTest, ListingSeparatesSettingsFromFolders)
{
    load(L"{\"a\": \"1\", \"b\": {\"c\": \"2\"}, \"e\": {}, \"f\": [\"x\", \"y\"]}");
    EXPECT_EQ(section.listSettings(L""), (Keys { L"a", L"e" }));
    EXPECT_EQ(section.listFolders(L""), (Keys { L"b", L"f" }));
    EXPECT_EQ(section.listSettings(L"b"), (Keys { L"c" }));
    EXPECT_EQ(section.listFolders(L"b"), Keys {});
    EXPECT_EQ(section.listSettings(L"f"), (Keys { L"", L"" }));
    EXPECT_EQ(section.listSettings(L"missing"), Keys {});
    EXPECT_EQ(section.listFolders(L"b.c.d"), Keys {});
    const auto startsWithB = [](const std::wstring& key, const ConfigSection::Tree&) { return key[0] == L'b'; };
    EXPECT_EQ(section.listChildren(L"", startsWithB), (Keys { L"b" }));
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(ConfigSectionTest, ListingFilterMayUseTheSection)
{
    load(L"{\"a\": \"1\", \"b\": \"2\"}");
    // The filter runs without the section's lock held, so it can read the section itself.
    const Keys keys = section.listChildren(L"", [this](const std::wstring& key, const ConfigSection::Tree&) {
        return section.getValue<int>(key) == 2;
    });
    EXPECT_EQ(keys, (Keys { L"b" }));
}

TEST_F(ConfigSectionTest, LoadingReplacesTheWholeTree)
{
    section.setValue(L"UpdatableSettings.updateRequestInterval", 86400);
    load(L"{\"Internal\": {\"LoggingEnabled\": \"true\"}}");
    EXPECT_FALSE(section.hasValue(L"UpdatableSettings"));
    EXPECT_TRUE(section.getValue<bool>(L"Internal.LoggingEnabled"));

    load(L"{}");
    EXPECT_EQ(section.toJson(false), L"{\n}\n");
}

TEST_F(ConfigSectionTest, LoadingAnEmptyTextKeepsTheTree)
{
    section.setValue(L"A", L"1");
    EXPECT_TRUE(section.loadFromJson(L""));
    EXPECT_EQ(section.getValue<int>(L"A"), 1);
    EXPECT_EQ(lines(), Lines {});
}

TEST_F(ConfigSectionTest, UnparseableTextIsLoggedWithItsLineAndKeepsTheTree)
{
    section.setValue(L"A", L"1");
    EXPECT_FALSE(section.loadFromJson(L"{"));
    EXPECT_FALSE(section.loadFromJson(L"{\n  \"a\": \"1\",\n  \"b\": }\n"));
    EXPECT_FALSE(section.loadFromJson(L"not json"));
    EXPECT_EQ(section.getValue<int>(L"A"), 1);
    EXPECT_EQ(lines(), (Lines { "Error reading json/xml config:   on line:  1",
                                "Error reading json/xml config:   on line:  3",
                                "Error reading json/xml config:   on line:  1" }));
}

TEST_F(ConfigSectionTest, ScalarsKeepTheirLiteralText)
{
    load(L"{\"v\": null, \"n\": 12, \"t\": true, \"f\": false, \"d\": -1.5e3, \"s\": \"12\"}");
    EXPECT_EQ(section.getValue<std::wstring>(L"v"), L"null");
    EXPECT_EQ(section.getValue<std::wstring>(L"n"), L"12");
    EXPECT_EQ(section.getValue<int>(L"n"), 12);
    EXPECT_EQ(section.getValue<std::wstring>(L"t"), L"true");
    EXPECT_FALSE(section.getValue<bool>(L"f"));
    EXPECT_EQ(section.getValue<std::wstring>(L"d"), L"-1.5e3");
    // Written back, every leaf is a string.
    EXPECT_EQ(section.toJson(false), L"{\n"
                                     L"    \"v\": \"null\",\n"
                                     L"    \"n\": \"12\",\n"
                                     L"    \"t\": \"true\",\n"
                                     L"    \"f\": \"false\",\n"
                                     L"    \"d\": \"-1.5e3\",\n"
                                     L"    \"s\": \"12\"\n"
                                     L"}\n");
}

TEST_F(ConfigSectionTest, WrittenTextEscapesAsTheJsonWriterDoes)
{
    load(L"{\"list\": [\"a\", \"b\"], \"text\": \"\\u00e9\\u0100 \\\"q\\\" a/b \\\\ \\n\\t\\u0001\"}");
    EXPECT_EQ(section.getValue<std::wstring>(L"text"), L"\u00e9\u0100 \"q\" a/b \\ \n\t\u0001");
    EXPECT_EQ(section.toJson(false), L"{\n"
                                     L"    \"list\": [\n"
                                     L"        \"a\",\n"
                                     L"        \"b\"\n"
                                     L"    ],\n"
                                     L"    \"text\": \"\u00e9\\u0100 \\\"q\\\" a\\/b \\\\ \\n\\t\\u0001\"\n"
                                     L"}\n");
}

TEST_F(ConfigSectionTest, SkipHiddenLeavesOutOnlyTheTopLevelHiddenBranch)
{
    section.setValue(L"Hidden.VpnUser.password", L"secret");
    section.setValue(L"Internal.ovpnRequiredState", true);
    section.setValue(L"Internal.Hidden", L"shown");
    section.setValue(L"hidden", L"lower case is another key");
    const std::wstring secure = section.toJson(true);
    EXPECT_EQ(secure, L"{\n"
                      L"    \"Internal\": {\n"
                      L"        \"ovpnRequiredState\": \"true\",\n"
                      L"        \"Hidden\": \"shown\"\n"
                      L"    },\n"
                      L"    \"hidden\": \"lower case is another key\"\n"
                      L"}\n");
    const std::wstring full = section.toJson(false);
    EXPECT_NE(full.find(L"\"Hidden\": {"), std::wstring::npos);
    EXPECT_NE(full.find(L"secret"), std::wstring::npos);
    EXPECT_NE(full.find(L"\"Internal\""), std::wstring::npos);
}

TEST_F(ConfigSectionTest, ValueBesideChildrenCannotBeWritten)
{
    // No write makes such a tree any more; a subtree put whole still can.
    ConfigSection::Tree mixed(L"x");
    mixed.put(L"B", L"y");
    section.putChild(L"A", mixed);
    EXPECT_EQ(section.toJson(false), L"");
    EXPECT_EQ(section.toJson(true), L"");
    EXPECT_EQ(lines(), (Lines { "Error writing json/xml config:   on line:  0",
                                "Error writing json/xml config:   on line:  0" }));
}

TEST_F(ConfigSectionTest, ValueAtTheRootCannotBeWritten)
{
    section.putChild(L"", ConfigSection::Tree(L"x"));
    EXPECT_EQ(section.toJson(false), L"");
    EXPECT_EQ(lines(), (Lines { "Error writing json/xml config:   on line:  0" }));
}

class RefusedClientWrite : public SettingsLogFixture, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(RefusedClientWrite, ChangesNothingAndLeavesTheSectionWritable)
{
    ConfigSection section(L"x");
    ASSERT_TRUE(section.loadFromJson(L"{\"Internal\": {\"ovpnRequiredState\": \"false\"}, "
                                     L"\"Hidden\": {\"VpnUser\": {\"token\": \"t\"}}, \"a\": {\"b\": \"1\"}}"));
    const std::wstring before = section.toJson(false);
    EXPECT_FALSE(section.trySetValue(GetParam(), L"value"));
    EXPECT_EQ(section.toJson(false), before);
}

INSTANTIATE_TEST_SUITE_P(ConfigSection, RefusedClientWrite,
                         ::testing::Values(L"", L".", L"a..b", L"a.", L".a", L"a.b.", L"Internal", L"Hidden",
                                           L"Hidden.VpnUser", L"Internal.ovpnRequiredState.x",
                                           L"Hidden.VpnUser.token.deeper.still"));

TEST_F(ConfigSectionTest, ClientWritesThatFitAreStored)
{
    load(L"{\"Internal\": {\"ovpnRequiredState\": \"false\"}, \"Hidden\": {\"VpnUser\": \"\"}}");
    EXPECT_TRUE(section.trySetValue(L"Internal.ovpnRequiredState", L"true"));
    EXPECT_TRUE(section.trySetValue(L"New.branch.key", L"v"));
    EXPECT_TRUE(section.trySetValue(L"New.branch.empty", L""));
    // An emptied folder (what the log-out leaves) holds no value: it takes the next login.
    EXPECT_TRUE(section.trySetValue(L"Hidden.VpnUser.login", L"me@example.com"));
    EXPECT_EQ(section.getValue<std::wstring>(L"Internal.ovpnRequiredState"), L"true");
    EXPECT_EQ(section.getValue<std::wstring>(L"New.branch.key"), L"v");
    EXPECT_EQ(section.listSettings(L"New.branch"), (Keys { L"key", L"empty" }));
    EXPECT_EQ(section.getValue<std::wstring>(L"Hidden.VpnUser.login"), L"me@example.com");
    EXPECT_NE(section.toJson(false), L"");
}

TEST_F(ConfigSectionTest, TheServicesWritesDropWhatAClientLeftInTheirWay)
{
    // A client may turn a branch into a setting or a setting into a branch, once it removed them.
    ASSERT_TRUE(section.trySetValue(L"Internal", L"client text"));
    ASSERT_TRUE(section.trySetValue(L"Hidden.VpnUser.token.a", L"1"));
    section.setValue(L"Internal.ovpnRequiredState", true);
    section.setValue(L"Hidden.VpnUser.token", L"the token");
    EXPECT_TRUE(section.getValue<bool>(L"Internal.ovpnRequiredState"));
    EXPECT_EQ(section.getValue<std::wstring>(L"Internal"), L"");
    EXPECT_EQ(section.getValue<std::wstring>(L"Hidden.VpnUser.token"), L"the token");
    EXPECT_FALSE(section.hasValue(L"Hidden.VpnUser.token.a"));
    EXPECT_EQ(section.toJson(false), L"{\n"
                                     L"    \"Internal\": {\n"
                                     L"        \"ovpnRequiredState\": \"true\"\n"
                                     L"    },\n"
                                     L"    \"Hidden\": {\n"
                                     L"        \"VpnUser\": {\n"
                                     L"            \"token\": \"the token\"\n"
                                     L"        }\n"
                                     L"    }\n"
                                     L"}\n");
    EXPECT_EQ(lines(), (Lines {
                           "[ERROR]:\t ConfigSection::setValue dropped what a client had stored in the way of "
                           "Internal.ovpnRequiredState ",
                           "[ERROR]:\t ConfigSection::setValue dropped what a client had stored in the way of "
                           "Hidden.VpnUser.token " }));
}

TEST_F(ConfigSectionTest, TheServicesWritesNeedAWholePath)
{
    for (const wchar_t* path : { L"", L"a..b", L"a.", L".a" })
        EXPECT_THROW(section.setValue(path, L"x"), std::invalid_argument) << toNarrowString(path);
    EXPECT_EQ(section.toJson(false), L"{\n}\n");
}

TEST_F(ConfigSectionTest, ConcurrentReadersAndWritersSeeWholeValues)
{
    constexpr int Writers = 4;
    constexpr int Rounds = 200;
    constexpr int Reads = 40;
    std::vector<std::thread> threads;
    for (int w = 0; w < Writers; ++w) {
        threads.emplace_back([this, w] {
            for (int i = 0; i < Rounds; ++i)
                section.setValue(L"Writers.w" + std::to_wstring(w) + L".n" + std::to_wstring(i), i);
        });
        threads.emplace_back([this, w] {
            for (int i = 0; i < Reads; ++i) {
                ConfigSection copy(L"copy");
                EXPECT_TRUE(copy.loadFromJson(section.toJson(false)));
                section.listSettings(L"Writers.w" + std::to_wstring(w));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int w = 0; w < Writers; ++w)
        EXPECT_EQ(section.listSettings(L"Writers.w" + std::to_wstring(w)).size(), static_cast<size_t>(Rounds));
}

TEST(ConfigSectionLock, ExcludesOtherHoldersFromItsFirstUseOn)
{
    // A fresh section's lock first taken by several threads at once, exclusively and shared.
    constexpr int Rounds = 500;
    constexpr int Threads = 4;
    std::atomic<int> overlaps { 0 };
    for (int round = 0; round < Rounds; ++round) {
        ConfigSection section(L"x");
        std::atomic<int> ready { 0 };
        std::atomic<int> writers { 0 };
        std::atomic<int> readers { 0 };
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t)
            threads.emplace_back([&, t] {
                ++ready;
                while (ready < Threads) {
                }
                if (t % 2 == 0) {
                    std::unique_lock lock(section.mutex);
                    if (writers++ != 0 || readers != 0)
                        ++overlaps;
                    std::this_thread::yield();
                    --writers;
                } else {
                    std::shared_lock lock(section.mutex);
                    ++readers;
                    if (writers != 0)
                        ++overlaps;
                    std::this_thread::yield();
                    --readers;
                }
            });
        for (auto& thread : threads)
            thread.join();
    }
    EXPECT_EQ(overlaps, 0);
}

TEST(ConfigSectionLock, SharedAndExclusiveHoldsOfManySectionsAtOnceNeverHang)
{
    // Two threads holding sections' locks exclusively and one holding them shared, round and round
    // many sections: the mix that hangs a faulty reader/writer lock within a second or so.
    constexpr int Sections = 128;
    std::vector<std::unique_ptr<ConfigSection>> sections;
    for (int i = 0; i < Sections; ++i)
        sections.push_back(std::make_unique<ConfigSection>(L"section" + std::to_wstring(i)));
    std::atomic<int> running { 3 };
    const auto goRound = [&](bool exclusive) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (unsigned i = 0; std::chrono::steady_clock::now() < end; ++i) {
            ConfigSection& section = *sections[i % Sections];
            if (exclusive)
                std::unique_lock lock(section.mutex);
            else
                std::shared_lock lock(section.mutex);
        }
        --running;
    };
    std::vector<std::thread> threads;
    threads.emplace_back(goRound, false);
    threads.emplace_back(goRound, true);
    threads.emplace_back(goRound, true);

    for (int waited = 0; running > 0 && waited < 60000; waited += 50)
        Sleep(50);
    if (running > 0) {
        // The threads hang inside the lock: nothing can end them but the end of the process.
        ADD_FAILURE() << running << " of 3 threads still wait for a section's lock after a minute";
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    for (auto& thread : threads)
        thread.join();
}
