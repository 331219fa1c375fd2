// The service killed hard (SIGKILL to its Linux process) while its pipe clients keep saving
// settings, then started again, round after round: every setting whose save had finished before
// the kill is still there, in the users' documents and in the general one.
#include "ReliabilityService.h"

#include <atomic>
#include <iostream>
#include <map>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int Rounds = 8;
// Each client's writes in one round, at most: the kill normally comes long before.
constexpr int WritesPerRound = 2000;
// Each client cycles through this many keys, so its document keeps a steady size.
constexpr int Slots = 24;

// A client of the pipe that saves one setting after another. Pipe requests are served in order,
// and a set saves its section before the next request is read: the reply to the get that follows
// a set proves that set saved.
struct SavingClient {
    std::wstring sid;   // empty: the general section, saved by switching the user away and back
    std::wstring branch;
    int next = 0;       // the next write's number
    int confirmed = -1; // the last write known to be saved
    int sent = -1;      // the last write sent (saved or not)
    std::string failure;

    std::wstring key(int n) const { return branch + L".k" + std::to_wstring(n % Slots); }
    static std::wstring value(int n)
    {
        return L"value-" + std::to_wstring(n) + L"-padding-to-give-the-document-some-weight";
    }

    // One write and its proof; false when the service has gone (or answered wrongly).
    bool writeOne(PipeConnection& pipe)
    {
        const int n = next;
        sent = n;
        if (sid.empty()) {
            // The general section is saved when the connection names a user, and again when it
            // switches back.
            if (!pipe.send(request(CMD_SET_SETTING, { key(n), value(n) })) || !pipe.send(request(CMD_SET_USER, { OtherUser }))
                || !pipe.send(request(CMD_SET_USER, { L"" })))
                return false;
        } else if (!pipe.send(request(CMD_SET_SETTING, { key(n), value(n) }))) {
            return false;
        }
        const auto reply = pipe.ask(request(CMD_GET_SETTING, { key(n) }));
        if (!reply)
            return false;
        if (*reply != stringReply(value(n))) {
            failure = "write " + std::to_string(n) + " read back as " + shown(reply);
            return false;
        }
        confirmed = n;
        ++next;
        return true;
    }

    // Until the service goes, or the round's writes are done.
    void run()
    {
        PipeConnection pipe(CommandsPipeName, reliability::Patience);
        if (!pipe.connected()) {
            failure = "no pipe connection";
            return;
        }
        if (!sid.empty() && !pipe.send(request(CMD_SET_USER, { sid })))
            return;
        for (int i = 0; i < WritesPerRound && writeOne(pipe); ++i) {
        }
    }

    // What a restarted service must hold for each key: the newest confirmed write, or a later one
    // that was sent and may have been saved before the kill.
    std::map<std::wstring, std::vector<std::wstring>> acceptable() const
    {
        std::map<std::wstring, std::vector<std::wstring>> values;
        for (int n = std::max(0, confirmed - Slots + 1); n <= confirmed; ++n)
            values[key(n)] = { value(n) };
        if (sent > confirmed)
            values[key(sent)].push_back(value(sent));
        return values;
    }

    static const std::wstring OtherUser;
};

const std::wstring SavingClient::OtherUser = L"S-1-5-21-7100-7200-7300-1999";

// The documents and backups in the settings folder, with their sizes.
std::string settingsFiles()
{
    std::string list;
    WIN32_FIND_DATAW entry;
    for (const wchar_t* pattern : { L"settings.params*", L"user.*.params*" }) {
        HANDLE search = FindFirstFileW((AppdataPath + pattern).c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            list += " " + toNarrowString(entry.cFileName) + "(" + std::to_string(entry.nFileSizeLow) + ")";
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return list;
}

class KilledDuringSaves : public ReliabilityService {};

} // namespace

TEST_F(KilledDuringSaves, LosesNoSettingWhoseSaveFinishedBeforeTheKill)
{
    std::vector<SavingClient> clients(4);
    clients[0].branch = L"Reliability.general";
    for (size_t c = 1; c < clients.size(); ++c) {
        clients[c].sid = L"S-1-5-21-7100-7200-7300-100" + std::to_wstring(c);
        clients[c].branch = L"Reliability.user";
    }
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<DWORD> killAfterMs(300, 1500);

    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(pipeAnswers());
        std::vector<std::thread> threads;
        for (SavingClient& client : clients)
            threads.emplace_back([&client] { client.run(); });
        Sleep(killAfterMs(random));
        const bool killed = killServiceHard();
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_TRUE(killed);
        std::cout << "round " << round << ": killed after writes";
        for (const SavingClient& client : clients)
            std::cout << " " << client.confirmed << "/" << client.sent;
        std::cout << "; left behind:" << settingsFiles() << std::endl;
        for (const SavingClient& client : clients)
            ASSERT_EQ(client.failure, "");

        ASSERT_NE(startService().find("Nimbal is started."), std::string::npos);
        PipeConnection reader(CommandsPipeName, reliability::Patience);
        ASSERT_TRUE(reader.connected());
        int lost = 0;
        for (const SavingClient& client : clients) {
            ASSERT_TRUE(reader.send(request(CMD_SET_USER, { client.sid })));
            for (const auto& [key, values] : client.acceptable()) {
                const auto reply = reader.ask(request(CMD_GET_SETTING, { key }));
                ASSERT_TRUE(reply.has_value());
                bool found = false;
                for (const std::wstring& value : values)
                    found = found || *reply == stringReply(value);
                if (!found) {
                    ++lost;
                    ADD_FAILURE() << toNarrowString(client.sid) << " " << toNarrowString(key) << " expected "
                                  << toNarrowString(values.front()) << ", read " << shown(reply);
                }
            }
        }
        ASSERT_EQ(lost, 0) << "after the kill of round " << round;
    }

    // A regular stop at the end: the documents on disk hold the same.
    EXPECT_NE(stopService().find("Nimbal is stopped."), std::string::npos);
    for (const SavingClient& client : clients) {
        const std::wstring name = client.sid.empty() ? L"settings.params" : L"user." + client.sid + L".params";
        const std::string stored = document(name);
        for (const auto& [key, values] : client.acceptable()) {
            const std::string leaf = "\"" + toNarrowString(key.substr(key.rfind(L'.') + 1)) + "\": \"";
            bool found = false;
            for (const std::wstring& value : values)
                found = found || stored.find(leaf + toNarrowString(value) + "\"") != std::string::npos;
            EXPECT_TRUE(found) << toNarrowString(name) << " " << toNarrowString(key) << ":\n" << stored;
        }
    }
}
