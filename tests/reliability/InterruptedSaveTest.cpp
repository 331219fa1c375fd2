// What a save that died half-way leaves behind, loaded again: the previous document moved to its
// backup and the new one written only in part. The load finds the backup's settings, not the
// defaults, and the next save writes them back and removes the backups.
#include "SettingsStoreFixture.h"

#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

using Names = std::vector<std::wstring>;

namespace {

const std::wstring Document = L"settings.params";
const std::wstring Backup = L"settings.params.bak";
const std::wstring SecondBackup = L"settings.params.bak.bak";

struct Remains {
    const char* name;
    // How many bytes of the new document (of `whole`) reached the disk.
    size_t (*written)(size_t whole);
    // Zeros in place of those bytes, as a crash before the data reached the disk can leave.
    bool zeros;
};

void PrintTo(const Remains& remains, std::ostream* out)
{
    *out << remains.name;
}

} // namespace

class InterruptedSave : public SettingsStoreFixture, public ::testing::WithParamInterface<Remains> {
protected:
    // A manager as the service has it at start: defaults written, then the document loaded.
    std::unique_ptr<ConfigManager> startManager()
    {
        auto manager = std::make_unique<ConfigManager>(store.path());
        setDefaultUpdateIntervals(manager->generalSection());
        manager->generalSection().loadAndDecrypt();
        return manager;
    }

    // The document as a save with these values writes it.
    std::string savedDocument(const std::wstring& token, int interval)
    {
        auto manager = startManager();
        manager->generalSection().setValue(SettingsKeys::VpnUserToken, token);
        manager->generalSection().setValue(SettingsKeys::UpdateRequestInterval, interval);
        manager->saveMainSettings();
        return readWholeFile(document(Document));
    }

    // The remains of the save of `newer` over `older`: the previous document as the backup, the
    // new one in part.
    void interruptedSave(const std::string& older, const std::string& newer)
    {
        const Remains& remains = GetParam();
        const size_t written = remains.written(newer.size());
        writeWholeFile(document(Backup), older);
        writeWholeFile(document(Document), remains.zeros ? std::string(written, '\0') : newer.substr(0, written));
    }
};

TEST_P(InterruptedSave, LoadsTheBackupNotTheDefaults)
{
    const std::string older = savedDocument(L"saved-token", 1234);
    const std::string newer = savedDocument(L"newer-token", 4321);
    interruptedSave(older, newer);

    auto manager = startManager();
    ConfigSection& general = manager->generalSection();
    EXPECT_EQ(general.getValue<std::wstring>(SettingsKeys::VpnUserToken), L"saved-token");
    EXPECT_EQ(general.getValue<long>(SettingsKeys::UpdateRequestInterval), 1234);

    // The next save stores what was loaded and leaves no backup behind.
    manager->saveMainSettings();
    EXPECT_EQ(filesInStore(), (Names { Document }));
    EXPECT_EQ(readWholeFile(document(Document)), older);
}

INSTANTIATE_TEST_SUITE_P(
    Remains, InterruptedSave,
    ::testing::Values(Remains { "NothingWritten", [](size_t) -> size_t { return 0; }, false },
                      Remains { "OneBlock", [](size_t) -> size_t { return 16; }, false },
                      Remains { "Half", [](size_t whole) { return whole / 2; }, false },
                      Remains { "AllButTheLastByte", [](size_t whole) { return whole - 1; }, false },
                      Remains { "ZerosOfFullLength", [](size_t whole) { return whole; }, true }),
    [](const ::testing::TestParamInfo<Remains>& info) { return std::string(info.param.name); });

TEST_F(SettingsStoreFixture, ABrokenDocumentWithoutABackupStillGivesTheDefaults)
{
    {
        auto manager = std::make_unique<ConfigManager>(store.path());
        manager->generalSection().setValue(SettingsKeys::VpnUserToken, L"lost");
        manager->saveMainSettings();
    }
    const std::string whole = readWholeFile(document(Document));
    writeWholeFile(document(Document), whole.substr(0, whole.size() / 2));

    auto manager = std::make_unique<ConfigManager>(store.path());
    setDefaultUpdateIntervals(manager->generalSection());
    manager->generalSection().loadAndDecrypt();
    EXPECT_EQ(manager->generalSection().getValue<long>(SettingsKeys::UpdateRequestInterval), 86400);
    EXPECT_FALSE(manager->generalSection().hasValue(SettingsKeys::VpnUserToken));
    EXPECT_EQ(filesInStore(), (Names { Document }));
}

TEST_F(SettingsStoreFixture, ABrokenNewestBackupGivesWayToAnOlderOne)
{
    {
        auto manager = std::make_unique<ConfigManager>(store.path());
        manager->generalSection().setValue(SettingsKeys::VpnUserToken, L"oldest");
        manager->saveMainSettings();
    }
    const std::string whole = readWholeFile(document(Document));
    ASSERT_TRUE(MoveFileW(document(Document).c_str(), document(Backup).c_str()));
    writeWholeFile(document(SecondBackup), whole.substr(0, whole.size() / 2));
    writeWholeFile(document(Document), whole.substr(0, 16));

    auto manager = std::make_unique<ConfigManager>(store.path());
    manager->generalSection().loadAndDecrypt();
    EXPECT_EQ(manager->generalSection().getValue<std::wstring>(SettingsKeys::VpnUserToken), L"oldest");
}
