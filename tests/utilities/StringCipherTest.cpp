// The settings cipher: plain AES-128-ECB with zero padding, and its stripping rules.
#include "StringCipher.h"

#include "ChildProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr size_t Block = 16;

std::string repeated(const std::string& unit, size_t length)
{
    std::string text;
    while (text.size() < length)
        text += unit;
    return text.substr(0, length);
}

// The ciphertext as whole blocks, as AES produced it before the trailing zeros were dropped.
std::string wholeBlocks(std::string cipher)
{
    cipher.resize((cipher.size() + Block - 1) / Block * Block, '\0');
    return cipher;
}

// A 16-byte plaintext whose ciphertext ends in a zero byte (about one in 256 do).
std::string plaintextWithZeroEndingCipher()
{
    char text[Block + 1];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(text, sizeof text, "zero-tail %06d", i);
        if (encryptString(text).size() < Block)
            return text;
    }
    return std::string();
}

} // namespace

TEST(StringCipher, KeyIsSixteenBytes)
{
    EXPECT_EQ(configFileKey.size(), 16u);
}

struct LengthCase {
    size_t plainLength;
    size_t cipherBlocks;
};

class CipherLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(CipherLength, PadsToWholeBlocksAndRoundTrips)
{
    const std::string plain = repeated("settings text ", GetParam().plainLength);
    const std::string cipher = encryptString(plain);
    EXPECT_EQ(wholeBlocks(cipher).size(), GetParam().cipherBlocks * Block);
    // Only trailing zero bytes of the last block may be dropped.
    EXPECT_GT(cipher.size() + Block, GetParam().cipherBlocks * Block);
    EXPECT_EQ(decryptString(cipher), plain);
}

INSTANTIATE_TEST_SUITE_P(StringCipher, CipherLength,
                         ::testing::Values(LengthCase { 0, 0 }, LengthCase { 1, 1 }, LengthCase { 15, 1 },
                                           LengthCase { 16, 1 }, LengthCase { 17, 2 }, LengthCase { 32, 2 },
                                           LengthCase { 33, 3 }));

TEST(StringCipher, EmptyTextsStayEmpty)
{
    EXPECT_EQ(encryptString(std::string()), "");
    EXPECT_EQ(decryptString(std::string()), "");
}

TEST(StringCipher, CiphertextEndingInZerosIsStoredShorterAndStillDecrypts)
{
    const std::string plain = plaintextWithZeroEndingCipher();
    ASSERT_EQ(plain.size(), Block) << "no plaintext found whose ciphertext ends in zero";
    const std::string cipher = encryptString(plain);
    ASSERT_LT(cipher.size(), Block);
    EXPECT_NE(cipher.back(), '\0');
    EXPECT_EQ(decryptString(cipher), plain);
}

TEST(StringCipher, EqualBlocksGiveEqualCiphertextBlocks)
{
    const std::string a = "0123456789abcdef";
    const std::string b = "fedcba9876543210";
    const std::string cipher = encryptString(a + b + a + b);
    ASSERT_GE(cipher.size(), 3 * Block);
    EXPECT_EQ(cipher.substr(0, Block), cipher.substr(2 * Block, Block));
    EXPECT_NE(cipher.substr(0, Block), cipher.substr(Block, Block));
    // Same input, same key, no initialisation vector: the same output every time.
    EXPECT_EQ(encryptString(a), encryptString(a));
}

struct StripCase {
    const char* name;
    std::string plain;
    std::string decrypted;
};

class CipherStripping : public ::testing::TestWithParam<StripCase> {};

TEST_P(CipherStripping, RemovesOnlyTheTrailingRunOfTheLastControlByte)
{
    EXPECT_EQ(decryptString(encryptString(GetParam().plain)), GetParam().decrypted);
}

