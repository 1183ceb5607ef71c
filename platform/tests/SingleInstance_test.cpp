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

// Every claim of these tests lands below a root of their own.
class OwnRuntimeFolder : public ::testing::Environment {
public:
    void SetUp() override { folder_.Use(); }
    const std::string& Path() const { return folder_.Path(); }

private:
    platform::testing::RuntimeFolder folder_;
};
const auto* const runtime = static_cast<OwnRuntimeFolder*>(::testing::AddGlobalTestEnvironment(new OwnRuntimeFolder));

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

// The guard's places follow from the user id alone: a place another user
// owns or could write is passed over, one is enough, none leaves the
// program unguarded (Failed, never refused).
TEST(SingleInstance, OnlyTheUsersOwnPlacesHoldTheClaim) {
    const passwd* nobody = ::getpwnam("nobody");
    const bool canHandOver = ::geteuid() == 0 && nobody != nullptr;
    enum class Spoil { None, OpenToAll, Nobodys, Link };
    struct Case {
        const char* what;
        Spoil tmp, run;
        bool inTmp, inRun;
        ClaimResult expected;
    };
    const Case cases[] = {
        {"both places", Spoil::None, Spoil::None, true, true, ClaimResult::Claimed},
        {"runtime folder writable by all", Spoil::None, Spoil::OpenToAll, true, false, ClaimResult::Claimed},
        {"runtime folder nobody's", Spoil::None, Spoil::Nobodys, true, false, ClaimResult::Claimed},
        {"tmp folder made by nobody first", Spoil::Nobodys, Spoil::None, false, true, ClaimResult::Claimed},
        {"tmp folder a link to one of ours", Spoil::Link, Spoil::None, false, true, ClaimResult::Claimed},
        {"neither", Spoil::OpenToAll, Spoil::OpenToAll, false, false, ClaimResult::Failed},
    };
    const uid_t me = ::geteuid();
    for (const Case& c : cases) {
        if ((c.tmp == Spoil::Nobodys || c.run == Spoil::Nobodys) && !canHandOver) continue;
        platform::testing::RuntimeFolder root;
        platform::SetInstanceRootForTesting(root.Path());
        const std::string tmp = root.TmpFolder(me), run = root.UserFolder(me);
        switch (c.tmp) {
            case Spoil::None: break;
            case Spoil::OpenToAll: ASSERT_EQ(::mkdir(tmp.c_str(), 0777), 0); ::chmod(tmp.c_str(), 0777); break;
            case Spoil::Nobodys: ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0); ASSERT_EQ(::chown(tmp.c_str(), nobody->pw_uid, nobody->pw_gid), 0); break;
            case Spoil::Link: ASSERT_EQ(::symlink(run.c_str(), tmp.c_str()), 0); break;
        }
        switch (c.run) {
            case Spoil::None: case Spoil::Link: break;
            case Spoil::OpenToAll: ::chmod(run.c_str(), 0777); break;
            case Spoil::Nobodys: ASSERT_EQ(::chown(run.c_str(), nobody->pw_uid, nobody->pw_gid), 0); break;
        }
        const std::string name = UniqueName("Places");
        SingleInstance guard;
        EXPECT_EQ(guard.Claim(name), c.expected) << c.what;
        EXPECT_EQ(std::filesystem::exists(root.Path() + "/tmp/quorrin-" + std::to_string(me) + "/" + name) &&
                      c.tmp != Spoil::Link,
                  c.inTmp)
            << c.what;
        EXPECT_EQ(std::filesystem::exists(run + "/" + name), c.inRun || c.tmp == Spoil::Link) << c.what;
        if (c.expected == ClaimResult::Claimed) {
            SingleInstance second;
            EXPECT_EQ(second.Claim(name), ClaimResult::AlreadyClaimed) << c.what;
        }
    }
    platform::SetInstanceRootForTesting(runtime->Path());
}

// A copy meets the guard whatever its environment, and also when one of the
// places has gone since the first copy started (its login ended).
TEST(SingleInstance, EveryCopyMeetsTheSameGuard) {
    platform::testing::RuntimeFolder root;
    platform::SetInstanceRootForTesting(root.Path());
    const std::string name = UniqueName("Same");
    SingleInstance first;
    ASSERT_EQ(first.Claim(name), ClaimResult::Claimed);
    platform::testing::RuntimeFolder elsewhere;
    ::setenv("XDG_RUNTIME_DIR", elsewhere.UserFolder(::geteuid()).c_str(), 1);
    SingleInstance second;
    EXPECT_EQ(second.Claim(name), ClaimResult::AlreadyClaimed) << "another $XDG_RUNTIME_DIR";
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(second.Claim(name), ClaimResult::AlreadyClaimed) << "no $XDG_RUNTIME_DIR";
    std::filesystem::remove_all(root.UserFolder(::geteuid()));
    EXPECT_EQ(second.Claim(name), ClaimResult::AlreadyClaimed) << "the runtime folder gone";
    first.Release();
    EXPECT_EQ(second.Claim(name), ClaimResult::Claimed);
    platform::SetInstanceRootForTesting(runtime->Path());
}

}  // namespace
