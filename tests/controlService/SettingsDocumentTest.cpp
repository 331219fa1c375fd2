// Settings documents on disk: the save with its backups, the load, and what reaches the log.
#include "SettingsStoreFixture.h"

#include "settings/AsciiJson.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "LinuxProcesses.h"
#include "StringHelpers.h"
#include "WinePaths.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>

#include <algorithm>

using Names = std::vector<std::wstring>;

namespace {

const std::wstring Document = L"settings.params";
const std::wstring Backup = L"settings.params.bak";
const std::wstring SecondBackup = L"settings.params.bak.bak";

// The document format with a key other than the store's.
std::string encryptWithOtherKey(std::string plain)
{
    const unsigned char key[16] = { 'a', 'n', 'o', 't', 'h', 'e', 'r', ' ', 'k', 'e', 'y', ' ', '1', '2', '3', '4' };
    AES_KEY schedule {};
    AES_set_encrypt_key(key, 128, &schedule);
    plain.resize((plain.size() + 15) / 16 * 16, '\0');
    std::string cipher(plain.size(), '\0');
    for (size_t offset = 0; offset < plain.size(); offset += 16)
        AES_encrypt(reinterpret_cast<const unsigned char*>(plain.data()) + offset,
                    reinterpret_cast<unsigned char*>(&cipher[0]) + offset, &schedule);
    return cipher;
}

} // namespace

class SettingsDocumentTest : public SettingsStoreFixture {
protected:
    // A manager as the service has it at start: defaults written, then the document loaded.
    std::unique_ptr<ConfigManager> startManager()
    {
        auto manager = std::make_unique<ConfigManager>(store.path());
        setDefaultUpdateIntervals(manager->generalSection());
        manager->generalSection().loadAndDecrypt();
        return manager;
    }

    void saveDocumentWith(const std::wstring& token)
    {
        auto manager = startManager();
        manager->generalSection().setValue(SettingsKeys::VpnUserToken, token);
        manager->saveMainSettings();
    }
};

TEST_F(SettingsDocumentTest, FirstStartReadsDefaultsAndTheFirstSaveLeavesNoBackup)
{
    auto manager = startManager();
    ConfigSection& general = manager->generalSection();
    EXPECT_EQ(general.filePath, document(Document));
    EXPECT_EQ(general.getValue<long>(SettingsKeys::UpdateRequestInterval), 86400);
    EXPECT_EQ(general.getValue<long>(SettingsKeys::UpdateRequestIntervalIfFailed), 3600);
    EXPECT_EQ(countLines("Config file " + narrowDocument(Document) + "  empty, nothing to load."), 1u);

    manager->saveMainSettings();
    EXPECT_EQ(filesInStore(), (Names { Document }));
    EXPECT_EQ(countLines(narrowDocument(Document) + " saved"), 1u);
    // The file is the ciphertext of the JSON text and nothing else.
    EXPECT_EQ(decryptedDocument(Document), "{\n"
                                           "    \"UpdatableSettings\": {\n"
                                           "        \"updateRequestInterval\": \"86400\",\n"
                                           "        \"updateRequestIntervalIfFailed\": \"3600\"\n"
                                           "    }\n"
                                           "}\n");
}

TEST_F(SettingsDocumentTest, LoadedDocumentReplacesTheDefaults)
{
    {
        ConfigManager manager(store.path());
        manager.generalSection().setValue(SettingsKeys::OvpnControlPort, 6000);
        manager.saveMainSettings();
    }
    auto manager = startManager();
    ConfigSection& general = manager->generalSection();
    EXPECT_EQ(general.getValue<int>(SettingsKeys::OvpnControlPort), 6000);
    EXPECT_FALSE(general.hasValue(SettingsKeys::UpdateRequestInterval));
    EXPECT_EQ(countLines("Load and decrypt config/section file:  " + narrowDocument(Document)), 1u);
}

TEST_F(SettingsDocumentTest, AnExistingBackupIsLeftAloneAndTheSecondOneRemoved)
{
    saveDocumentWith(L"first");
    writeWholeFile(document(Backup), "an older backup");
    saveDocumentWith(L"second");
    EXPECT_EQ(filesInStore(), (Names { Document, Backup }));
    EXPECT_EQ(readWholeFile(document(Backup)), "an older backup");
    EXPECT_NE(decryptedDocument(Document).find("\"token\": \"second\""), std::string::npos);
}

