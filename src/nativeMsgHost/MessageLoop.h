#pragma once
// Serves the browser's requests one at a time until the host has to end.

#include "CmdApiBinding.h"
#include "MessageChannel.h"

// Returns the process's exit code.
int serveMessages(MessageChannel& channel, const CmdApi& api);
