#include "StringCipher.h"

#include "Logger.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>

#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

// The key is the first 16 units of this text. Changing it makes every stored document unreadable.
const wchar_t ConfigKeyText[] = L"Kq7#Nimbal!vX2pr-Privacy/Settings";
constexpr size_t ConfigKeyUnits = 16;
static_assert(sizeof ConfigKeyText / sizeof ConfigKeyText[0] - 1 >= ConfigKeyUnits, "key text too short");

constexpr size_t BlockSize = AES_BLOCK_SIZE;
const char* const KeyErrorText = "AEC key is incorrect";

size_t wholeBlocks(size_t length)
{
    return (length + BlockSize - 1) & ~(BlockSize - 1);
}

[[noreturn]] void failOnKey()
{
    LOG_ERROR << KeyErrorText;
    throw std::runtime_error(KeyErrorText);
}

unsigned char* bytes(std::string& text)
{
    return reinterpret_cast<unsigned char*>(&text[0]);
}

const unsigned char* keyBytes()
{
    return reinterpret_cast<const unsigned char*>(configFileKey.data());
}

int keyBits()
{
    return static_cast<int>(configFileKey.size() * 8);
}

bool isControlCharacter(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

} // namespace

std::string configFileKey;

void fillConfigKey(const wchar_t* first, const wchar_t* end)
{
    configFileKey.reserve(configFileKey.size() + static_cast<size_t>(end - first));
    for (; first != end; ++first)
        configFileKey += static_cast<char>(static_cast<unsigned char>(*first & 0xFF));
}

namespace {

// Defined after configFileKey, so it runs after the string is constructed.
const bool initConfigFileKey = (fillConfigKey(ConfigKeyText, ConfigKeyText + ConfigKeyUnits), true);

} // namespace

namespace {

using SetKey = int (*)(const unsigned char* key, int bits, AES_KEY* schedule);
using BlockTransform = void (*)(const unsigned char* in, unsigned char* out, const AES_KEY* schedule);

// Extends the input with zeros to whole blocks and runs each block through the cipher on its own.
std::string transformBlocks(std::string input, SetKey setKey, BlockTransform transform)
{
    const size_t n = wholeBlocks(input.size());
    std::string result(n, '\0');
    input.resize(n, '\0');

    AES_KEY schedule;
    std::memset(&schedule, 0, sizeof schedule);
    if (setKey(keyBytes(), keyBits(), &schedule) < 0)
        failOnKey();
    for (size_t offset = 0; offset < n; offset += BlockSize)
        transform(bytes(input) + offset, bytes(result) + offset, &schedule);
    return result;
}

// Cuts the text after its last byte that differs from `c`.
void stripTrailing(std::string& text, char c)
{
    const size_t last = text.find_last_not_of(c);
    text.resize(last == std::string::npos ? 0 : last + 1);
}

} // namespace

std::string encryptString(std::string plain)
{
    std::string cipher = transformBlocks(std::move(plain), AES_set_encrypt_key, AES_encrypt);
    // The stored form carries no trailing zeros; decryption puts them back.
    stripTrailing(cipher, '\0');
    return cipher;
}

std::string decryptString(std::string cipher)
{
    if (cipher.empty())
        return std::string();
    std::string plain = transformBlocks(std::move(cipher), AES_set_decrypt_key, AES_decrypt);
    // Padding is zeros; a text that filled its last block loses its trailing run of line ends instead.
    const char tail = plain.back();
    if (isControlCharacter(static_cast<unsigned char>(tail)))
        stripTrailing(plain, tail);
    return plain;
}
