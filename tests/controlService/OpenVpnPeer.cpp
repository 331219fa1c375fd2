#include "OpenVpnPeer.h"

#include "StringHelpers.h"
#include "WinePaths.h"

#include <sstream>

namespace {

const DWORD Patience = 30000;

// What both ends share: no tun device, UDP on loopback, a static key, a ping each second.
std::string commonOptions(unsigned short localPort, unsigned short remotePort)
{
    std::ostringstream text;
    text << "dev null\nproto udp\nlocal 127.0.0.1\nlport " << localPort << "\nremote 127.0.0.1\nrport " << remotePort
         << "\ncipher AES-256-CBC\nifconfig-noexec\nping 1\n";
    return text.str();
}

} // namespace

OpenVpnPeer::OpenVpnPeer(unsigned short daemonPort, unsigned short peerPort)
    : daemonPort_(daemonPort), peerPort_(peerPort)
{
    const auto linuxFolder = linuxPathOf(folder_.path());
    if (!linuxFolder)
        return;
    linuxFolder_ = toNarrowString(*linuxFolder);
    if (runLinuxShell("openvpn --genkey secret " + shellQuoted(linuxFolder_ + "/static.key"), Patience) != 0)
        return;
    key_ = readWholeFile(folder_.file(L"static.key"));
}

std::string OpenVpnPeer::daemonConfiguration(const std::string& pidFile) const
{
    return commonOptions(daemonPort_, peerPort_) + "writepid " + pidFile + "\n<secret>\n" + key_ + "</secret>\n";
}

unsigned OpenVpnPeer::start()
{
    writeWholeFile(folder_.file(L"peer.ovpn"), commonOptions(peerPort_, daemonPort_) + "secret static.key\nwritepid peer.pid\n");
    guard_ = std::make_unique<OpenVpnGuard>(folder_.file(L"peer.pid"));
    if (!startLinuxProgram({ L"Z:\\usr\\sbin\\openvpn", L"--cd", toWideString(linuxFolder_), L"--config", L"peer.ovpn",
                             L"--log-append", L"peer.log", L"--verb", L"3" }))
        return 0;
    return waitForPidFile(folder_.file(L"peer.pid"), Patience);
}
