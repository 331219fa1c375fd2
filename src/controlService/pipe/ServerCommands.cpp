// The commands of one pipe connection: what each request code reads, does and answers.
#include "CommandsServer.h"

#include "PipeClientIdentity.h"
#include "PipeClientLaunch.h"

#include "IConfigSectionManager.h"
#include "settings/ConfigManager.h"
#include "settings/ConfigSection.h"
#include "settings/SettingPath.h"
#include "settings/SettingsKeys.h"
#include "vpn/ServerId.h"

#include "Logger.h"
#include "PipeCommands.h"
#include "StringHelpers.h"

namespace {

// True for `branch` itself and every path below it.
bool inBranch(const std::wstring& path, const std::wstring& branch)
{
    return path.compare(0, branch.size(), branch) == 0 && (path.size() == branch.size() || path[branch.size()] == L'.');
}

// The value as a log line shows it: account data never reaches the log.
std::string loggedValue(const std::wstring& path, const std::wstring& value)
{
    if (value.empty())
        return "<!!!-MISSING_SETTING-!!!>";
    if (inBranch(path, SettingsKeys::Hidden))
        return "<hidden>";
    return toNarrowString(value);
}

// The commands whose client reads a reply.
bool hasReply(std::uint8_t code)
{
    switch (code) {
    case CMD_GET_SETTING:
    case CMD_LIST_SETTINGS:
    case CMD_LIST_FOLDERS:
    case CMD_GET_UPDATE_URL:
    case CMD_RUN_UPDATE:
    case CMD_POST_LOGS:
    case CMD_GET_VPN_STATE:
    case CMD_GET_SERVERS_LIST:
        return true;
    default:
        return false;
    }
}

} // namespace

bool CommandsServer::serveRequest()
{
    std::uint8_t code = 0;
    replySent = false;
    try {
        code = buffer.readByte();
        runCommand(code);
        return true;
    } catch (const missing_setting&) {
        Logger::instance().write("Malformed request ignored, server_id=", serverId, "code", code);
        return true;
    } catch (const malformed_message&) {
        Logger::instance().write("Malformed request ignored, server_id=", serverId, "code", code);
        return true;
    } catch (const std::exception& error) {
        Logger::instance().write("Request failed, server_id=", serverId, "code", code, error.what());
    } catch (...) {
        Logger::instance().write("Request failed, server_id=", serverId, "code", code, "unknown error");
    }
    // The client of such a command waits in its read for the reply that will not come: the end of
    // the connection ends its wait.
    if (!hasReply(code) || replySent)
        return true;
    Logger::instance().write("The failed request's reply cannot be given: the connection is ended, server_id=",
                             serverId);
    return false;
}

void CommandsServer::runCommand(std::uint8_t code)
{
    switch (code) {
    case CMD_GET_SETTING:
        getSetting();
        break;
    case CMD_SET_SETTING:
        setSetting();
        break;
    case CMD_NOOP:
        readString();
        break;
    case CMD_LIST_SETTINGS:
        listChildren(false);
        break;
    case CMD_LIST_FOLDERS:
        listChildren(true);
        break;
    case CMD_REMOVE_SETTING:
        removeSetting();
        break;
    case CMD_SET_USER:
        setUser();
        break;
    case CMD_SET_REQUIRED_STATE:
        manager->setRequiredState(readString() == L"true");
        break;
    case CMD_GET_UPDATE_URL:
        replyString(manager->getUpdateUrlIfAvailable());
        Logger::instance().write("Update URL:", toNarrowString(manager->getUpdateUrlIfAvailable()));
        break;
    case CMD_RUN_UPDATE:
        replyByte(manager->runUpdate() ? 1 : 0);
        break;
    case CMD_LAUNCH_APP:
        launchApp();
        break;
    case CMD_RESTART_UPDATE_CHECK:
        manager->restartUpdateCheck();
        break;
    case CMD_POST_LOGS:
        replyByte(manager->postLogs() ? 1 : 0);
        break;
    case CMD_GET_VPN_STATE:
        replyByte(static_cast<std::uint8_t>(manager->getVpnState()));
        break;
    case CMD_GET_SERVERS_LIST:
        replyString(manager->requestServersList().message);
        break;
    case CMD_CONNECT_TO_SERVER: {
        const std::wstring serverId = readString();
        manager->connectToServer(serverId);
        // As over HTTP: a refused id leaves the wanted state as it was.
        if (isValidServerId(serverId))
            manager->setRequiredState(true);
        break;
    }
    default:
        // No command: nothing is read, done or sent.
        break;
    }
}

