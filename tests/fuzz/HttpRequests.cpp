#include "HttpRequests.h"

#include <winsock2.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Url {
    const char* path;
    unsigned weight;
};

// The 26 URLs; posting the logs runs programs for seconds and blocks the server meanwhile: seldom.
const Url Urls[] = {
    { "TYTUT", 6 }, { "vpn/get/state", 4 }, { "vpn/get/currentServer", 3 }, { "vpn/get/serversList", 3 },
    { "vpn/connect", 3 }, { "vpn/disconnect", 3 }, { "update/check", 3 }, { "update/start", 2 },
    { "user/relogin", 2 }, { "user/set", 4 }, { "user/get", 3 }, { "logfiles/enable", 2 },
    { "logfiles/disable", 2 }, { "logfiles/post", 1 }, { "products/list", 3 }, { "accounts/register", 4 },
    { "accounts/login", 4 }, { "accounts/logout", 3 }, { "accounts/reset", 4 }, { "accounts/orders", 3 },
    { "accounts/token", 3 }, { "setting/get", 10 }, { "setting/set", 10 }, { "support", 4 }, { "limits", 3 },
    { "remote/login", 4 },
};

const std::vector<std::string> OtherVerbs { "GET", "PUT", "DELETE", "OPTIONS", "PATCH" };
const std::vector<std::string> FieldNames { "name", "value", "server", "user", "login", "pass", "rememberMe",
                                            "email", "message", "address", "token", "lifetime", "creationtime" };
// Paths setting/get may read: any, secrets and the server's answer included.
const std::vector<std::string> ReadableSettings { "Internal.LoggingEnabled", "Hidden.VpnUser.token",
                                                  "Hidden.VpnUser.password", "LastLoginRequestInfo.updateUrl",
                                                  "InstallSettings.LocalHttpsPort", "Fuzz.a", "Fuzz", "", ".",
                                                  "a..b", "Fuzz..", "Fuzz.a.b.c.d.e.f" };
// Paths setting/set writes: the test's own branch only.
const std::vector<std::string> WritableSettings { "Fuzz.a", "Fuzz.b.c", "Fuzz.Deep.x.y.z" };
// Names that are no proper dotted path: empty, or with empty parts.
const std::vector<std::string> OddSettingPaths { "", ".", "..", "Fuzz.", ".Fuzz", "a..b", "Fuzz.%41", "Fuzz.a b" };
const std::vector<std::string> ExtraHeaders { "X-Fuzz", "Accept", "Cookie", "Referer", "User-Agent", "X-Name",
                                              "Name", "VALUE", "names" };

// A header line. Wine's HTTP driver faults on a value of nothing but blanks ("Accept: ") and
// serves no request of any client afterwards: an empty value is sent without the blank.
std::string headerLine(const std::string& name, const std::string& value)
{
    return name + ":" + (value.empty() ? "" : " " + value) + "\r\n";
}

std::string printable(Random& random, std::uint32_t length)
{
    std::string text(length, ' ');
    for (char& c : text)
        c = static_cast<char>(random.between(0x21, 0x7E));
    return text;
}

std::string anyBytes(Random& random, std::uint32_t length)
{
    std::string text(length, '\0');
    for (char& c : text)
        c = static_cast<char>(random.byte());
    return text;
}

std::string fieldValue(Random& random)
{
    switch (random.below(6)) {
    case 0:
        return "";
    case 1:
        return printable(random, random.size(20, 3000));
    case 2:
        return "a%20b+c%zz%";
    case 3:
        return anyBytes(random, random.size(20, 400));
    case 4:
        return random.pick(ReadableSettings);
    default:
        return "S-1-5-21-1004336348-1177238915-682003330-100" + std::to_string(random.below(10));
    }
}

std::string formBody(Random& random)
{
    if (random.percent(10))
        return anyBytes(random, random.size(64, 4000));
    if (random.percent(3))
        return "name=" + std::string(random.between(65530, 70000), 'a');
    std::string body;
    for (unsigned n = random.below(7); n > 0; --n) {
        if (!body.empty() || random.percent(10))
            body += random.percent(90) ? "&" : "&&";
        const unsigned shape = random.below(20);
        if (shape == 0)
            body += std::string(random.between(1000, 5000), 'n') + "=" + fieldValue(random);
        else if (shape == 1)
            body += random.pick(FieldNames);  // no "="
        else if (shape == 2)
            body += "=" + fieldValue(random);
        else if (shape == 3)
            body += "x" + random.pick(FieldNames) + "=" + fieldValue(random);  // only ends like a field name
        else
            body += random.pick(FieldNames) + "=" + fieldValue(random);
    }
    return body;
}

