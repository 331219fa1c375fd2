// The 26 URLs of the control server, registered in this order, with the first log line of each.
#include "LocalHttpServer.h"

#define URL(path) L"http://127.0.0.1:%d/" path

const LocalHttpServer::UrlHandlerEntry LocalHttpServer::UrlHandlerTable[26] = {
    { URL(L"TYTUT"), &LocalHttpServer::ping, "LocalHttpServer: Ping processing start" },
    { URL(L"vpn/get/state"), &LocalHttpServer::getVpnState, "LocalHttpServer: VPN state requested" },
    { URL(L"vpn/get/currentServer"), &LocalHttpServer::getCurrentServer,
      "LocalHttpServer: VPN current server requested" },
    { URL(L"vpn/get/serversList"), &LocalHttpServer::getServersList, "LocalHttpServer: VPN servers list requested" },
    { URL(L"vpn/connect"), &LocalHttpServer::connectToVPN, "LocalHttpServer: VPN connect to server requested" },
    { URL(L"vpn/disconnect"), &LocalHttpServer::disconnectFromVPN,
      "LocalHttpServer: VPN disconnect from server requested" },
    { URL(L"update/check"), &LocalHttpServer::checkForUpdate, "LocalHttpServer: Check for update requested" },
    { URL(L"update/start"), &LocalHttpServer::startUpdate, "LocalHttpServer: Start update requested" },
    { URL(L"user/relogin"), &LocalHttpServer::relogin, "LocalHttpServer: VPN server relogin requested" },
    { URL(L"user/set"), &LocalHttpServer::setUser, "LocalHttpServer: set logged windows user requested" },
    { URL(L"user/get"), &LocalHttpServer::getUser, "LocalHttpServer: get logged windows user requested" },
    { URL(L"logfiles/enable"), &LocalHttpServer::enableLogging, "LocalHttpServer: enable logging requested" },
    { URL(L"logfiles/disable"), &LocalHttpServer::disableLogging, "LocalHttpServer: disable logging requested" },
    { URL(L"logfiles/post"), &LocalHttpServer::postLogFiles, "LocalHttpServer: post log files requested" },
    { URL(L"products/list"), &LocalHttpServer::getProductsList, "LocalHttpServer: fetch products list requested" },
    { URL(L"accounts/register"), &LocalHttpServer::accountRegister, "LocalHttpServer: account register requested" },
    { URL(L"accounts/login"), &LocalHttpServer::accountLogin, "LocalHttpServer: account login requested" },
    { URL(L"accounts/logout"), &LocalHttpServer::accountLogout, "LocalHttpServer: user logged out" },
    { URL(L"accounts/reset"), &LocalHttpServer::accountResetPass,
      "LocalHttpServer: account reset password requested" },
    // The orders share the products list's line.
    { URL(L"accounts/orders"), &LocalHttpServer::accountOrders, "LocalHttpServer: fetch products list requested" },
    { URL(L"accounts/token"), &LocalHttpServer::accountToken, "LocalHttpServer: account token requested" },
    { URL(L"setting/get"), &LocalHttpServer::getSetting, "LocalHttpServer: setting requested" },
    { URL(L"setting/set"), &LocalHttpServer::setSetting, "LocalHttpServer: setting requested" },
    { URL(L"support"), &LocalHttpServer::sendSupportMessage, "LocalHttpServer: send support message" },
    { URL(L"limits"), &LocalHttpServer::fetchAccessLimits, "LocalHttpServer: fetch access limits" },
    { URL(L"remote/login"), &LocalHttpServer::remoteLogin, "LocalHttpServer: remote login requested" },
};
