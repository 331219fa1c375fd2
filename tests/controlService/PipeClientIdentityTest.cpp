// What a pipe client's token says about it, and which users' settings that lets it name.
#include "ProcessTokens.h"

#include "pipe/PipeClientIdentity.h"

#include "StringHelpers.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::wstring Own = L"S-1-5-21-100-200-300-1001";

} // namespace

TEST(PipeClientIdentity, AClientNamesItsOwnUserOrTheGeneralSectionUnlessItIsPrivileged)
{
    const struct {
        bool privileged;
        std::wstring sid;
        bool allowed;
    } cases[] = {
        { false, Own, true },
        { false, L"", true },
        { false, L"S-1-5-21-100-200-300-1002", false },
        { false, L"S-1-5-18", false },
        // Another text of the same numbers is another document's name.
        { false, L"S-1-5-21-100-200-300-01001", false },
        { false, L"S-1-5-21-100-200-300-100", false },
        { true, Own, true },
        { true, L"", true },
        { true, L"S-1-5-21-100-200-300-1002", true },
    };
    for (const auto& c : cases) {
        const PipeClientIdentity client { Own, c.privileged };
        EXPECT_EQ(mayActFor(client, c.sid), c.allowed) << toNarrowString(c.sid) << " privileged " << c.privileged;
    }
}

TEST(PipeClientIdentity, ATokenGivesItsUserAndWhetherItIsAnAdministrator)
{
    const UniqueHandle own = processToken();
    const UniqueHandle restricted = nonAdministratorToken();
    ASSERT_TRUE(own);
    ASSERT_TRUE(restricted);
    const std::optional<PipeClientIdentity> administrator = tokenIdentity(own.get());
    const std::optional<PipeClientIdentity> user = tokenIdentity(restricted.get());
    ASSERT_TRUE(administrator);
    ASSERT_TRUE(user);
    EXPECT_TRUE(std::regex_match(toNarrowString(administrator->userSid), std::regex("S-1-5-21(-[0-9]+)+")))
        << toNarrowString(administrator->userSid);
    // Wine runs every program as an elevated administrator; the same user without the group's
    // rights is none.
    EXPECT_TRUE(administrator->privileged);
    EXPECT_EQ(user->userSid, administrator->userSid);
    EXPECT_FALSE(user->privileged);
    EXPECT_FALSE(isLocalSystemToken(own.get()));
}

TEST(PipeClientIdentity, NoTokenGivesNoIdentity)
{
    EXPECT_FALSE(tokenIdentity(nullptr));
    EXPECT_FALSE(pipeClientToken(INVALID_HANDLE_VALUE));
}
