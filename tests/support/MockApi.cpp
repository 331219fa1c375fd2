#include "MockApi.h"

#include "LoopbackHttp.h"

#include <windows.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace pt = boost::property_tree;

namespace {

bool sameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string queryEscape(const std::string& text)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += Hex[c >> 4];
            escaped += Hex[c & 15];
        }
    }
    return escaped;
}

// A JSON array of [name, value] arrays.
NameValueList readPairs(const pt::ptree& list)
{
    NameValueList pairs;
    for (const auto& item : list) {
        auto part = item.second.begin();
        if (item.second.size() != 2)
            throw std::runtime_error("mock API: a name/value pair has " + std::to_string(item.second.size()) +
                                     " parts");
        std::string name = part->second.data();
        ++part;
        pairs.emplace_back(std::move(name), part->second.data());
    }
    return pairs;
}

MockRequest readRequest(const pt::ptree& record)
{
    MockRequest request;
    request.seq = record.get<int>("seq");
    request.scheme = record.get<std::string>("scheme");
    request.method = record.get<std::string>("method");
    request.path = record.get<std::string>("path");
    request.query = record.get<std::string>("query");
    request.headers = readPairs(record.get_child("headers"));
    request.body = record.get<std::string>("body");
    request.form = readPairs(record.get_child("form"));
    return request;
}

HttpReply control(unsigned short port, const std::string& method, const std::string& target,
                  const std::string& body = std::string())
{
    HttpReply reply = loopbackHttp(port, method, target, body);
    if (reply.status != 200)
        throw std::runtime_error("mock API refused " + method + " " + target + " with " +
                                 std::to_string(reply.status) + ": " + reply.body);
    return reply;
}

} // namespace

std::string MockRequest::header(const std::string& name) const
{
    for (const auto& [headerName, value] : headers)
        if (sameText(headerName, name))
            return value;
    return std::string();
}

bool MockRequest::hasHeader(const std::string& name) const
{
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return sameText(h.first, name); });
}

MockApi::MockApi()
{
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("NIMBAL_MOCK_API_PORT", text, sizeof text);
    const long port = (length > 0 && length < sizeof text) ? std::strtol(text, nullptr, 10) : 0;
    if (port <= 0 || port > 65535)
        throw std::runtime_error("NIMBAL_MOCK_API_PORT is not set to a port; register the test with MOCK_API");
    port_ = static_cast<unsigned short>(port);
}

void MockApi::reset()
{
    control(port_, "POST", "/__mock/reset");
}

void MockApi::setReply(const std::string& path, int status, const std::string& body, unsigned delayMs)
{
    scriptReply(path, status, body, delayMs, false);
}

void MockApi::queueReply(const std::string& path, int status, const std::string& body, unsigned delayMs)
{
    scriptReply(path, status, body, delayMs, true);
}

void MockApi::scriptReply(const std::string& path, int status, const std::string& body, unsigned delayMs,
                          bool once)
{
    control(port_, "POST",
            "/__mock/reply?path=" + queryEscape(path) + "&status=" + std::to_string(status) +
                "&delayMs=" + std::to_string(delayMs) + "&once=" + (once ? "1" : "0"),
            body);
}

void MockApi::serveDownload(const std::string& name, int status, const std::string& bytes, unsigned chunkBytes,
                            unsigned chunkDelayMs)
{
    control(port_, "POST",
            "/__mock/download?name=" + queryEscape(name) + "&status=" + std::to_string(status) +
                "&chunkBytes=" + std::to_string(chunkBytes) + "&chunkDelayMs=" + std::to_string(chunkDelayMs),
            bytes);
}

std::wstring MockApi::downloadUrl(const std::wstring& name, const wchar_t* scheme) const
{
    return std::wstring(scheme) + L"://localhost:" + std::to_wstring(port_) + L"/download/" + name;
}

std::vector<MockRequest> MockApi::requests() const
{
    std::istringstream json(control(port_, "GET", "/__mock/requests").body);
    pt::ptree records;
    pt::read_json(json, records);
    std::vector<MockRequest> result;
    for (const auto& record : records)
        result.push_back(readRequest(record.second));
    return result;
}

std::vector<MockRequest> MockApi::requestsTo(const std::string& path) const
{
    std::vector<MockRequest> all = requests();
    all.erase(std::remove_if(all.begin(), all.end(), [&](const MockRequest& r) { return r.path != path; }),
              all.end());
    return all;
}
