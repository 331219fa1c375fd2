// Sixteen pipe clients and four HTTP clients at once, each writing and reading back settings of
// its own for a fixed number of requests: every reply is there and is the value last written, and
// once the service has stopped the documents on disk hold the last written values.
//
// The four HTTP clients take turns on one kept-alive connection. Wine's HTTP Server API leaves a
// request unanswered when it arrives on one of several open connections while the server is not
// waiting in HttpReceiveHttpRequest (it only looks at the first idle connection), and stops taking
// connections after many have closed; one connection at a time is what it serves reliably.
#include "ReliabilityService.h"

#include "LoopbackHttp.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr int PipeClients = 16;
constexpr int HttpClients = 4;
constexpr int Requests = 400;
// Each client's keys: every write goes to the next one, so reads find values of all ages.
constexpr int Keys = 12;

// What every client keeps: the value it last wrote to each of its keys, and what went wrong.
class LoadClient {
public:
    LoadClient(std::string name, std::wstring sid) : name_(std::move(name)), sid_(std::move(sid)) {}
    virtual ~LoadClient() = default;

    // Writes and reads in turn: after each write, a read of the key written two writes before.
    void run()
    {
        try {
            if (!open()) {
                fail("could not connect");
                return;
            }
            for (int i = 0; i < Requests; ++i) {
                if (i % 2 == 0) {
                    const int k = (i / 2) % Keys;
                    const std::string value = name_ + "-" + std::to_string(i);
                    if (!write(key(k), value))
                        return;
                    last_[k] = value;
                } else {
                    const int k = (i / 2 + Keys - 2) % Keys;
                    if (!expectRead(k))
                        return;
                }
            }
            for (int k = 0; k < Keys; ++k)
                if (!expectRead(k))
                    return;
        } catch (const std::exception& error) {
            fail(error.what());
        }
    }

    const std::string& name() const { return name_; }
    const std::wstring& sid() const { return sid_; }
    const std::map<int, std::string>& written() const { return last_; }
    std::string leaf(int k) const { return "k" + std::to_string(k); }
    std::string key(int k) const { return "Load." + name_ + "." + leaf(k); }
    std::vector<std::string> failures() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_;
    }

protected:
    virtual bool open() = 0;
    // False when the request got no reply (the failure is recorded).
    virtual bool write(const std::string& key, const std::string& value) = 0;
    virtual std::optional<std::string> read(const std::string& key) = 0;

    void fail(const std::string& what)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.push_back(name_ + ": " + what);
    }

private:
    bool expectRead(int k)
    {
        const auto value = read(key(k));
        if (!value)
            return false;
        const auto found = last_.find(k);
        const std::string wanted = found == last_.end() ? std::string() : found->second;
        if (*value != wanted)
            fail(key(k) + " read as '" + *value + "', last written '" + wanted + "'");
        return true;
    }

    const std::string name_;
    const std::wstring sid_;
    std::map<int, std::string> last_;
    mutable std::mutex mutex_;
    std::vector<std::string> failures_;
};

// Over the pipe, in its user's section (the general one when the SID is empty); a set of a user's
// setting saves that user's document.
class PipeLoadClient : public LoadClient {
public:
    using LoadClient::LoadClient;

protected:
    bool open() override
    {
        pipe_ = std::make_unique<PipeConnection>(CommandsPipeName, reliability::Patience);
        return pipe_->connected() && (sid().empty() || pipe_->send(request(CMD_SET_USER, { sid() })));
    }
    bool write(const std::string& key, const std::string& value) override
    {
        if (pipe_->send(request(CMD_SET_SETTING, { toWideString(key), toWideString(value) })))
            return true;
        fail("set " + key + " could not be sent");
        return false;
    }
    std::optional<std::string> read(const std::string& key) override
    {
        const auto reply = pipe_->ask(request(CMD_GET_SETTING, { toWideString(key) }));
        if (!reply) {
            fail("no reply to get " + key);
            return std::nullopt;
        }
        // A missing setting reads as an empty text, as it does over HTTP.
        if (*reply == AbsentField)
            return std::string();
        std::wstring text;
        for (size_t i = 4; i + 1 < reply->size(); i += 2)
            text += static_cast<wchar_t>((*reply)[i] | (*reply)[i + 1] << 8);
        if (*reply != stringReply(text)) {
            fail("get " + key + ": not a string reply: " + shown(reply));
            return std::nullopt;
        }
        return toNarrowString(text);
    }

private:
    std::unique_ptr<PipeConnection> pipe_;
};

