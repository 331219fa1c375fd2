#include "StandardStreams.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>

void useBinaryStandardInput()
{
    _setmode(_fileno(stdin), _O_BINARY);
}

UniqueHandle takeStandardOutputForFrames()
{
    UniqueHandle frames;
    const HANDLE original = GetStdHandle(STD_OUTPUT_HANDLE);
    if (original && original != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), frames.put(), 0, FALSE,
                        DUPLICATE_SAME_ACCESS);

    // Replacing descriptor 1 closes the original handle; the duplicate above keeps the stream open.
    std::fflush(stdout);
    const int nul = _wopen(L"NUL", _O_WRONLY | _O_BINARY);
    if (nul >= 0) {
        _dup2(nul, _fileno(stdout));
        _close(nul);
    } else {
        _close(_fileno(stdout));
    }
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
    return frames;
}
