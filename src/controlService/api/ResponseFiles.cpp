#include "ResponseFiles.h"

#include "ApiWire.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/remove_whitespace.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

namespace {

using namespace boost::archive::iterators;
using Base64Decoder = transform_width<binary_from_base64<remove_whitespace<std::string::const_iterator>>, 8, 6>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<std::FILE, FileCloser>;

} // namespace

bool decodeBase64(const std::wstring& text, std::string& decoded)
{
    // Padding followed by a line end is still padding.
    const size_t last = text.find_last_not_of(L"= \t\r\n\v\f");
    if (last == std::wstring::npos)
        return false;
    std::string encoded;
    encoded.reserve(last + 1);
    for (size_t i = 0; i <= last; ++i) {
        // The decoder would take a "=" inside the text for zero bits.
        if (text[i] > 0x7f || text[i] == L'=')
            return false;
        encoded += static_cast<char>(text[i]);
    }
    // The decoder cannot tell where the input ends inside a byte, so it is asked for whole bytes only.
    const size_t characters = std::count_if(encoded.begin(), encoded.end(),
                                            [](unsigned char c) { return !std::isspace(c); });
    const size_t bytes = characters * 6 / 8;
    decoded.clear();
    decoded.reserve(bytes);
    try {
        Base64Decoder next(encoded.cbegin());
        for (size_t i = 0; i < bytes; ++i, ++next)
            decoded += static_cast<char>(*next);
    } catch (const std::exception&) {
        decoded.clear();
        return false;
    }
    return true;
}

bool writeTextFile(const std::wstring& text, const std::wstring& path)
{
    std::string bytes;
    if (!decodeBase64(text, bytes))
        return false;
    FileOwner file(std::fopen(toNarrowString(path).c_str(), "w+"));
    if (!file)
        return false;
    const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    // Closing flushes what is still buffered: its failure loses data too.
    return std::fclose(file.release()) == 0 && written == bytes.size();
}

bool saveResponseFile(const boost::property_tree::wptree& reply, const std::wstring& folder, const std::wstring& key,
                      const std::wstring& fileName)
{
    const std::wstring value = reply.get<std::wstring>(key);
    if (value.empty() || value == ApiWire::NullText) {
        Logger::instance().write(toNarrowString(fileName), "leaved as is");
        return false;
    }
    const bool ok = writeTextFile(value, folder + fileName);
    Logger::instance().write(toNarrowString(fileName), ok ? "updated" : "update failed");
    return ok;
}