// The HTTP clients' connection, one request at a time.
struct SharedConnection {
    explicit SharedConnection(unsigned short port) : connection(port) {}
    HttpReply request(const std::string& target, const std::string& body, const std::string& headers = std::string())
    {
        std::lock_guard<std::mutex> turn(mutex);
        return connection.request("POST", target, body, headers);
    }
    LoopbackConnection connection;
    std::mutex mutex;
};

// Over the HTTP control server; the general section.
class HttpLoadClient : public LoadClient {
public:
    HttpLoadClient(std::string name, SharedConnection& http) : LoadClient(std::move(name), L""), http_(http) {}

protected:
    bool open() override { return true; }
    bool write(const std::string& key, const std::string& value) override
    {
        const HttpReply reply = http_.request("/setting/set", "", "name: " + key + "\r\nvalue: " + value + "\r\n");
        if (reply.status != 200 || reply.body != "Success")
            fail("setting/set " + key + ": " + std::to_string(reply.status) + " " + reply.reason + " '" + reply.body + "'");
        return true;
    }
    std::optional<std::string> read(const std::string& key) override
    {
        const HttpReply reply = http_.request("/setting/get", "name=" + key);
        if (reply.status != 200) {
            fail("setting/get " + key + ": " + std::to_string(reply.status) + " " + reply.reason);
            return std::nullopt;
        }
        return reply.body;
    }

private:
    SharedConnection& http_;
};

class SettingsUnderLoad : public ReliabilityService {};

} // namespace

TEST_F(SettingsUnderLoad, EveryReplyIsTheLastWrittenValueAndTheDocumentsHoldThem)
{
    ASSERT_TRUE(logGets("Waiting for HTTP request"));
    const int port = httpPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(checkinSaved());

    std::vector<std::unique_ptr<LoadClient>> clients;
    // Half of the pipe clients name a user of their own, half stay in the general section.
    for (int c = 0; c < PipeClients; ++c) {
        const std::wstring sid = c % 2 == 0 ? L"S-1-5-21-7400-7500-7600-" + std::to_wstring(1000 + c) : L"";
        clients.push_back(std::make_unique<PipeLoadClient>("pipe" + std::to_string(c), sid));
    }
    SharedConnection http(static_cast<unsigned short>(port));
    for (int c = 0; c < HttpClients; ++c)
        clients.push_back(std::make_unique<HttpLoadClient>("http" + std::to_string(c), http));

    std::vector<std::thread> threads;
    for (auto& client : clients)
        threads.emplace_back([&client] { client->run(); });
    for (std::thread& thread : threads)
        thread.join();

    size_t failures = 0;
    for (const auto& client : clients) {
        for (const std::string& failure : client->failures()) {
            ++failures;
            ADD_FAILURE() << failure;
        }
        EXPECT_EQ(client->written().size(), static_cast<size_t>(Keys)) << client->name();
    }
    ASSERT_EQ(failures, 0u);

    // The stop saves every document; each holds its clients' last values.
    ASSERT_NE(runServiceProgramAt(program, L"-stop").find("Nimbal is stopped."), std::string::npos);
    std::map<std::wstring, std::string> documents;
    for (const auto& client : clients) {
        const std::wstring name = client->sid().empty() ? L"settings.params" : L"user." + client->sid() + L".params";
        if (!documents.count(name))
            documents[name] = document(name);
        const std::string& stored = documents[name];
        // Each client's keys are the leaves of its own branch, written in the order of its first writes.
        const std::string branch = "\"" + client->name() + "\": {";
        const size_t start = stored.find(branch);
        ASSERT_NE(start, std::string::npos) << client->name() << " in " << toNarrowString(name) << ":\n" << stored;
        const std::string own = stored.substr(start, stored.find('}', start) - start);
        for (const auto& [k, value] : client->written())
            EXPECT_NE(own.find("\"" + client->leaf(k) + "\": \"" + value + "\""), std::string::npos)
                << client->key(k) << " = " << value << " in " << toNarrowString(name) << ":\n" << own;
    }
}
