#include "CrashInvestigatable.h"

#include "Logger.h"

#include <dbghelp.h>

#include <mutex>
#include <sstream>

namespace utilities {

namespace {

constexpr DWORD SymbolNameRoom = 1024;
// Far more than any real stack of this program: the walk follows saved frame pointers, which code
// built without them leaves holding anything.
constexpr int MaxFrames = 256;
constexpr DWORD ReadableNameRoom = 256;
const std::string FrameSeparator(70, '-');

// Debug help is not safe for use from several threads at once.
std::mutex& debugHelpMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Without the symbol handler every frame would be a bare address; it is set up on first use
// rather than at start, since only a failure needs it. Called under debugHelpMutex.
void initialiseSymbolsOnce()
{
    static bool initialised = false;
    if (initialised)
        return;
    initialised = true;
    SymSetOptions(SymGetOptions() | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
    SymInitialize(GetCurrentProcess(), nullptr, TRUE);
}

struct SymbolRecord {
    SymbolRecord()
    {
        ZeroMemory(this, sizeof *this);
        symbol.SizeOfStruct = sizeof(IMAGEHLP_SYMBOL64);
        symbol.MaxNameLength = SymbolNameRoom;
    }
    IMAGEHLP_SYMBOL64 symbol;
    char nameRoom[SymbolNameRoom];
};

void appendFrame(std::ostringstream& text, HANDLE process, DWORD programCounter)
{
    SymbolRecord record;
    DWORD64 symbolDisplacement = 0;
    if (SymGetSymFromAddr64(process, programCounter, &symbolDisplacement, &record.symbol)) {
        text << FrameSeparator << '\n';
        char readable[ReadableNameRoom];
        if (UnDecorateSymbolName(record.symbol.Name, readable, ReadableNameRoom, UNDNAME_NAME_ONLY))
            text << readable;
        else
            text << record.symbol.Name;
        text << " at ";
    } else {
        text << std::hex << programCounter << std::dec;
    }

    IMAGEHLP_LINE line;
    ZeroMemory(&line, sizeof line);
    line.SizeOfStruct = sizeof line;
    DWORD lineDisplacement = 0;
    if (SymGetLineFromAddr(process, programCounter, &lineDisplacement, &line) && line.FileName)
        text << ' ' << line.FileName << '(' << line.LineNumber << ')';
    text << '\n';
}

} // namespace

std::string CrashInvestigatable::getStackTrace(const CONTEXT& context)
{
    std::lock_guard<std::mutex> lock(debugHelpMutex());
    initialiseSymbolsOnce();

    CONTEXT walked = context; // the walk changes it
    STACKFRAME frame;
    ZeroMemory(&frame, sizeof frame);
    frame.AddrPC.Offset = walked.Eip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = walked.Ebp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = walked.Esp;
    frame.AddrStack.Mode = AddrModeFlat;

    const HANDLE process = GetCurrentProcess();
    const HANDLE thread = GetCurrentThread();
    std::ostringstream text;
    // Each caller's frame lies above its callee's on the stack: a chain that does not climb has
    // come back on itself and would be walked round for ever.
    DWORD previousFrame = 0;
    for (int frames = 0; frames < MaxFrames
         && StackWalk(IMAGE_FILE_MACHINE_I386, process, thread, &frame, &walked, nullptr, SymFunctionTableAccess,
                      SymGetModuleBase, nullptr);
         ++frames) {
        if (frame.AddrFrame.Offset == 0 || frame.AddrFrame.Offset == frame.AddrReturn.Offset
            || (frames > 0 && frame.AddrFrame.Offset <= previousFrame))
            break;
        previousFrame = frame.AddrFrame.Offset;
        appendFrame(text, process, frame.AddrPC.Offset);
    }
    return text.str();
}

void CrashInvestigatable::logStackTrace()
{
    CONTEXT context;
    ZeroMemory(&context, sizeof context);
    RtlCaptureContext(&context);
    Logger::instance().write(getStackTrace(context));
}

} // namespace utilities
