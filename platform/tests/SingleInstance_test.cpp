// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the single-instance claim: exclusive while held, gone with its
// holder however the holder ends, never inherited by started programs, kept
// in a folder no other user can write.
#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/RuntimeFolder.h"

using platform::ClaimResult;
using platform::SingleInstance;

namespace {

// Every claim of these tests lands in a runtime folder of their own.
class OwnRuntimeFolder : public ::testing::Environment {
public:
    void SetUp() override { folder_.Use(); }

private:
    platform::testing::RuntimeFolder folder_;
};
[[maybe_unused]] const auto* const runtime = ::testing::AddGlobalTestEnvironment(new OwnRuntimeFolder);

// A name no other test process (or a running Quorrin) uses.
std::string UniqueName(const char* what) {
    return std::string("QuorrinTest_") + what + "_" + std::to_string(::getpid());
}

// Waits for a child that is about to end and returns its wait status.
int Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

TEST(SingleInstance, NamesOutsideTheLimitsAreRefused) {
    struct Case {
        std::string name;
        ClaimResult expected;
    };
    const Case cases[] = {
        {"", ClaimResult::Failed},
        {std::string(108, 'q'), ClaimResult::Failed},
        {std::string("Pro\0tect", 8), ClaimResult::Failed},
        {"Pro/tect", ClaimResult::Failed},
        {"..", ClaimResult::Failed},
        {UniqueName("x") + std::string(107 - UniqueName("x").size(), 'y'), ClaimResult::Claimed},
        {UniqueName("Short"), ClaimResult::Claimed},
    };
    for (const Case& c : cases) {
        SingleInstance guard;
        EXPECT_EQ(guard.Claim(c.name), c.expected) << "name of " << c.name.size() << " bytes";
        EXPECT_EQ(guard.Held(), c.expected == ClaimResult::Claimed);
    }
}

TEST(SingleInstance, SecondClaimFailsUntilTheFirstIsGivenUp) {
    const std::string name = UniqueName("Twice");
    SingleInstance first;
    ASSERT_EQ(first.Claim(name), ClaimResult::Claimed);

    SingleInstance second;
    EXPECT_EQ(second.Claim(name), ClaimResult::AlreadyClaimed);
    EXPECT_FALSE(second.Held());
    // Another name is unaffected.
    SingleInstance other;
    EXPECT_EQ(other.Claim(name + "_other"), ClaimResult::Claimed);

    first.Release();
    EXPECT_FALSE(first.Held());
    EXPECT_EQ(second.Claim(name), ClaimResult::Claimed);
}

TEST(SingleInstance, DestructionAndMoveCarryTheClaim) {
    const std::string name = UniqueName("Move");
    {
        SingleInstance guard;
        ASSERT_EQ(guard.Claim(name), ClaimResult::Claimed);
        SingleInstance moved(std::move(guard));
        EXPECT_FALSE(guard.Held());
        EXPECT_TRUE(moved.Held());
        SingleInstance probe;
        EXPECT_EQ(probe.Claim(name), ClaimResult::AlreadyClaimed);
        SingleInstance assigned;
        assigned = std::move(moved);
        EXPECT_EQ(probe.Claim(name), ClaimResult::AlreadyClaimed);
    }
    SingleInstance after;
    EXPECT_EQ(after.Claim(name), ClaimResult::Claimed);
}

TEST(SingleInstance, ReclaimingTheSameObjectKeepsOneClaim) {
    const std::string name = UniqueName("Again");
    SingleInstance guard;
    ASSERT_EQ(guard.Claim(name), ClaimResult::Claimed);
    // The object gives up its own claim first, so claiming again succeeds.
    EXPECT_EQ(guard.Claim(name), ClaimResult::Claimed);
    ASSERT_EQ(guard.Claim(name + "_moved"), ClaimResult::Claimed);
    SingleInstance probe;
    EXPECT_EQ(probe.Claim(name), ClaimResult::Claimed) << "the first name was not given up";
}

TEST(SingleInstance, ClaimVanishesWhenItsHolderIsKilled) {
    const std::string name = UniqueName("Crash");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        SingleInstance guard;
        const char answer = guard.Claim(name) == ClaimResult::Claimed ? 'y' : 'n';
        if (::write(ready[1], &answer, 1) != 1) ::_exit(2);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(answer, 'y');

    SingleInstance probe;
    EXPECT_EQ(probe.Claim(name), ClaimResult::AlreadyClaimed);

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    const int status = Reap(child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(probe.Claim(name), ClaimResult::Claimed) << "a crashed holder left its claim behind";
}

TEST(SingleInstance, StartedProgramsDoNotInheritTheClaim) {
    const std::string name = UniqueName("Exec");
    SingleInstance guard;
    ASSERT_EQ(guard.Claim(name), ClaimResult::Claimed);

    // The pipe's write end closes when the child's exec succeeds: reading
    // end of file tells us it has run past the point of inheriting.
    int execed[2];
    ASSERT_EQ(::pipe2(execed, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl("/bin/sleep", "sleep", "5", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(execed[1]);
    char byte = 0;
    EXPECT_EQ(::read(execed[0], &byte, 1), 0);
    ::close(execed[0]);
    guard.Release();

    SingleInstance next;
    EXPECT_EQ(next.Claim(name), ClaimResult::Claimed) << "the started program kept the claim alive";

    ::kill(child, SIGKILL);
    Reap(child);
}

// A runtime folder another user owns or can write is passed over: whoever
// can make the file there could hold or fake the claim.
TEST(SingleInstance, ARuntimeFolderOthersCouldWriteIsNotUsed) {
    const passwd* nobody = ::getpwnam("nobody");
    struct Case {
        const char* what;
        mode_t mode;
        bool foreignOwner;
    };
    const Case cases[] = {{"writable by all", 0777, false}, {"nobody's", 0700, true}};
    for (const Case& c : cases) {
        if (c.foreignOwner && (::geteuid() != 0 || nobody == nullptr)) continue;
        platform::testing::RuntimeFolder folder(c.foreignOwner ? nobody->pw_uid : ::geteuid(),
                                                c.foreignOwner ? nobody->pw_gid : ::getegid());
        ::chmod(folder.Path().c_str(), c.mode);
        folder.Use();
        const std::string name = UniqueName("Foreign");
        SingleInstance guard;
        EXPECT_NE(guard.Claim(name), ClaimResult::AlreadyClaimed) << c.what;
        EXPECT_FALSE(std::filesystem::exists(folder.Path() + "/" + name)) << c.what;
        guard.Release();
        // It went to this user's fallback folder instead.
        const std::string uid = std::to_string(::geteuid());
        for (const std::string& fallback : {"/run/user/" + uid, "/tmp/quorrin-" + uid}) {
            ::unlink((fallback + "/" + name).c_str());
        }
    }
}

}  // namespace
