#include "StringCipher.h"

#include "Logger.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>

#include <cstring>
#include <stdexcept>

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

std::string encryptString(std::string plain)
{
    const size_t n = wholeBlocks(plain.size());
    std::string result(n, '\0');
    plain.resize(n, '\0');

    AES_KEY schedule;
    std::memset(&schedule, 0, sizeof schedule);
    if (AES_set_encrypt_key(keyBytes(), keyBits(), &schedule) < 0)
        failOnKey();
    for (size_t offset = 0; offset < n; offset += BlockSize)
        AES_encrypt(bytes(plain) + offset, bytes(result) + offset, &schedule);

    // The stored form carries no trailing zeros; decryption puts them back.
    const size_t last = result.find_last_not_of('\0');
    result.resize(last == std::string::npos ? 0 : last + 1);
    return result;
}

std::string decryptString(std::string cipher)
{
    if (cipher.empty())
        return std::string();
    const size_t n = wholeBlocks(cipher.size());
    std::string result(n, '\0');
    cipher.resize(n, '\0');

    AES_KEY schedule;
    std::memset(&schedule, 0, sizeof schedule);
    if (AES_set_decrypt_key(keyBytes(), keyBits(), &schedule) < 0)
        failOnKey();
    for (size_t offset = 0; offset < n; offset += BlockSize)
        AES_decrypt(bytes(cipher) + offset, bytes(result) + offset, &schedule);

    // Padding is zeros; a text that filled its last block loses its trailing run of line ends instead.
    const char tail = result.back();
    if (isControlCharacter(static_cast<unsigned char>(tail))) {
        const size_t last = result.find_last_not_of(tail);
        result.resize(last == std::string::npos ? 0 : last + 1);
    }
    return result;
}
