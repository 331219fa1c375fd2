#pragma once
// The mock vendor API's replies that hand the service a daemon configuration: the check-in that
// sets the daemon's management port and the watchdog's interval, and the connect.

#include <string>

namespace vpn_test {

const std::string CheckinPath = "/v3/client/checkin";
const std::string ConnectPath = "/v3/server/connect";
const std::string LogUploadPath = "/user/log/";

inline std::string base64(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        const unsigned chunk = static_cast<unsigned char>(bytes[i]) << 16
            | (left > 1 ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0) | (left > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0);
        text += alphabet[chunk >> 18 & 63];
        text += alphabet[chunk >> 12 & 63];
        text += left > 1 ? alphabet[chunk >> 6 & 63] : '=';
        text += left > 2 ? alphabet[chunk & 63] : '=';
    }
    return text;
}

// A check-in reply of this version with the daemon's management port and the watchdog's interval.
inline std::string checkinReply(int managementPort, int intervalSeconds)
{
    return "{\"status\":true,\"version\":\"1.1.0.33\",\"updateType\":\"manual\",\"updateUrl\":\"\","
           "\"updateRequestInterval\":86400,\"updateRequestIntervalIfFailed\":3600,\"vpnDiagnosticsInterval\":"
        + std::to_string(intervalSeconds) + ",\"ovpnControlPort\":" + std::to_string(managementPort)
        + ",\"remindOnBrowserDays\":2,\"agentIconUpdTimeout\":2}";
}

// A connect reply that hands out `configuration`.
inline std::string connectReply(const std::string& configuration)
{
    return "{\"status\":true,\"auth\":\"" + base64("mockuser\nmockpassword\n") + "\",\"config\":\"" + base64(configuration)
        + "\"}";
}

} // namespace vpn_test
