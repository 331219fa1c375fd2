#pragma once
// The call stack of the current thread as text, for the log of a failure nobody could name.

#include <windows.h>

#include <string>

namespace utilities {

class CrashInvestigatable {
public:
    // One entry per frame: a line of 70 dashes, then "name at  file(line)" where symbols are
    // known; the bare hexadecimal address where they are not.
    static std::string getStackTrace(const CONTEXT& context);
    // Writes the trace of the calling thread as one log entry.
    static void logStackTrace();
};

} // namespace utilities
