#pragma once

#include "RemoteServerResponse.h"

#include <string>

// The result record of a code: 200, 400 and 401 keep theirs, every other code is reported as 500
// (where a bare "Success" would mislead, the message says the code was not handled).
RemoteServerResponse makeServerResponse(int code, std::wstring message);
