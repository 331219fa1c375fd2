#pragma once
// What the test daemon saw and did, written as it happens to two files in its working folder:
// the record "test-daemon.record" for tests to assert on (one event a line, appended across
// starts), and the daemon log (--log-append) with a time stamp before each line, as OpenVPN
// appends its own.
//
// Record lines:
//   start: COMMAND LINE             the daemon's command line, exactly as it was given
//   listening: 127.0.0.1:PORT       the management port is open
//   connected                       a management client connected
//   received: TEXT                  one line from the client, escaped (\r, \n, \\, \xNN)
//   disconnected                    the client closed its connection
//   exit: REASON                    "signal SIGTERM" or "after MS ms"
//   error: MESSAGE                  the daemon could not go on and ends with code 1

#include <string>

extern const wchar_t RecordFileName[];

class Journal {
public:
    // Paths relative to the current folder; an empty log path writes no log.
    Journal(std::wstring recordPath, std::wstring logPath);

    void note(const std::string& line) const;

private:
    std::wstring recordPath_;
    std::wstring logPath_;
};

// `bytes` with CR, LF, backslash and other unprintable bytes as C escapes, on one line.
std::string escaped(const std::string& bytes);
