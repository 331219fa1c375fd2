#pragma once
// The library's exports, by plain name and ordinal (NimbalCmdApi.def). None takes an argument
// and none lets an exception reach its caller.

extern "C" {

bool connectVPN();
bool disconnectVPN();
int getVpnState();
bool isServiceInstalled();
bool isServiceRunning();
bool tryToStartService();
void vpnUserLogOut();

} // extern "C"