TEST_F(SettingsDocumentTest, DocumentUnderAnotherKeyKeepsTheDefaults)
{
    writeWholeFile(document(Document), encryptWithOtherKey("{\"UpdatableSettings\": {\"updateRequestInterval\": \"5\"}}\n"));
    auto manager = startManager();
    EXPECT_EQ(manager->generalSection().getValue<long>(SettingsKeys::UpdateRequestInterval), 86400);
    EXPECT_TRUE(logHasInOrder({ "Load and decrypt config/section file:  " + narrowDocument(Document) }));
    EXPECT_EQ(countLines("Error reading json/xml config:   on line:  1"), 1u);
    // Not a missing document: no backup is looked for and the next save overwrites it.
    manager->saveMainSettings();
    EXPECT_EQ(filesInStore(), (Names { Document }));
    EXPECT_NE(decryptedDocument(Document).find("86400"), std::string::npos);
}

TEST_F(SettingsDocumentTest, LoggedCopyLeavesOutTheCredentialsThatTheFileHolds)
{
    auto manager = startManager();
    ConfigSection& general = manager->generalSection();
    general.setValue(SettingsKeys::VpnUserLogin, L"me@example.com");
    general.setValue(SettingsKeys::VpnUserPassword, L"s3cret-password");
    general.setValue(SettingsKeys::OvpnRequiredState, true);
    manager->saveMainSettings();

    const std::string log = logText();
    const std::string heading = "Saving and encrypting file: " + narrowDocument(Document) + " with data (secure):\r\n {";
    EXPECT_NE(log.find(heading), std::string::npos) << log;
    EXPECT_NE(log.find("\"ovpnRequiredState\": \"true\""), std::string::npos);
    EXPECT_EQ(log.find("Hidden"), std::string::npos);
    EXPECT_EQ(log.find("s3cret-password"), std::string::npos);
    EXPECT_EQ(log.find("me@example.com"), std::string::npos);

    const std::string stored = decryptedDocument(Document);
    EXPECT_NE(stored.find("\"Hidden\""), std::string::npos);
    EXPECT_NE(stored.find("\"password\": \"s3cret-password\""), std::string::npos);
}

TEST_F(SettingsDocumentTest, SaveInterruptedAfterTheMoveLosesNothing)
{
    saveDocumentWith(L"account-token");
    // What a save that died between its two steps leaves behind.
    ASSERT_TRUE(MoveFileW(document(Document).c_str(), document(Backup).c_str()));

    auto manager = startManager();
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"account-token");
    EXPECT_TRUE(logHasInOrder({ "Config file " + narrowDocument(Document) + "  empty, loading its newest backup " +
                                    narrowDocument(Backup),
                                "Load and decrypt config/section file:  " + narrowDocument(Backup) }));

    manager->saveMainSettings();
    EXPECT_EQ(filesInStore(), (Names { Document }));
    auto restarted = startManager();
    EXPECT_EQ(restarted->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"account-token");
}

TEST_F(SettingsDocumentTest, EmptyDocumentFallsBackToTheNewestBackup)
{
    // Two saves that each died after moving the document aside: the second backup is the newer.
    saveDocumentWith(L"older");
    const std::string older = readWholeFile(document(Document));
    saveDocumentWith(L"newer");
    writeWholeFile(document(Backup), older);
    ASSERT_TRUE(MoveFileW(document(Document).c_str(), document(SecondBackup).c_str()));
    writeWholeFile(document(Document), "");

    auto manager = startManager();
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"newer");
    manager->saveMainSettings();
    EXPECT_EQ(filesInStore(), (Names { Document }));
}

TEST_F(SettingsDocumentTest, EmptyNewestBackupGivesWayToAnOlderOne)
{
    saveDocumentWith(L"kept");
    ASSERT_TRUE(MoveFileW(document(Document).c_str(), document(Backup).c_str()));
    writeWholeFile(document(SecondBackup), "");
    auto manager = startManager();
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"kept");
}

TEST_F(SettingsDocumentTest, SectionThatCannotBeWrittenKeepsTheStoredDocumentAndSaysSoEachTime)
{
    saveDocumentWith(L"account-token");
    const std::string before = readWholeFile(document(Document));

    auto manager = startManager();
    ConfigSection::Tree mixed(L"value");
    mixed.put(L"child", L"value");
    manager->generalSection().putChild(L"Mixed", mixed);
    Logger::instance().setLoggingEnabled(false);
    manager->saveMainSettings();
    manager->saveMainSettings();

    EXPECT_EQ(readWholeFile(document(Document)), before);
    EXPECT_EQ(filesInStore(), (Names { Document }));
    const std::string skipped = "[ERROR]:\t `anonymous-namespace'::saveToEncryptedFile Settings cannot be written as "
                                "JSON, keeping the stored document " + narrowDocument(Document) + " ";
    EXPECT_EQ(countLines(skipped), 2u) << logText();
}

