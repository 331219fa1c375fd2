#pragma once
// A form-encoded request body, built field by field so that its logged copy can leave out secrets.

#include <string>
#include <utility>
#include <vector>

class FormBody {
public:
    // The value goes in as it is held: a caller escapes what needs it.
    FormBody& add(const std::wstring& name, const std::wstring& value);
    // A ready-made run of fields, each beginning with "&".
    FormBody& appendFields(const std::wstring& fields);

    // Fields joined by "&", as sent.
    std::wstring text() const;
    // The same with the value of every "password" field replaced by "***", for log lines.
    std::string loggedText() const;

private:
    // A field's name and value; a ready-made run has no name and its text as the value.
    struct Part {
        std::wstring name;
        std::wstring value;
        bool field;
    };
    std::wstring join(bool masked) const;

    std::vector<Part> parts;
};

// A reply text for log lines: the value of every "token" member (the account's) and every "auth"
// member (the VPN daemon's credentials) replaced by "***".
std::string loggedReply(const std::wstring& reply);