std::string malformedRequest(Random& random, const std::string& host)
{
    switch (random.below(8)) {
    case 0:
        return printable(random, random.between(1, 60)) + "\r\n\r\n";
    case 1:
        return "POST /TYTUT\r\nHost: " + host + "\r\n\r\n";
    case 2:
        return "POST /TYTUT HTTP/1.1\r\nHost: " + host + "\r\n" +
               headerLine("Content-Length", random.pick(std::vector<std::string> { "abc", "-1", "99999999999", "1 2", "" })) +
               "\r\n";
    case 3:
        return "POST /setting/get HTTP/1.1\r\nHost: " + host +
               "\r\nContent-Length: 6\r\nContent-Length: 9\r\n\r\nname=a";
    case 4:
        return "POST /TYTUT HTTP/1.1\r\nHost: " + host + "\r\nno colon here\r\nContent-Length: 0\r\n\r\n";
    case 5:
        return "POST /TYTUT HTTP/1.1\r\nHost: " + host + "\r\nX-Big: " + std::string(random.between(16000, 70000), 'b') +
               "\r\nContent-Length: 0\r\n\r\n";
    case 6: {
        std::string request = "POST /setting/set HTTP/1.1\r\nHost: " + host + "\r\n";
        for (unsigned i = random.between(100, 400); i > 0; --i)
            request += "X-H" + std::to_string(i) + ": " + printable(random, 8) + "\r\n";
        return request + "Content-Length: 0\r\n\r\n";
    }
    default:
        return "POST /TYTUT HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 3\r\n\r\n" + anyBytes(random, 3) +
               anyBytes(random, random.between(1, 200));
    }
}

bool hasField(const std::string& body, const char* name)
{
    std::string ignored;
    return formField(body, name, ignored);
}

std::string field(const std::string& body, const char* name)
{
    std::string value;
    formField(body, name, value);
    return value;
}

void expectExactly(HttpCase& c, int status, const std::string& body)
{
    c.expect = HttpCase::Expect::Exactly;
    c.status = status;
    c.body = body;
}

void expectStatus(HttpCase& c, int status)
{
    c.expect = HttpCase::Expect::Status;
    c.status = status;
}

// What a POST to the URL itself with this body (and, for setting/set, these headers) must get,
// where the request alone decides it.
void foreseeReply(HttpCase& c, const std::string& path, const std::string& body, bool nameHeader, bool valueHeader)
{
    if (path == "TYTUT")
        expectExactly(c, 200, "GDEZHESCHIO!");
    else if (path == "vpn/get/state")
        c.expect = HttpCase::Expect::StateName;
    else if (path == "vpn/disconnect")
        expectExactly(c, 200, "Disconnecting");
    else if (path == "user/relogin")
        expectExactly(c, 200, "Relogining");
    else if (path == "user/get" || path == "accounts/token" || path == "vpn/get/currentServer")
        expectStatus(c, 200);
    else if (path == "logfiles/enable")
        expectExactly(c, 200, "Logging enabled");
    else if (path == "logfiles/disable")
        expectExactly(c, 200, "Logging disabled");
    else if (path == "accounts/logout")
        expectExactly(c, 200, "Success");
    else if (path == "setting/get") {
        if (hasField(body, "name"))
            expectStatus(c, 200);
        else
            expectExactly(c, 400, "Param \"name\" not found");
    } else if (path == "setting/set") {
        if (nameHeader && valueHeader)
            expectExactly(c, 200, "Success");
        else
            expectExactly(c, 400, "Param \"name\" or \"value\" not found");
    } else if (path == "user/set") {
        if (hasField(body, "user"))
            expectExactly(c, 200, "Setting");
        else
            expectExactly(c, 400, "Param \"user\" not found");
    } else if (path == "accounts/reset") {
        if (!hasField(body, "email"))
            expectExactly(c, 400, "Param \"name\" not found");
    } else if (path == "support") {
        if (!hasField(body, "message"))
            expectExactly(c, 500, "no such parameter");
    } else if (path == "remote/login") {
        if (!hasField(body, "token") || !hasField(body, "lifetime") || !hasField(body, "creationtime"))
            expectExactly(c, 400, "Param \"token\", \"lifeTime\" or \"creationtime\" not found");
        else if (field(body, "token").empty() || field(body, "lifetime").empty() || field(body, "creationtime").empty())
            expectExactly(c, 400, "None of params \"token\", \"lifeTime\" or \"creationtime\" can be empty");
        else
            expectStatus(c, 200);
    } else if (path == "accounts/login" || path == "accounts/register") {
        if (!hasField(body, "login") || !hasField(body, "pass"))
            expectExactly(c, 400, "Param \"login\" or \"pass\" not found");
        else if (field(body, "login").empty() || field(body, "pass").empty())
            expectExactly(c, 400, "Please, enter correct email and password");
    }
}