TEST_F(SettingsDocumentTest, ServiceWritesOverWhatAClientLeftInTheirWayAreSaved)
{
    // A client's value where the service keeps a branch, and a client's branch where it keeps a value.
    auto manager = startManager();
    ConfigSection& general = manager->generalSection();
    general.setValue(L"Internal", L"client text");
    general.setValue(SettingsKeys::OvpnRequiredState, true);
    general.setValue(L"Hidden.VpnUser.token.child", L"client text");
    general.setValue(SettingsKeys::VpnUserToken, L"account-token");
    manager->saveMainSettings();

    auto restarted = startManager();
    EXPECT_TRUE(restarted->generalSection().getValue<bool>(SettingsKeys::OvpnRequiredState));
    EXPECT_EQ(restarted->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"account-token");
}

TEST_F(SettingsDocumentTest, DocumentHeldOpenByAnotherProgramOutlivesTheFailedSave)
{
    saveDocumentWith(L"stored-token");
    const std::string before = readWholeFile(document(Document));
    {
        // Open without sharing writes or deletes: the document can be neither moved nor rewritten.
        HANDLE held = CreateFileW(document(Document).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        saveDocumentWith(L"newer-token");
        CloseHandle(held);
    }
    EXPECT_EQ(countLines("Error occurred while saving " + narrowDocument(Document)), 1u);
    EXPECT_EQ(filesInStore(), (Names { Document }));
    EXPECT_EQ(readWholeFile(document(Document)), before);
    EXPECT_EQ(startManager()->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"stored-token");
}

// What takes the new document's place once the old one has moved to its backup. Wine finds a file
// by a name in other letter case when the exact name is missing, so an entry "SETTINGS.PARAMS",
// made on the Linux side beside the document, is where the save's write lands, and fails.
struct FailedWrite {
    const char* name;
    const char* makeEntry;     // shell command, run in the store's Linux folder
    DWORD share;               // how the test holds that entry open during the save, 0: not at all
    Names filesAfterSave;      // besides the backup
    const char* cleanupLine;   // logged after "Error occurred while saving", or nothing
};

void PrintTo(const FailedWrite& c, std::ostream* out)
{
    *out << c.name;
}

class FailedWriteOverADocument : public SettingsDocumentTest, public ::testing::WithParamInterface<FailedWrite> {};

TEST_P(FailedWriteOverADocument, KeepsTheBackupAndTheNextLoadRecoversFromIt)
{
    const FailedWrite& c = GetParam();
    saveDocumentWith(L"stored-token");
    const std::string stored = readWholeFile(document(Document));
    const auto folder = linuxPathOf(store.path());
    ASSERT_TRUE(folder.has_value());
    ASSERT_EQ(runLinuxShell("cd " + shellQuoted(toNarrowString(*folder)) + " && " + c.makeEntry, 30000), 0);
    const std::wstring entry = document(L"SETTINGS.PARAMS");
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.share != 0) {
        held = CreateFileW(entry.c_str(), GENERIC_READ, c.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    saveDocumentWith(L"newer-token");
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);

    std::vector<std::string> expected = { "Error occurred while saving " + narrowDocument(Document) };
    if (c.cleanupLine != nullptr)
        expected.push_back(std::string("`anonymous-namespace'::saveToEncryptedFile ") + c.cleanupLine + " "
                           + narrowDocument(Document));
    EXPECT_TRUE(logHasInOrder(expected)) << logText();
    Names files = c.filesAfterSave;
    files.push_back(Backup);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(filesInStore(), files);
    EXPECT_EQ(readWholeFile(document(Backup)), stored);

    // The next start reads the backup; its first save writes the document and drops the backup.
    auto restarted = startManager();
    EXPECT_EQ(restarted->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"stored-token");
    DeleteFileW(entry.c_str());
    RemoveDirectoryW(entry.c_str());
    restarted->saveMainSettings();
    EXPECT_EQ(startManager()->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"stored-token");
    EXPECT_FALSE(fileExists(document(Backup)));
}

INSTANTIATE_TEST_SUITE_P(
    SettingsDocument, FailedWriteOverADocument,
    ::testing::Values(
        // A file opened without sharing writes: the write fails and the file is deleted.
        FailedWrite { "BrokenFileDeleted", "printf foreign > SETTINGS.PARAMS", FILE_SHARE_READ | FILE_SHARE_DELETE,
                      {}, nullptr },
        // A folder: neither written nor deleted, so it is moved aside.
        FailedWrite { "BrokenEntryMovedAside", "mkdir SETTINGS.PARAMS", 0, { Document + L".DeleteMe" }, nullptr },
        // Neither deleted nor moved while held.
        FailedWrite { "BrokenFileLeft", "printf foreign > SETTINGS.PARAMS", FILE_SHARE_READ, { L"SETTINGS.PARAMS" },
                      "Cant remove or move file" }),
    [](const ::testing::TestParamInfo<FailedWrite>& info) { return std::string(info.param.name); });

TEST_F(SettingsDocumentTest, EmptyDirectoryInTheWayIsRemoved)
{
    ASSERT_TRUE(CreateDirectoryW(document(Document).c_str(), nullptr));
    saveDocumentWith(L"t");
    EXPECT_EQ(filesInStore(), (Names { Document }));
    EXPECT_NE(decryptedDocument(Document).find("\"token\": \"t\""), std::string::npos);
}

TEST_F(SettingsDocumentTest, FullDirectoryInTheWayIsMovedAside)
{
    ASSERT_TRUE(CreateDirectoryW(document(Document).c_str(), nullptr));
    writeWholeFile(document(Document) + L"\\inside", "x");
    saveDocumentWith(L"t");
    EXPECT_EQ(filesInStore(), (Names { Document, Document + L".DeleteMe" }));
    EXPECT_EQ(readWholeFile(document(Document) + L".DeleteMe\\inside"), "x");
    EXPECT_NE(decryptedDocument(Document).find("\"token\": \"t\""), std::string::npos);
}

TEST_F(SettingsDocumentTest, DirectoryThatCannotBeMovedFailsTheSaveWithItsLines)
{
    ASSERT_TRUE(CreateDirectoryW(document(Document).c_str(), nullptr));
    writeWholeFile(document(Document) + L"\\inside", "x");
    writeWholeFile(document(Document) + L".DeleteMe", "in the way too");
    saveDocumentWith(L"t");
    EXPECT_TRUE(logHasInOrder({ "`anonymous-namespace'::saveToEncryptedFile Can't remove or move directory " +
                                    narrowDocument(Document),
                                "Error occurred while saving " + narrowDocument(Document) }));
    EXPECT_EQ(readWholeFile(document(Document) + L"\\inside"), "x");
    EXPECT_EQ(readWholeFile(document(Document) + L".DeleteMe"), "in the way too");
}

TEST_F(SettingsDocumentTest, TextOfEveryScriptIsStoredAsAsciiAndReadBackWhole)
{
    // Characters from several code pages, one beyond the first plane, and one of Latin-1's control
    // range that no ANSI code page holds.
    const std::vector<std::pair<std::wstring, std::wstring>> values = {
        { L"Text.cyrillic", L"\u041F\u0430\u0440\u043E\u043B\u044C" },
        { L"Text.greek", L"\u039A\u03C9\u03B4\u03B9\u03BA\u03CC\u03C2" },
        { L"Text.cjk", L"\u5BC6\u7801" },
        { L"Text.emoji", L"smile \U0001F600" },
        { L"Text.latin1", L"caf\u00E9 \u00A4 \u00FF" },
        { L"Text.c1", L"\u0085\u009F" },
        { L"Text.\u00E9\u043A\u043B\u044E\u0447", L"key outside ASCII" },
        { SettingsKeys::VpnUserLogin, L"\u00FC\u0161er@\u4F8B\u3048.example" },
    };
    {
        auto manager = startManager();
        for (const auto& [key, value] : values)
            manager->generalSection().setValue(key, value);
        manager->saveMainSettings();
    }
    const std::string stored = decryptedDocument(Document);
    EXPECT_EQ(std::count_if(stored.begin(), stored.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }), 0)
        << stored;
    EXPECT_NE(stored.find("\"cjk\": \"\\u5BC6\\u7801\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"emoji\": \"smile \\uD83D\\uDE00\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"latin1\": \"caf\\u00E9 \\u00A4 \\u00FF\""), std::string::npos) << stored;

    auto restarted = startManager();
    for (const auto& [key, value] : values)
        EXPECT_EQ(restarted->generalSection().getValue<std::wstring>(key), value) << toNarrowString(key);
}

