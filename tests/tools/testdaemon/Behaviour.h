#pragma once
// How the test daemon behaves. A test chooses it in the configuration file that the daemon is
// given (--config), one directive a line; OpenVPN takes such lines for comments:
//
//   # test-daemon: KEY=VALUE
//
//   state=connected        reply to "state" (the default):
//                            "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194,127.0.0.1,21195\r\nEND\r\n"
//   state=connecting       "1796889814,CONNECTING,,,,,,\r\nEND\r\n"
//   state=connected-alone  "CONNECTED\r\n"
//   state=end-lf           "END\n"
//   state=end-crlf         "END\r\n"
//   state=long             1500 bytes: "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194,127.0.0.1,"
//                            then 'x' up to the final "\r\nEND\r\n"
//   state=none             no reply at all
//   state-delay=MS         each "state" reply is sent MS milliseconds after the command came in
//   listen-delay=MS        the management port opens MS milliseconds after the start (default 0)
//   listen-delay=never     the management port never opens
//   greeting=none          no greeting on a new connection (default: OpenVPN's greeting)
//   sigterm=ignore         "signal SIGTERM" is answered with SUCCESS, and the daemon keeps running
//                          (default sigterm=exit: answer, close the connection and end with code 0)
//   exit-after=MS          the daemon ends by itself with code 1, MS milliseconds after its start
//
// An unknown key or value makes the daemon fail at start, as a bad option makes OpenVPN fail.

#include <windows.h>

#include <optional>
#include <string>

enum class StateReply { Connected, Connecting, ConnectedAlone, EndLf, EndCrLf, Long, None };

struct Behaviour {
    StateReply state = StateReply::Connected;
    DWORD stateDelayMs = 0;
    std::optional<DWORD> listenDelayMs = 0;  // none: never listens
    bool greet = true;
    bool exitOnSigterm = true;
    std::optional<DWORD> exitAfterMs;
};

// Reads the directives from the text of a configuration file; throws std::runtime_error naming a
// directive it does not know.
Behaviour parseBehaviour(const std::string& configuration);

// The bytes sent for `reply` (empty for StateReply::None).
std::string stateReplyText(StateReply reply);