const Url& pickUrl(Random& random)
{
    unsigned total = 0;
    for (const Url& url : Urls)
        total += url.weight;
    unsigned at = random.below(total);
    for (const Url& url : Urls) {
        if (at < url.weight)
            return url;
        at -= url.weight;
    }
    return Urls[0];
}

struct SocketOwner {
    SOCKET s = INVALID_SOCKET;
    ~SocketOwner()
    {
        if (s != INVALID_SOCKET)
            closesocket(s);
    }
};

long long contentLength(const std::string& headers)
{
    size_t start = 0;
    while (start < headers.size()) {
        const size_t end = headers.find("\r\n", start);
        const std::string line = headers.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const size_t colon = line.find(':');
        if (colon != std::string::npos && _stricmp(line.substr(0, colon).c_str(), "Content-Length") == 0)
            return std::atoll(line.c_str() + colon + 1);
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return -1;
}

} // namespace

bool formField(const std::string& body, const std::string& name, std::string& value)
{
    const std::string key = name + "=";
    for (size_t at = 0; at + key.size() <= body.size(); ++at) {
        if (body.compare(at, key.size(), key) != 0)
            continue;
        const unsigned char before = at == 0 ? 0 : static_cast<unsigned char>(body[at - 1]);
        if (std::isalnum(before) && before < 0x80)
            continue;
        const size_t end = body.find('&', at + key.size());
        value = body.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
        return true;
    }
    return false;
}

