// SPDX-License-Identifier: GPL-2.0-or-later
// Every Windows program answers --help and --version on its standard output
// with status 0 and starts nothing: no window, no log in its folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/testing/TempFolder.h"
#include "platform/testing/win32/ProgramRun.h"

namespace {

struct Case {
    const char* Program;
    const char* Arguments;
    const char* Starts;  // what the answer begins with
};

TEST(ProgramInfo, HelpAndVersionAreAnsweredWithoutStartingAnything) {
    const Case cases[] = {
        {"quorrin", "--help", "usage: quorrin [--help | --version]\r\n"},
        {"quorrin", "--version", "quorrin 1.2\r\n"},
        {"quorrin-sniff", "--help", "usage: quorrin-sniff "},
        {"quorrin-sniff", "--version", "quorrin-sniff 1.2\r\n"},
        {"quorrin-compare", "--help", "usage: quorrin-compare "},
        {"quorrin-compare", "--version", "quorrin-compare 1.2\r\n"},
        {"ViewLogs", "--help", "usage: ViewLogs FILE\r\n"},
        {"ViewLogs", "--version", "ViewLogs 1.2\r\n"},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.Program) + " " + c.Arguments;
        platform::testing::TempFolder folder("quorrin-info-");
        const platform::testing::ProgramRun run =
            platform::testing::RunProgram(folder.Path(), c.Program, c.Arguments);
        EXPECT_EQ(run.Status, 0u) << what;
        EXPECT_EQ(run.Out.rfind(c.Starts, 0), 0u) << what << ": " << run.Out;
        // Every line ends in CR LF, none in a lone LF.
        std::size_t lineEnds = 0, crLfs = 0;
        for (std::size_t i = 0; i < run.Out.size(); ++i) {
            if (run.Out[i] != '\n') continue;
            ++lineEnds;
            if (i > 0 && run.Out[i - 1] == '\r') ++crLfs;
        }
        EXPECT_EQ(crLfs, lineEnds) << what;
        // Only the run's own output file is in the folder: no Quorrin.Log.
        int files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path())) ++files;
        EXPECT_EQ(files, 1) << what;
    }
}

}  // namespace
