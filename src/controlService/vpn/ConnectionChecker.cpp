#include "ConnectionChecker.h"

#include "ControllerTexts.h"
#include "ManagementIo.h"

#include "Logger.h"
#include "NetworkHelpers.h"

namespace {

constexpr DWORD StopPollMs = 200;
// A daemon that keeps answering after SIGTERM is left to the kill that follows.
constexpr ULONGLONG DaemonExitWaitMs = 10000;
// So many busy ports in a row tell of something wrong with the machine, not of a port to find.
constexpr int MaxPortsTried = 100;

} // namespace

ConnectionChecker::~ConnectionChecker()
{
    // Before the member that ends Windows Sockets goes.
    closeSocket();
}

void ConnectionChecker::initSockets()
{
    if (!sockets_.start())
        Logger::instance().write("WSAStartup failed");
}

bool ConnectionChecker::updateVpnPort()
{
    if (port_ == 0)
        port_ = Management::DefaultPort;
    // Without sockets every port would look busy, and the search would never end.
    if (!UniqueSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))) {
        const int error = WSAGetLastError();
        LOG_ERROR << "OpenVpnStateController::ConnectionChecker::updateVpnPort" << "no socket can be made, error"
                  << error;
        return false;
    }
    int candidate = port_;
    for (int tried = 1; !checkPort(Management::Address, candidate); ++tried) {
        if (tried == MaxPortsTried) {
            LOG_ERROR << "OpenVpnStateController::ConnectionChecker::updateVpnPort" << "none of" << MaxPortsTried
                      << "ports from" << port_ << "is free";
            return false;
        }
        ++candidate;
        if (candidate > Management::HighestPort)
            candidate = Management::LowestWrappedPort;
    }
    port_ = candidate;
    Logger::instance().write("OpenVpnStateController::ConnectionChecker::updateVpnPort", "Operation port is ", port_);
    return true;
}

bool ConnectionChecker::connectToDaemon()
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(Management::Address);
    address.sin_port = htons(static_cast<u_short>(port_));
    Logger::instance().write("Connecting controlling socket...");
    if (connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        LOG_ERROR << "Socket not connected, port" << port_;
        closeSocket();
        return false;
    }
    connected_ = true;
    // Any greeting will do; only its absence tells.
    if (readReply(socket_.get()).empty()) {
        LOG_ERROR << "Service prompt is empty";
        closeSocket();
        return false;
    }
    return true;
}

int ConnectionChecker::checkState()
{
    if (!sockets_.started()) {
        initSockets();
        return NotUp;
    }
    if (!socket_) {
        socket_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!socket_) {
            LOG_ERROR << "Socket creation failed";
            return NotUp;
        }
    }
    if (!connected_ && !connectToDaemon())
        return NotUp;

    if (!sendCommand(Management::StateCommand)) {
        LOG_ERROR << "Command send failed";
        closeSocket();
        return NotUp;
    }
    const std::string reply = readReply(socket_.get());
    if (reply.empty()) {
        closeSocket();
        return NotUp;
    }
    const std::vector<std::string> fields = splitByComma(reply);
    if (fields.size() >= 2)
        return fields[1] == Management::ConnectedState ? TunnelUp : NotUp;

    LOG_ERROR << "Service answer is incorrect:" << reply;
    closeSocket();
    return fields.size() == 1 && fields[0] == Management::LoneEnd ? EndAlone : NotUp;
}

void ConnectionChecker::waitForDaemonExit()
{
    Logger::instance().write("SocketCheck...");
    const ULONGLONG deadline = GetTickCount64() + DaemonExitWaitMs;
    for (;;) {
        if (!sendCommand(Management::StateCommand)) {
            Logger::instance().write("Send command failed");
            return;
        }
        const std::string reply = readReply(socket_.get());
        LOG_INFO << "State received: " << reply;
        if (reply.empty())
            return;
        if (GetTickCount64() >= deadline) {
            Logger::instance().write("OpenVpnStateController::ConnectionChecker::waitForDaemonExit",
                                     "the daemon still answers, no longer waiting for its exit");
            return;
        }
        Sleep(StopPollMs);
    }
}

bool ConnectionChecker::sendCommand(const std::string& command)
{
    return ::sendCommand(socket_.get(), command);
}

int ConnectionChecker::closeSocket()
{
    if (connected_) {
        Logger::instance().write("OpenVPN connection closed");
        shutdown(socket_.get(), SD_BOTH);
        connected_ = false;
    }
    if (!socket_)
        return -1;
    return closesocket(socket_.release());
}