HttpCase makeHttpCase(Random& random, unsigned short port)
{
    HttpCase c;
    const std::string host = "127.0.0.1:" + std::to_string(port);
    if (random.percent(6)) {
        c.kind = "malformed HTTP";
        c.request = malformedRequest(random, host);
        return c;
    }

    const Url& url = pickUrl(random);
    const std::string path = url.path;
    std::string method = "POST";
    const unsigned verb = random.below(100);
    if (verb < 12)
        method = random.pick(OtherVerbs);
    else if (verb < 14)
        method = "HEAD";
    else if (verb < 16)
        method = random.pick(std::vector<std::string> { "post", "P0ST", "FOO", "SEARCH" });

    std::string suffix;
    const unsigned shape = random.below(100);
    if (shape < 5)
        suffix = "/";
    else if (shape < 11)
        suffix = "?" + printable(random, random.between(0, 40));
    else if (shape < 17)
        suffix = "/" + printable(random, random.between(1, 40));
    else if (shape < 20)
        suffix = "/" + std::string(random.between(2000, 6000), 'p');
    // A blank would end the path, and '#' or a stray '%' change what the server makes of it.
    for (char& ch : suffix)
        if (ch == ' ' || ch == '#' || ch == '%')
            ch = '_';

    std::string headers;
    bool nameHeader = false;
    bool valueHeader = false;
    bool plainHeaders = true;
    if (path == "setting/set" || random.percent(10)) {
        const unsigned which = random.below(10);
        nameHeader = which < 8;
        valueHeader = which >= 2;
        const bool oddPath = random.percent(15);
        if (nameHeader)
            headers += headerLine("name", oddPath ? random.pick(OddSettingPaths) : random.pick(WritableSettings));
        if (valueHeader)
            headers += headerLine("value", printable(random, random.below(61)));
        // Paths that are no settings: the service answers, but how is its own affair.
        plainHeaders = !oddPath;
    }
    for (unsigned n = random.percent(30) ? random.between(1, 4) : 0; n > 0; --n) {
        headers += headerLine(random.pick(ExtraHeaders), printable(random, random.size(30, 3000)));
        plainHeaders = false;
    }

    std::string body = random.percent(20) ? std::string() : formBody(random);
    bool plainFraming = true;
    const unsigned framing = random.below(100);
    if (framing < 4) {
        // More body announced than sent: the service reads until the client goes.
        headers += "Content-Length: " + std::to_string(body.size() + random.between(1, 64)) + "\r\n";
        plainFraming = false;
    } else if (framing < 7 && !body.empty()) {
        headers += "Content-Length: " + std::to_string(random.below(static_cast<std::uint32_t>(body.size()))) + "\r\n";
        plainFraming = false;
    } else if (framing < 10) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx", body.size());
        headers += "Transfer-Encoding: chunked\r\n";
        body = body.empty() ? "0\r\n\r\n" : std::string(size) + "\r\n" + body + "\r\n0\r\n\r\n";
        plainFraming = false;
    } else {
        headers += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }

    c.kind = method + " /" + path + (suffix.empty() ? "" : " with a suffix");
    c.request = method + " /" + path + suffix + " HTTP/1.1\r\nHost: " + host + "\r\n" + headers + "\r\n" + body;

    if (!plainFraming || body.size() > 65536)
        return c;
    // Any other verb, known or not, is refused before the URL is looked at; HEAD's reply may come
    // without its body.
    if (method == "HEAD") {
        expectStatus(c, 501);
        return c;
    }
    if (method != "POST") {
        expectExactly(c, 501, "Got an unsupported request with non-POST method");
        return c;
    }
    // Below a URL, or with a query, is not the URL.
    if (!suffix.empty()) {
        expectExactly(c, 501, "Can't find URL handler");
        return c;
    }
    if (path == "setting/set" && !plainHeaders)
        return c;
    foreseeReply(c, path, body, nameHeader, valueHeader);
    return c;
}

RawReply rawExchange(unsigned short port, const std::string& request, unsigned waitMs)
{
    RawReply reply;
    SocketOwner connection;
    connection.s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connection.s == INVALID_SOCKET)
        return reply;
    const DWORD timeout = waitMs;
    setsockopt(connection.s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    setsockopt(connection.s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection.s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return reply;
    // One send: Wine's server drops a request whose bytes come in more than one burst.
    for (size_t sent = 0; sent < request.size();) {
        const int n = send(connection.s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0)
            return reply;
        sent += static_cast<size_t>(n);
    }

    const bool noBody = request.compare(0, 5, "HEAD ") == 0;
    size_t headerEnd = std::string::npos;
    long long expected = -1;
    bool closed = false;
    char buffer[8192];
    for (;;) {
        if (headerEnd != std::string::npos && (noBody || (expected >= 0 && reply.raw.size() - (headerEnd + 4) >= static_cast<size_t>(expected))))
            break;
        const int n = recv(connection.s, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed = n == 0;
            break;
        }
        reply.raw.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos) {
            headerEnd = reply.raw.find("\r\n\r\n");
            if (headerEnd != std::string::npos)
                expected = contentLength(reply.raw.substr(0, headerEnd + 2));
        }
    }
    if (headerEnd == std::string::npos || reply.raw.compare(0, 9, "HTTP/1.1 ") != 0)
        return reply;
    const size_t statusEnd = reply.raw.find("\r\n");
    reply.status = std::atoi(reply.raw.c_str() + 9);
    const size_t reasonStart = reply.raw.find(' ', 9);
    if (reasonStart != std::string::npos && reasonStart < statusEnd)
        reply.reason = reply.raw.substr(reasonStart + 1, statusEnd - reasonStart - 1);
    reply.headers = reply.raw.substr(statusEnd + 2, headerEnd + 2 - (statusEnd + 2));
    reply.body = reply.raw.substr(headerEnd + 4);
    if (noBody)
        reply.body.clear();
    reply.answered = noBody || (expected >= 0 ? reply.body.size() == static_cast<size_t>(expected) : closed);
    reply.fromService = reply.headers.find("Content-Type: text/html\r\n") != std::string::npos;
    return reply;
}