TEST_F(SettingsDocumentTest, DocumentOfAnEarlierVersionWithLatin1TextIsStillRead)
{
    // Such documents carry U+0080..U+00FF as bytes of the ANSI code page.
    writeWholeFile(document(Document),
                   encryptString(toNarrowString(L"{\n    \"Hidden\": {\n        \"VpnUser\": {\n"
                                                L"            \"login\": \"ren\u00E9@caf\u00E9.example\"\n"
                                                L"        }\n    }\n}\n")));
    auto manager = startManager();
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserLogin), L"ren\u00E9@caf\u00E9.example");
}

TEST_F(SettingsDocumentTest, AnUnpairedSurrogateCostsOnlyItself)
{
    // A pipe client's text need not be well-formed UTF-16; the JSON reader refuses the escape of
    // a lone surrogate, and with it the whole document.
    {
        auto manager = startManager();
        manager->generalSection().setValue(L"Text.lone", std::wstring(L"a") + wchar_t(0xD800) + L"b" + wchar_t(0xDC00));
        manager->generalSection().setValue(SettingsKeys::VpnUserToken, L"account-token");
        manager->saveMainSettings();
    }
    auto restarted = startManager();
    EXPECT_EQ(restarted->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"account-token");
    EXPECT_EQ(restarted->generalSection().getValue<std::wstring>(L"Text.lone"), L"a\uFFFDb\uFFFD");
}

