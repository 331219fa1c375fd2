#pragma once

// Makes sure Windows Firewall lets this program through: adds it to the authorised applications
// when the firewall is on and the program is not listed as enabled. Never fails; COM must be
// initialised on the calling thread.
void ensureFirewallException();
