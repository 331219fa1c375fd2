#pragma once
// A folder of its own for one run of the host: a copy of NimbalMsgHost.exe, the chosen stand-in
// library beside it (or none), its answers, and the host's log file, all removed afterwards.

#include "ChildProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Texts = std::vector<std::string>;
using Answers = std::vector<std::pair<std::wstring, std::wstring>>;

// A frame's length: 4 bytes in native (little-endian) order.
std::string lengthPrefix(std::uint32_t length);
// One native-messaging frame: the text's length, then the text.
std::string frame(const std::string& text);
std::string frames(const Texts& texts);
// The texts of a stream of frames; a stream that does not split into whole frames fails the test.
Texts framedTexts(const std::string& stream);

class HostFolder {
public:
    // `library`: the build path of the DLL to place beside the host as NimbalCmdApi.dll, or none.
    explicit HostFolder(const char* library = NIMBAL_TEST_CMDAPI_DLL);

    void setAnswers(const Answers& answers) const;
    // Runs the exe named `program` of this folder (the host unless told) in this folder.
    ChildResult run(const std::string& input, const wchar_t* program = L"NimbalMsgHost.exe") const;
    // The library functions the host called, in order.
    Texts libraryCalls() const;
    // The lines of logfile.txt without their timestamps.
    Texts logLines() const;
    bool hasLog() const;

    void copyHere(const char* buildPath, const wchar_t* name) const;

private:
    TempFolder folder_;
};