TEST_F(SettingsDocumentTest, AnEarlierVersionsDocumentWithAnUnpairedSurrogateIsStillRead)
{
    writeWholeFile(document(Document),
                   encryptString("{\n    \"Text\": {\n        \"lone\": \"\\uDC00x\\uD800\"\n    },\n"
                                 "    \"Hidden\": {\n        \"VpnUser\": {\n            \"token\": \"t\"\n        }\n    }\n}\n"));
    auto manager = startManager();
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"t");
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(L"Text.lone"), L"\uFFFDx\uFFFD");
}

struct AsciiCase {
    const char* name;
    std::wstring json;
    std::string ascii;
};

class AsciiJsonText : public ::testing::TestWithParam<AsciiCase> {};

TEST_P(AsciiJsonText, EscapesWhatIsAbove0x7FAndReplacesLoneSurrogates)
{
    EXPECT_EQ(toAsciiJson(GetParam().json), GetParam().ascii);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsDocument, AsciiJsonText,
    ::testing::Values(
        AsciiCase { "SevenBitTextStays", L"{\n    \"a\": \"b \\\" \\\\ \\/ \\n\\u0001\"\n}\n",
                    "{\n    \"a\": \"b \\\" \\\\ \\/ \\n\\u0001\"\n}\n" },
        AsciiCase { "Latin1IsEscaped", L"\"caf\u00E9\u0080\u00FF\"", "\"caf\\u00E9\\u0080\\u00FF\"" },
        AsciiCase { "RawUnitsAboveLatin1AreEscaped", L"\"\u0416\u5BC6\"", "\"\\u0416\\u5BC6\"" },
        AsciiCase { "RawPairGivesTwoEscapes", L"\"\U0001F600\"", "\"\\uD83D\\uDE00\"" },
        AsciiCase { "EscapedPairStays", L"\"\\uD83D\\uDE00\"", "\"\\uD83D\\uDE00\"" },
        AsciiCase { "LowerCaseEscapesAreKept", L"\"\\u00e9\\ud83d\\ude00\"", "\"\\u00E9\\uD83D\\uDE00\"" },
        AsciiCase { "LoneEscapedSurrogatesAreReplaced", L"\"\\uD800x\\uDC00\\uDBFF\"",
                    "\"\\uFFFDx\\uFFFD\\uFFFD\"" },
        AsciiCase { "LoneRawSurrogatesAreReplaced", std::wstring(L"\"") + wchar_t(0xDC00) + wchar_t(0xD800) + L"\"",
                    "\"\\uFFFD\\uFFFD\"" },
        AsciiCase { "EscapedBackslashBeforeUIsNoEscape", L"\"\\\\uD800\"", "\"\\\\uD800\"" },
        AsciiCase { "UWithoutFourHexDigitsIsLeftToTheReader", L"\"\\u12\"", "\"\\u12\"" }),
    [](const ::testing::TestParamInfo<AsciiCase>& info) { return std::string(info.param.name); });
