#pragma once
// What OpenVPN's management interface says, to the byte, as the real daemon says it.

#include <string>

const std::string ManagementGreeting =
    ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
const std::string SigtermThrown = "SUCCESS: signal SIGTERM thrown\r\n";
