#pragma once
// A pipe server pool on a pipe name of the test's own, its accept loop on a thread, serving the
// recorded operations of FakeServiceOperations over a settings store in the test's folder.

#include "FakeServiceOperations.h"
#include "PipeTestClient.h"
#include "SettingsStoreFixture.h"

#include "pipe/ServerPool.h"

#include <algorithm>
#include <memory>
#include <thread>

class PipeServerFixture : public SettingsStoreFixture {
protected:
    void SetUp() override
    {
        SettingsStoreFixture::SetUp();
        operations = std::make_unique<FakeServiceOperations>(store.path());
        pool = std::make_unique<ServerPool>(pipeName, operations.get());
        acceptor = std::thread([this] { pool->acceptLoop(); });
    }
    void TearDown() override
    {
        closePool();
        pool.reset();
        operations.reset();
        SettingsStoreFixture::TearDown();
    }

    void closePool()
    {
        if (!acceptor.joinable())
            return;
        pool->Close();
        acceptor.join();
    }

    // Waits (bounded) until the pool has a waiting instance.
    bool poolBecomesActive()
    {
        for (int i = 0; i < 3000; ++i) {
            if (pool->isActive())
                return true;
            Sleep(10);
        }
        return false;
    }

    // Waits (bounded) until the log holds the line.
    bool logGets(const std::string& line)
    {
        for (int i = 0; i < 3000; ++i) {
            if (countLines(line) > 0)
                return true;
            Sleep(10);
        }
        return false;
    }

    size_t countLinesBeginning(const std::string& prefix) const
    {
        const auto lines = rawLogLines();
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.compare(0, prefix.size(), prefix) == 0;
        }));
    }

    ConfigSection& general() { return operations->store.generalSection(); }

    const std::wstring pipeName = uniquePipeName(L"pool");
    std::unique_ptr<FakeServiceOperations> operations;
    std::unique_ptr<ServerPool> pool;
    std::thread acceptor;
};
