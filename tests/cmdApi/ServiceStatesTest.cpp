// Every export of the library against the real service "Nimbal": running, stopped but installed,
// and not installed. Each call runs in a fresh process (cmdapi_call.exe), in a folder of its own,
// so that the library starts from nothing and its console text and log file can be read.
#include "OvpnConfigFolder.h"
#include "ServiceFixture.h"
#include "TempFolder.h"

#include "CommandsClient.h"
#include "PipeCommands.h"
#include "PipeMessage.h"

#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

enum class Service { NotInstalled, Running, Stopped };

std::string lf(const std::string& text)
{
    return std::regex_replace(text, std::regex("\r\n"), "\n");
}

// The lines of a log file without their timestamps.
Lines logLines(const std::wstring& path)
{
    static const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\t");
    Lines lines;
    if (!fileExists(path))
        return lines;
    const std::string text = lf(readWholeFile(path));
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        EXPECT_TRUE(std::regex_search(line, stamp)) << line;
        lines.push_back(std::regex_replace(line, stamp, ""));
    }
    return lines;
}

struct Call {
    std::string result;  // as cmdapi_call prints it
    std::string console; // the library's standard output, line ends as LF
    Lines log;           // logfile.txt of the folder the call ran in
};

Call callInFreshProcess(const std::string& exportName)
{
    const TempFolder folder;
    const ChildResult child = runChildApart(quoted(hostPath(NIMBAL_CMDAPI_CALL_EXE)) + L" "
                                                + quoted(hostPath(NIMBAL_CMDAPI_DLL)) + L" "
                                                + std::wstring(exportName.begin(), exportName.end()),
                                            folder.path());
    EXPECT_TRUE(child.started);
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 0u);
    Call call;
    const std::string prefix = exportName + " ";
    const std::string answer = lf(child.errorOutput);
    EXPECT_EQ(answer.rfind(prefix, 0), 0u) << answer;
    if (answer.rfind(prefix, 0) == 0)
        call.result = answer.substr(prefix.size(), answer.find('\n') - prefix.size());
    call.console = lf(child.output);
    call.log = logLines(folder.file(L"logfile.txt"));
    return call;
}

void bringServiceTo(Service wanted)
{
    ServiceFacts facts = readService();
    if (wanted == Service::NotInstalled) {
        if (facts.installed)
            runServiceProgram(L"-remove");
        ASSERT_FALSE(readService().installed);
        return;
    }
    if (!facts.installed)
        runServiceProgram(L"-install");
    facts = readService();
    if (wanted == Service::Running && facts.state != SERVICE_RUNNING)
        runServiceProgram(L"-start");
    if (wanted == Service::Stopped && facts.state != SERVICE_STOPPED)
        runServiceProgram(L"-stop");
    ASSERT_EQ(readService().state, static_cast<DWORD>(wanted == Service::Running ? SERVICE_RUNNING : SERVICE_STOPPED));
}

const std::string OpenServiceFailed = "OpenService failed w/err 0x00000424\n";
const Lines OpenServiceErrorLog = { "Enabled logging...", "[ERROR]:\t OpenService failed w/err  1060 " };
const std::string AlreadyRunning = "\nFailed to start Nimbal, error:1056.\n";
const std::string Started = "Starting Nimbal\\.\\.*\nNimbal is started\\.\n";

struct StateCase {
    const char* name;
    Service service;
    const char* exportName;
    const char* result;
    std::string console; // a regular expression
    Lines log;
    bool usesPipe;      // the export talks to the service over its pipe
};

std::string escaped(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&");
}

const StateCase Cases[] = {
    { "NotInstalled_isServiceInstalled", Service::NotInstalled, "isServiceInstalled", "false",
      escaped(OpenServiceFailed), OpenServiceErrorLog, false },
    { "NotInstalled_isServiceRunning", Service::NotInstalled, "isServiceRunning", "false",
      escaped(OpenServiceFailed), {}, false },
    // The start's own message, then the state check's.
    { "NotInstalled_tryToStartService", Service::NotInstalled, "tryToStartService", "false",
      escaped(OpenServiceFailed + OpenServiceFailed), OpenServiceErrorLog, false },
    { "NotInstalled_connectVPN", Service::NotInstalled, "connectVPN", "false",
      escaped(OpenServiceFailed + OpenServiceFailed), OpenServiceErrorLog, false },
    { "NotInstalled_disconnectVPN", Service::NotInstalled, "disconnectVPN", "false",
      escaped(OpenServiceFailed + OpenServiceFailed), OpenServiceErrorLog, false },
    { "NotInstalled_getVpnState", Service::NotInstalled, "getVpnState", "1",
      escaped(OpenServiceFailed + OpenServiceFailed), OpenServiceErrorLog, false },
    { "NotInstalled_vpnUserLogOut", Service::NotInstalled, "vpnUserLogOut", "done",
      escaped(OpenServiceFailed + OpenServiceFailed), OpenServiceErrorLog, false },

    { "Running_isServiceInstalled", Service::Running, "isServiceInstalled", "true", "", {}, false },
    { "Running_isServiceRunning", Service::Running, "isServiceRunning", "true", "", {}, false },
    { "Running_tryToStartService", Service::Running, "tryToStartService", "true", escaped(AlreadyRunning), {}, false },
    // The running service serves its pipe: nothing is started. Without a daemon its state follows
    // the wish of the call before (connect, then disconnect).
    { "Running_connectVPN", Service::Running, "connectVPN", "true", "", {}, true },
    { "Running_disconnectVPN", Service::Running, "disconnectVPN", "true", "", {}, true },
    { "Running_getVpnState", Service::Running, "getVpnState", "0", "", {}, true },
    { "Running_vpnUserLogOut", Service::Running, "vpnUserLogOut", "done", "", {}, true },

    { "Stopped_isServiceInstalled", Service::Stopped, "isServiceInstalled", "true", "", {}, false },
    { "Stopped_isServiceRunning", Service::Stopped, "isServiceRunning", "false", "", {}, false },
    { "Stopped_tryToStartService", Service::Stopped, "tryToStartService", "true", Started, {}, false },
    // The library starts the service and reaches its pipe; a fresh start does not want the VPN.
    { "Stopped_connectVPN", Service::Stopped, "connectVPN", "true", Started, {}, true },
    { "Stopped_disconnectVPN", Service::Stopped, "disconnectVPN", "true", Started, {}, true },
    { "Stopped_getVpnState", Service::Stopped, "getVpnState", "0", Started, {}, true },
    { "Stopped_vpnUserLogOut", Service::Stopped, "vpnUserLogOut", "done", Started, {}, true },
};

} // namespace

