#pragma once
// AES-128 in ECB mode over whole strings, for the settings documents on disk.
//
// The plaintext is zero-padded to whole blocks and trailing zero bytes of the ciphertext are dropped;
// decryption restores them and strips the trailing run of the final control character.

#include <string>

// The key of every settings document: 16 bytes, complete before any thread starts.
extern std::string configFileKey;

// Appends one byte per UTF-16 unit (its low eight bits) to configFileKey.
void fillConfigKey(const wchar_t* first, const wchar_t* end);

std::string encryptString(std::string plain);
std::string decryptString(std::string cipher);
