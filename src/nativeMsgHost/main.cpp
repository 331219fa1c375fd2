// The browser's native-messaging host: framed messages on standard input and output.

#include "CmdApiBinding.h"
#include "Logger.h"
#include "MessageChannel.h"
#include "MessageLoop.h"
#include "StandardStreams.h"

int wmain(int, wchar_t*[])
{
    useBinaryStandardInput();
    UniqueHandle frames = takeStandardOutputForFrames();

    const std::optional<CmdApi> api = bindCmdApi();
    if (!api) {
        Logger::instance().write("Narive msg host: API functions not accesible");
        return 1;
    }

    MessageChannel channel(GetStdHandle(STD_INPUT_HANDLE), std::move(frames));
    return serveMessages(channel, *api);
}