class ServiceStates : public ::testing::TestWithParam<StateCase> {
protected:
    // connectVPN makes the service connect: the mock API's reply writes these.
    static void SetUpTestSuite() { vpnFiles = std::make_unique<OvpnConfigFolder>(VpnFileNames); }
    static void TearDownTestSuite()
    {
        if (readService().installed)
            runServiceProgram(L"-remove");
        vpnFiles.reset();
    }

    static inline const std::vector<std::wstring> VpnFileNames = { L"client.auth", L"default.ovpn" };
    static inline std::unique_ptr<OvpnConfigFolder> vpnFiles;
};

TEST_P(ServiceStates, ExportResultConsoleTextAndLog)
{
    const StateCase& c = GetParam();
    bringServiceTo(c.service);
    const bool wasRunning = readService().state == SERVICE_RUNNING;

    const Call call = callInFreshProcess(c.exportName);
    EXPECT_EQ(call.result, c.result);
    EXPECT_TRUE(std::regex_match(call.console, std::regex(c.console))) << "console text was:\n" << call.console;
    EXPECT_EQ(call.log, c.log);

    // Every call that needs the pipe, and tryToStartService, leaves the service running; the
    // queries leave it as it was.
    const bool starts = c.usesPipe || std::string(c.exportName) == "tryToStartService";
    if (c.service != Service::NotInstalled) {
        EXPECT_EQ(readService().state, static_cast<DWORD>(starts || wasRunning ? SERVICE_RUNNING : SERVICE_STOPPED));
    }
}

INSTANTIATE_TEST_SUITE_P(CmdApi, ServiceStates, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// One connection to the running service's pipe, as any other local client has it.
class ServicePipe {
public:
    ServicePipe() : client(CommandsPipeName) { EXPECT_TRUE(client.connect()); }

    void set(const std::wstring& name, const std::wstring& value)
    {
        PipeMessage& message = client.buffer();
        message.startMessage();
        message.appendByte(CMD_SET_SETTING);
        message.appendString(name);
        message.appendString(value);
        ASSERT_TRUE(message.send(client.pipe()));
    }

    // The stored value, or none when the service answers with an absent string.
    std::optional<std::wstring> get(const std::wstring& name)
    {
        PipeMessage& message = client.buffer();
        message.startMessage();
        message.appendByte(CMD_GET_SETTING);
        message.appendString(name);
        EXPECT_TRUE(message.send(client.pipe()));
        EXPECT_TRUE(message.readFrom(client.pipe()));
        std::wstring value;
        try {
            message.readString(value);
        } catch (const missing_setting&) {
            return std::nullopt;
        }
        return value;
    }

private:
    CommandsClient client;
};

} // namespace

TEST(ServiceLogOut, VpnUserLogOutRemovesTheStoredAccount)
{
    bringServiceTo(Service::Running);
    const std::wstring login = L"Hidden.VpnUser.login", token = L"Hidden.VpnUser.token",
                       rememberMe = L"Hidden.VpnUser.rememberMe", other = L"Internal.logoutTestKeep";
    {
        ServicePipe pipe;
        pipe.set(login, L"someone@example.com");
        pipe.set(L"Hidden.VpnUser.password", L"secret");
        pipe.set(token, L"token-value");
        pipe.set(rememberMe, L"true");
        pipe.set(other, L"kept");
        ASSERT_EQ(pipe.get(token), std::optional<std::wstring>(L"token-value"));
    }

    EXPECT_EQ(callInFreshProcess("vpnUserLogOut").result, "done");

    // The library sends its removals without waiting for replies, so the service may still be
    // working through them: wait (bounded) for the last one. The password is never answered over
    // the pipe, so only the other three can be read back.
    ServicePipe pipe;
    for (int i = 0; i < 500 && pipe.get(rememberMe); ++i)
        Sleep(10);
    EXPECT_EQ(pipe.get(login), std::nullopt);
    EXPECT_EQ(pipe.get(token), std::nullopt);
    EXPECT_EQ(pipe.get(rememberMe), std::nullopt);
    EXPECT_EQ(pipe.get(other), std::optional<std::wstring>(L"kept"));
    runServiceProgram(L"-remove");
}
