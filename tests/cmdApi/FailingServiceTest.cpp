// The library against an installed service whose VPN state request fails (a build of the service
// that cannot give it): the library's call, waiting for the reply, sees the connection end and
// returns, where it would otherwise wait for ever. A connection that ends under a request is sent
// that request once more on a new one (the service may have restarted), so the library asks twice.
#include "CallingThread.h"
#include "CmdApiLibrary.h"
#include "InstalledServiceFixture.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"

namespace {

const char* const Ended = "The failed request's reply cannot be given: the connection is ended, server_id=";

} // namespace

class FailingService : public InstalledService {
protected:
    FailingService() : InstalledService(hostPath(NIMBAL_FAILING_STATE_SERVICE_EXE)) {}

    static size_t countBeginning(const std::string& prefix)
    {
        size_t count = 0;
        for (const std::string& line : logLines())
            count += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return count;
    }

    // What would end a call left waiting: the service's stop ends every connection.
    CallingThread caller { [this] { runServiceProgramAt(program, L"-stop"); } };
};

TEST_F(FailingService, AStateRequestThatFailsEndsTheLibrarysWait)
{
    ASSERT_TRUE(logGets("Waiting for client connection server_id= 0"));
    ASSERT_NE(cmdApi().module, nullptr);
    // What the library gives when no reply can be read.
    EXPECT_EQ(caller.run([] { return cmdApi().getVpnState(); }), 1);
    EXPECT_EQ(countBeginning(Ended), 2u);
    EXPECT_EQ(countBeginning("Request failed, server_id="), 2u);
    EXPECT_TRUE(logHasInOrder({ "Request failed, server_id= 0 code 15 the VPN state cannot be had",
                                std::string(Ended) + " 0", "End of communicate",
                                "Request failed, server_id= 1 code 15 the VPN state cannot be had",
                                std::string(Ended) + " 1", "End of communicate" }));

    // The same over a connection of the test's own, and another client served meanwhile.
    PipeConnection other(CommandsPipeName);
    ASSERT_TRUE(other.connected());
    PipeConnection asking(CommandsPipeName);
    ASSERT_TRUE(asking.connected());
    ASSERT_TRUE(asking.send(request(CMD_GET_VPN_STATE)));
    EXPECT_TRUE(asking.endedByServer(10000));
    EXPECT_EQ(shown(other.ask(request(CMD_GET_SETTING, { L"Internal.LoggingEnabled" }))), hex(stringReply(L"true")));
    EXPECT_EQ(countBeginning(Ended), 3u);
}
