#pragma once
// Security attributes that give Everyone all access, for the instances of the command pipe:
// clients of every user of the machine must be able to open it.

#include "Handles.h"

#include <windows.h>

class EveryoneSecurity {
public:
    EveryoneSecurity();
    EveryoneSecurity(const EveryoneSecurity&) = delete;
    EveryoneSecurity& operator=(const EveryoneSecurity&) = delete;

    // Null when the descriptor could not be built: the pipe then gets the default security.
    SECURITY_ATTRIBUTES* attributes() noexcept { return descriptor_ ? &attributes_ : nullptr; }

private:
    SidOwner everyone_;
    LocalMemory acl_;
    LocalMemory descriptor_;
    SECURITY_ATTRIBUTES attributes_ {};
};