INSTANTIATE_TEST_SUITE_P(
    StringCipher, CipherStripping,
    ::testing::Values(
        StripCase { "TrailingZerosAreLost", std::string("abc\0\0", 5), "abc" },
        StripCase { "ShortTextKeepsItsLineEnd", "{\n}\n", "{\n}\n" },
        StripCase { "FullBlockLosesItsLineEnds", "{ \"a\": \"bcd\" }\n\n", "{ \"a\": \"bcd\" }" },
        StripCase { "FullBlockLosesItsDeleteRun", "0123456789abc\x7f\x7f\x7f", "0123456789abc" },
        StripCase { "FullBlockKeepsAPrintableEnd", "0123456789abcdef", "0123456789abcdef" },
        StripCase { "FullBlockKeepsAHighByteEnd", "0123456789abcde\xe9", "0123456789abcde\xe9" },
        StripCase { "OnlyTheLastCharactersRunGoes", "0123456789abc\t\n\n", "0123456789abc\t" },
        StripCase { "AllControlBlockBecomesEmpty", std::string(16, '\r'), "" }),
    [](const ::testing::TestParamInfo<StripCase>& info) { return std::string(info.param.name); });

// A fixed document and its ciphertext, made once by the openssl command line from the zero-padded
// text (openssl enc -aes-128-ecb -nopad -K 4b7137234e696d62616c217658327072): a change of the key
// or of the cipher makes every stored document unreadable, and this test fail.
const std::string KnownPlaintext = "{\n    \"Hidden\": {\n        \"VpnUser\": {\n            \"token\": "
                                   "\"known-answer\"\n        }\n    }\n}\n";
const unsigned char KnownCiphertext[] = {
    0x2f, 0x02, 0x49, 0xfa, 0x4f, 0xb0, 0x3a, 0x63, 0x36, 0x7d, 0x63, 0x0d, 0x42, 0x5e, 0x74, 0x3b,
    0xff, 0x9d, 0xff, 0x0a, 0xc2, 0x5d, 0x6b, 0x15, 0x9c, 0x6f, 0x77, 0xa2, 0xc5, 0x73, 0xd4, 0xb3,
    0x1f, 0x29, 0xfb, 0x06, 0x97, 0xc6, 0xf8, 0x99, 0x3b, 0x6f, 0x2c, 0xf1, 0x28, 0xb2, 0x04, 0x4c,
    0x81, 0xbb, 0xca, 0x41, 0x17, 0x5d, 0xba, 0x8b, 0x8d, 0xec, 0xc0, 0x63, 0x73, 0x26, 0xc8, 0x8e,
    0xd8, 0x73, 0x36, 0xe2, 0x67, 0xf3, 0xad, 0x26, 0x81, 0x44, 0x8c, 0xec, 0xf6, 0x33, 0xe2, 0x08,
    0x39, 0x9d, 0x87, 0x0f, 0x7f, 0x73, 0x1b, 0x61, 0x07, 0xaf, 0x86, 0xa4, 0xf0, 0xfe, 0xaf, 0xac,
};

TEST(StringCipher, KnownDocumentGivesItsKnownCiphertext)
{
    const std::string known(reinterpret_cast<const char*>(KnownCiphertext), sizeof KnownCiphertext);
    EXPECT_EQ(encryptString(KnownPlaintext), known);
    EXPECT_EQ(decryptString(known), KnownPlaintext);
}

// Writes vectors that check-cipher-vectors.sh deciphers with the openssl command-line tool, so the
// format is plain AES-128-ECB and nothing of our own.
TEST(StringCipher, WritesVectorsForTheOpenSslCommandLine)
{
    const std::wstring folder = hostPath(NIMBAL_CIPHER_VECTORS) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(fileExists(folder));

    std::string hex;
    char digits[3];
    for (unsigned char c : configFileKey) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        hex += digits;
    }
    writeWholeFile(folder + L"key.hex", hex);

    const std::string vectors[] = {
        repeated("a", 15),
        repeated("b", 16),
        repeated("c", 17),
        "{\n    \"Hidden\": {\n        \"VpnUser\": {\n            \"token\": \"x\\u00e9\"\n        }\n    }\n}\n",
        plaintextWithZeroEndingCipher(),
    };
    int index = 0;
    for (const std::string& plain : vectors) {
        ASSERT_FALSE(plain.empty());
        const std::wstring name = folder + L"vector" + std::to_wstring(index++);
        writeWholeFile(name + L".cipher", wholeBlocks(encryptString(plain)));
        writeWholeFile(name + L".plain", wholeBlocks(plain));
    }
}
