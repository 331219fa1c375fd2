#pragma once
// One connection to the service's pipe per calling thread, kept until the process ends.

#include "CommandsClient.h"

#include <memory>

// The calling thread's connected client. When the pipe cannot be reached the service is started
// and the pipe tried once more; none when that fails too.
std::shared_ptr<CommandsClient> getClient();
