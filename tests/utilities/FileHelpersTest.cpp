// File sizes, file tails and opening a file to everyone.
#include "FileHelpers.h"

#include "TempFolder.h"

#include <aclapi.h>

#include <gtest/gtest.h>

#include <vector>

class FileHelpersTest : public ::testing::Test {
protected:
    std::wstring write(const std::string& bytes, const std::wstring& name = L"file.bin")
    {
        writeWholeFile(folder.file(name), bytes);
        return folder.file(name);
    }

    TempFolder folder;
};

TEST_F(FileHelpersTest, SizeIsTheByteCountOrMinusOneForAMissingFile)
{
    for (size_t size : { 0u, 1u, 4097u, 300000u })
        EXPECT_EQ(getFileSize(write(std::string(size, 'x'))), static_cast<std::int64_t>(size));
    EXPECT_EQ(getFileSize(folder.file(L"missing.bin")), -1);
}

struct TailCase {
    const char* name;
    std::string content;
    std::int64_t maximum;
    std::wstring expected;
};

void PrintTo(const TailCase& value, std::ostream* out)
{
    *out << value.name;
}

class FileTail : public FileHelpersTest, public ::testing::WithParamInterface<TailCase> {};

TEST_P(FileTail, IsTheLastBytesUpToTheFirstNul)
{
    EXPECT_EQ(readFileTail(GetParam().maximum, write(GetParam().content)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(FileHelpers, FileTail, ::testing::Values(
    TailCase { "ShorterThanTheLimit", "whole file", 65536, L"whole file" },
    TailCase { "ExactlyTheLimit", "abcdef", 6, L"abcdef" },
    TailCase { "LongerThanTheLimit", "0123456789", 4, L"6789" },
    TailCase { "ZeroLimit", "abc", 0, L"" },
    TailCase { "Empty", "", 100, L"" },
    TailCase { "NulInTheTail", std::string("abc\0def", 7), 100, L"abc" },
    TailCase { "NulBeforeTheTail", std::string("ab\0cdef", 7), 4, L"cdef" },
    TailCase { "LineEndsAsTheyAre", "a\r\nb\n", 100, L"a\r\nb\n" },
    TailCase { "EachByteOneCharacter", "\x80\xe9\xff", 100, L"\u0080\u00e9\u00ff" }),
    [](const ::testing::TestParamInfo<TailCase>& info) { return info.param.name; });

TEST_F(FileHelpersTest, MissingFileGivesTheFailureTextWithItsPath)
{
    const std::wstring path = folder.file(L"missing.log");
    EXPECT_EQ(readFileTail(65536, path), L"...reading \"" + path + L"\" failed...");
}

TEST_F(FileHelpersTest, ByteTailKeepsRawBytesAndNarrowsTheFailureText)
{
    EXPECT_EQ(readFileTailBytes(5, write(std::string("xx\xe9\r\n\0z", 7))), "\xe9\r\n");
    const std::wstring missing = folder.file(L"gone.log");
    EXPECT_EQ(readFileTailBytes(5, missing),
              "...reading \"" + std::string(missing.begin(), missing.end()) + "\" failed...");
}

namespace {

struct Descriptor {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ~Descriptor() { LocalFree(descriptor); }
};

bool readDacl(const std::wstring& path, Descriptor& result)
{
    return GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 &result.dacl, nullptr, &result.descriptor) == ERROR_SUCCESS;
}

// The access granted to `sid` by the DACL's allowing entries.
ACCESS_MASK allowedTo(const Descriptor& security, PSID sid)
{
    ACCESS_MASK mask = 0;
    for (DWORD i = 0; security.dacl != nullptr && i < security.dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(security.dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), sid))
            mask |= allowed->Mask;
    }
    return mask;
}

// Generic rights may be stored as granted or mapped to the file's own rights; Wine keeps no more
// than read, write, execute and delete.
bool canWrite(ACCESS_MASK mask)
{
    return (mask & GENERIC_ALL) != 0 || (mask & FILE_GENERIC_WRITE) == FILE_GENERIC_WRITE;
}

bool canReadAndExecute(ACCESS_MASK mask)
{
    const ACCESS_MASK generic = GENERIC_READ | GENERIC_EXECUTE;
    const ACCESS_MASK file = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    return (mask & generic) == generic || (mask & file) == file;
}

std::vector<BYTE> wellKnownSid(WELL_KNOWN_SID_TYPE type)
{
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    CreateWellKnownSid(type, nullptr, sid.data(), &size);
    return sid;
}

} // namespace

class EveryoneAccess : public FileHelpersTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EveryoneAccess, IsReadAndExecuteNotWriteAndEarlierEntriesStay)
{
    std::wstring path = folder.file(L"target");
    if (GetParam())
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    else
        write("installer", L"target");

    std::vector<BYTE> everyone = wellKnownSid(WinWorldSid);
    Descriptor before;
    ASSERT_TRUE(readDacl(path, before));
    ASSERT_NE(before.dacl, nullptr);
    ASSERT_FALSE(canWrite(allowedTo(before, everyone.data()))) << "Everyone can write already";

    EXPECT_TRUE(grantEveryoneAccess(path));

    Descriptor after;
    ASSERT_TRUE(readDacl(path, after));
    const ACCESS_MASK granted = allowedTo(after, everyone.data());
    EXPECT_TRUE(canReadAndExecute(granted)) << std::hex << granted;
    EXPECT_FALSE(canWrite(granted)) << std::hex << granted;
    for (DWORD i = 0; i < before.dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        ASSERT_TRUE(GetAce(before.dacl, i, reinterpret_cast<void**>(&header)));
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        PSID sid = reinterpret_cast<PSID>(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart);
        EXPECT_NE(allowedTo(after, sid), 0u) << "entry " << i << " was lost";
    }
}

INSTANTIATE_TEST_SUITE_P(FileHelpers, EveryoneAccess, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Folder" : "File"; });

TEST_F(FileHelpersTest, EveryoneAccessToAMissingPathIsRefused)
{
    EXPECT_FALSE(grantEveryoneAccess(folder.file(L"missing.exe")));
}