void CommandsServer::getSetting()
{
    const std::wstring name = readString();
    // Every user of the machine reads the general section; the stored password is nobody's to read
    // back, by its name or an alias of it. A name that names no setting reads as a missing one.
    const SettingPath path(name);
    const bool readable = section != nullptr && path.wellFormed() && !(inGeneralSection() && path.isPassword());
    std::wstring value;
    buffer.startMessage();
    if (readable && section->hasValue(name)) {
        value = section->getValue<std::wstring>(name);
        buffer.appendString(value);
    } else {
        buffer.appendInt32(-1);
    }
    sendReply();
    if (section == nullptr)
        Logger::instance().write("No settings section for the request, server_id=", serverId);
    Logger::instance().write("Setting requested for", toNarrowString(userSid), ":", toNarrowString(name),
                             "==", loggedValue(name, value));
}

void CommandsServer::setSetting()
{
    const std::wstring name = readString();
    const std::wstring value = readString();
    if (!mayChange(name))
        return;
    // A value beside children could not be written as JSON, and the section would not be saved again.
    if (!section->trySetValue(name, value)) {
        Logger::instance().write("Setting refused, the name cannot hold a value, for", toNarrowString(userSid), ":",
                                 toNarrowString(name));
        return;
    }
    Logger::instance().write("Setting changed for", toNarrowString(userSid), ":", toNarrowString(name),
                             ":=", loggedValue(name, value));
    manager->saveConfigSection(userSid);
}

bool CommandsServer::mayChange(const std::wstring& name)
{
    if (section == nullptr) {
        Logger::instance().write("No settings section for the request, server_id=", serverId);
        return false;
    }
    // The server's check-in answer decides, among other things, which program the service downloads and starts.
    if (inGeneralSection() && inBranch(name, SettingsKeys::LastLoginRequestInfo)) {
        Logger::instance().write("Change refused, the branch holds the server's answer, for", toNarrowString(userSid),
                                 ":", toNarrowString(name));
        return false;
    }
    return true;
}

void CommandsServer::listChildren(bool folders)
{
    const std::wstring path = readString();
    std::vector<std::wstring> names;
    if (section != nullptr)
        names = folders ? section->listFolders(path) : section->listSettings(path);
    else
        Logger::instance().write("No settings section for the request, server_id=", serverId);
    buffer.startMessage();
    buffer.appendInt32(static_cast<std::int32_t>(names.size()));
    for (const std::wstring& name : names)
        buffer.appendString(name);
    sendReply();
    Logger::instance().write(folders ? "CMD_LIST_FOLDERS called" : "CMD_LIST_SETTINGS called");
}

void CommandsServer::removeSetting()
{
    const std::wstring name = readString();
    if (!mayChange(name))
        return;
    section->removeValue(name);
    Logger::instance().write("Setting", toNarrowString(name), "removed for", toNarrowString(userSid));
    manager->saveConfigSection(userSid);
}

void CommandsServer::setUser()
{
    const std::wstring sid = readString();
    manager->saveUserAndMainSettings(userSid);
    // The text goes into log lines and a file name: nothing but a SID goes further.
    if (!sid.empty() && !isWellFormedSid(sid)) {
        Logger::instance().write("SetUser refused, keeping the previous user: the text sent is no SID");
        return;
    }
    if (!clientMayActFor(sid))
        return;
    Logger::instance().write("SetUser called with", toNarrowString(sid));
    ConfigSection* const next = manager->getConfigUser(sid);
    if (next == nullptr) {
        // The store gave no section: the connection stays with its user.
        Logger::instance().write("No settings section for the request, server_id=", serverId);
        return;
    }
    userSid = sid;
    section = next;
}

bool CommandsServer::clientMayActFor(const std::wstring& sid)
{
    if (sid.empty())
        return true;
    // A user's section holds that user's settings, a password among them: the client's token
    // decides, not the SID it names.
    const UniqueHandle token = pipeClientToken(pipe.get());
    const std::optional<PipeClientIdentity> client = token ? tokenIdentity(token.get()) : std::nullopt;
    if (!client) {
        const DWORD error = GetLastError();
        Logger::instance().write("SetUser refused, keeping the previous user: no identity of the pipe client, error",
                                 error);
        return false;
    }
    if (!mayActFor(*client, sid)) {
        Logger::instance().write("SetUser refused, keeping the previous user: the pipe client",
                                 toNarrowString(client->userSid), "may name only itself, not", toNarrowString(sid));
        return false;
    }
    return true;
}

void CommandsServer::launchApp()
{
    const std::wstring commandLine = readString();
    launchAsPipeClient(pipe.get(), commandLine, *manager);
}

void CommandsServer::sendReply()
{
    buffer.send(pipe.get());
    replySent = true;
}

void CommandsServer::replyByte(std::uint8_t value)
{
    buffer.startMessage();
    buffer.appendByte(value);
    sendReply();
}

void CommandsServer::replyString(const std::wstring& value)
{
    buffer.startMessage();
    buffer.appendString(value);
    sendReply();
}

std::wstring CommandsServer::readString()
{
    std::wstring text;
    buffer.readString(text);
    return text;
}
