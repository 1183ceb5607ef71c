// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare tests -- quorrin-compare run as a program: logs written by
// quorrin-sniff and by the log itself, reports and JSON told apart by their
// content, damaged blocks, the exit codes, and the README's example.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <utility>

#include "driver/testing/TestBus.h"
#include "platform/testing/FileText.h"
#include "platform/testing/RuntimeFolder.h"
#include "platform/testing/TempFolder.h"
#include "platform/testing/linux/ShellRun.h"
#include "sniffer/SnifferUnit.h"
#include "windriver/WinDriverRequests.h"
#include "driver/testing/SimBus.h"

namespace {

struct ProgramRun {
    int Status = -1;
    std::string Out, Err;
};

using platform::testing::ReadFile;

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class CompareProgram : public testing::Test {
protected:
    platform::testing::TempFolder temp_{"quorrin-compare-"};
    std::string dir = temp_.Path();
    // The single-instance guard of this test's sniffs alone.
    platform::testing::RuntimeFolder runtime_;

    std::string In(const std::string& name) const { return dir + "/" + name; }
    ProgramRun Start(const std::string& program, const std::string& arguments) const {
        const auto shell =
            platform::testing::RunInFolder(dir, runtime_.Assignment() + " exec '" + program +
                                                    "' " + arguments + " 2>'" + dir + "/stderr'");
        return ProgramRun{shell.Status, shell.Out, ReadFile(dir + "/stderr")};
    }
    ProgramRun Compare(const std::string& arguments) const {
        return Start(BuiltProgram("quorrin-compare"), arguments);
    }
};

std::string SmallBus() {
    return simbus::BusJson(
        {simbus::SimFunction(0, 0, 0).Ids(0x8086, 0x1237),
         simbus::SimFunction(0, 3, 0).Ids(0x8086, 0x100E).Memory(0, 0xFEBC0000, 0x20000).Interrupt(11),
         simbus::PlxBoard(2, 4, 0x9056, simbus::PatternWords(64, 5)),
         simbus::PlxBoard(3, 0, 0x9080, {}, 0xF1000000, 0xE100).Fault("register-refused")});
}

std::string Lf(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

TEST_F(CompareProgram, LogReportAndJsonOfOneSniffAgreeWithEachOtherAndALiveSniff) {
    TestBus bus(SmallBus());
    const std::string sniff = BuiltProgram("quorrin-sniff");
    const ProgramRun report = Start(sniff, "--device '" + bus.Socket() + "'");
    ASSERT_EQ(report.Status, 0) << report.Err;
    const ProgramRun json = Start(sniff, "--json --device '" + bus.Socket() + "'");
    ASSERT_EQ(json.Status, 0) << json.Err;
    // Names that say nothing of the kind: it is told from the content.
    WriteFile(In("a"), report.Out);
    WriteFile(In("b"), Lf(report.Out));
    WriteFile(In("c"), json.Out);
    for (const char* pair : {"Quorrin.Log a", "b c", "c Quorrin.Log"}) {
        const ProgramRun run = Compare(pair);
        EXPECT_EQ(run.Status, 0) << pair << "\n" << run.Out << run.Err;
        EXPECT_NE(run.Out.find("4 functions matched by location, none differs, 1 standing finding: the sniffs agree."),
                  std::string::npos)
            << pair << "\n"
            << run.Out;
    }
    const ProgramRun kinds = Compare("Quorrin.Log c");
    EXPECT_NE(kinds.Out.find("baseline: Quorrin.Log (log, sniff 1 of 1): 4 functions\n"), std::string::npos)
        << kinds.Out;
    EXPECT_NE(kinds.Out.find("current:  c (json, sniff 1 of 1): 4 functions\n"), std::string::npos);
    const ProgramRun live = Compare("b --device '" + bus.Socket() + "'");
    EXPECT_EQ(live.Status, 0) << live.Out << live.Err;
    EXPECT_NE(live.Out.find("current:  live sniff through " + bus.Socket() + ": 4 functions"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(In("Quorrin.Log.live"))) << "a live sniff writes no log";
    // The failed registration and its zero EEPROM: one finding on both sides, not two.
    const std::size_t standing = live.Out.find("\nStanding findings (on both sides):\n  03:00.0  10B5:9080");
    EXPECT_NE(standing, std::string::npos) << live.Out;
    EXPECT_NE(live.Out.find(": could not be registered with the driver (code 9: The WD_CardRegister() failed)\n\n"
                            "Summary: ",
                            standing),
              std::string::npos)
        << live.Out;
}

TEST_F(CompareProgram, SeveralSniffsInOneLogLastCompleteUnlessNamed) {
    auto a = std::make_unique<PciDeviceTableType>(), b = std::make_unique<PciDeviceTableType>();
    a->Count = 2;
    a->Devices[1].Index = a->Devices[1].Slot = 1;
    *b = *a;
    b->Devices[1].ConfigRegs[2] = 0x06800001;
    std::string log;
    {
        simbus::LogFolder folder;
        LogSniffReport(*a);
        LogSniffReport(*b);
        LogSniffReport(*a);
        log = folder.Text();
    }
    // The third sniff cut off inside its second block, as a crash would leave it.
    log.resize(log.rfind("PCI Device # 2") + 100);
    WriteFile(In("Quorrin.Log"), log);
    WriteFile(In("a.txt"), FormatSniffReport(*a));
    WriteFile(In("b.txt"), FormatSniffReport(*b));
    EXPECT_EQ(Compare("Quorrin.Log b.txt").Status, 0);
    EXPECT_EQ(Compare("--sniff 1 Quorrin.Log a.txt").Status, 0);
    const ProgramRun changed = Compare("Quorrin.Log a.txt");
    EXPECT_EQ(changed.Status, 4);
    EXPECT_NE(changed.Out.find("\n00:01.0  0000:0000\n  config 0x08 class/revision: 06800001 -> 00000000\n"),
              std::string::npos)
        << changed.Out;
    // --sniff holds for the file named next, and no other.
    EXPECT_EQ(Compare("--sniff 1 Quorrin.Log Quorrin.Log").Status, 4);
    // Past the cut nothing is known: not compared, not removed.
    const ProgramRun cut = Compare("a.txt --sniff 3 Quorrin.Log");
    EXPECT_EQ(cut.Status, 1);
    EXPECT_NE(cut.Out.find("current:  Quorrin.Log (log, sniff 3 of 3, cut off): 1 function\n"),
              std::string::npos)
        << cut.Out;
    EXPECT_NE(cut.Out.find(": the text ends inside the block (cut off)\n"), std::string::npos) << cut.Out;
    EXPECT_NE(cut.Out.find("\n00:01.0  0000:0000\n  not compared: current is cut off before it (line "),
              std::string::npos)
        << cut.Out;
    const ProgramRun beyond = Compare("a.txt --sniff 4 Quorrin.Log");
    EXPECT_EQ(beyond.Status, 1);
    EXPECT_EQ(beyond.Err, "quorrin-compare: Quorrin.Log: holds 3 sniffs, not 4\n");
}

TEST_F(CompareProgram, ADamagedBlockIsNamedByLineAndTheRestCompared) {
    auto t = std::make_unique<PciDeviceTableType>();
    t->Count = 3;
    for (int i = 0; i < 3; ++i) {
        t->Devices[i].Index = i;
        t->Devices[i].Slot = i;
    }
    WriteFile(In("report"), FormatSniffReport(*t));
    std::string damaged = FormatSniffReport(*t);
    const std::size_t block = damaged.find("PCI Device # 2");
    damaged.replace(damaged.find("NumIOAddresses", block), 3, "Num");
    damaged[damaged.find("NumIOAddresses", block) + 1] = '?';
    WriteFile(In("damaged"), damaged);
    // Its location was read: that function is not compared, the rest is.
    const ProgramRun run = Compare("report damaged");
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(
        run.Out.find(
            "  damaged:30: device block at line 30 skipped: line 41: expected \"   NumIOAddresses \"\n"),
        std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("\n00:01.0  0000:0000\n  not compared: current could not be read there (line 30)\n"),
              std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("2 functions matched by location, none differs, 1 not compared"), std::string::npos);
}

TEST_F(CompareProgram, ExitCodesAndWhatTheySay) {
    auto t = std::make_unique<PciDeviceTableType>();
    WriteFile(In("empty"), FormatSniffReport(*t));
    t->Count = 1;
    WriteFile(In("one"), FormatSniffReport(*t));
    WriteFile(In("garbage"), "hello\n");
    WriteFile(In("broken.json"), "{\n \"Count\": 1,\n \"Devices\": [\n");
    WriteFile(In("huge.json"), "{\"Count\": 1e999, \"Devices\": []}");
    std::filesystem::create_directory(In("folder"));
    const struct {
        const char* Arguments;
        int Status;
        const char* Says;
    } cases[] = {
        {"one one", 0, ""},
        {"--help", 0, ""},
        {"", 1, "no BASELINE named"},
        {"--bogus one", 1, "unknown option: --bogus"},
        {"--sniff 0 one", 1, "--sniff needs a number from 1"},
        {"one --sniff 2", 1, "--sniff names no file after it"},
        {"- - < one", 1, "standard input (-) named twice"},
        {"--color=sometimes one", 1, "--color takes auto, always or never"},
        {"--ignore irq,bogus one", 1, "--ignore knows identifiers,"},
        {"--only 2:4 one", 1, "--only takes locations as lspci writes them (02:04.0), not 2:4"},
        {"missing one", 1, "quorrin-compare: missing: cannot be read: no such file\n"},
        {"folder one", 1, "quorrin-compare: folder: cannot be read: a folder, not a file\n"},
        // Two sniffs without the driver do not agree: nothing was compared.
        {"empty empty", 1, "quorrin-compare: empty:1: its sniff did not reach the driver (the report found no PCI "
                           "devices): nothing to compare\n"},
        {"garbage one", 1, "quorrin-compare: garbage:1: neither a Quorrin log"},
        {"one broken.json", 1, "quorrin-compare: broken.json:4: not valid JSON\n"},
        {"huge.json one", 1, "quorrin-compare: huge.json:1: not valid JSON (a number out of range)\n"},
        {"one --device nobody", 2, "the driver could not be reached through nobody"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Compare(c.Arguments);
        EXPECT_EQ(run.Status, c.Status) << c.Arguments << "\n" << run.Err;
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << c.Arguments << "\n" << run.Err;
    }
}

// A driver lost during the scan leaves zeros behind: neither its log nor a
// sniff made now is compared, and each says what happened.
TEST_F(CompareProgram, ASniffThatLostTheDriverIsNotCompared) {
    const std::string board = simbus::BusJson({simbus::PlxBoard(2, 4, 0x9056, simbus::PatternWords(64, 5))});
    auto t = std::make_unique<PciDeviceTableType>();
    t->Count = 1;
    WriteFile(In("good"), FormatSniffReport(*t));
    {
        TestBus bus(board);
        std::thread killer = bus.KillAfter(WD_Transfer, 100);
        EXPECT_EQ(Start(BuiltProgram("quorrin-sniff"), "--device '" + bus.Socket() + "'").Status, 2);
        killer.join();
    }
    const ProgramRun logged = Compare("good Quorrin.Log");
    EXPECT_EQ(logged.Status, 1);
    EXPECT_NE(logged.Err.find("sniff did not reach the driver (the connection to the driver was lost during the "
                              "scan): nothing to compare"),
              std::string::npos)
        << logged.Err;
    TestBus bus(board);
    std::thread killer = bus.KillAfter(WD_Transfer, 100);
    const ProgramRun live = Compare("good --device '" + bus.Socket() + "'");
    killer.join();
    EXPECT_EQ(live.Status, 2);
    EXPECT_NE(live.Err.find("lost the connection to the driver through " + bus.Socket() + " during the sniff"),
              std::string::npos)
        << live.Err;
}

// One golden sniff against a lab: a row per machine, then each one's changes.
TEST_F(CompareProgram, ALabAgainstOneGoldenSniff) {
    auto t = std::make_unique<PciDeviceTableType>();
    t->Count = 2;
    t->Devices[1].Index = t->Devices[1].Slot = 1;
    WriteFile(In("golden"), FormatSniffReport(*t));
    WriteFile(In("same"), Lf(FormatSniffReport(*t)));
    t->Devices[1].ConfigRegs[1] = 0x00000002;
    WriteFile(In("changed"), FormatSniffReport(*t));
    const ProgramRun run = Compare("--color=never golden same - missing < changed");
    EXPECT_EQ(run.Status, 1) << "one could not be read";
    EXPECT_EQ(run.Out,
              "baseline: golden (report, sniff 1 of 1): 2 functions\n\n"
              "  same     agree\n"
              "  -        differs: 1 change\n"
              "  missing  problem: cannot be read: no such file\n\n"
              "current:  - (report, sniff 1 of 1): 2 functions\n\n"
              "00:01.0  0000:0000\n"
              "  config 0x04 command/status: 00000000 -> 00000002 (Memory Space Enable off -> on)\n\n"
              "Summary: 2 functions matched by location, 1 differs, 0 standing findings: the sniffs differ.\n");
    EXPECT_EQ(Compare("golden same changed").Status, 4);
    EXPECT_EQ(Compare("golden same same").Status, 0);

    // --json: one object per file, in the same order.
    const ProgramRun json = Compare("--json golden same - missing < changed");
    std::vector<nlohmann::json> objects;
    std::istringstream lines(json.Out);
    std::string object, line;
    while (std::getline(lines, line)) {
        object += line + "\n";
        if (line == "}") objects.push_back(nlohmann::json::parse(std::exchange(object, ""))); 
    }
    ASSERT_EQ(objects.size(), 3u) << json.Out;
    EXPECT_EQ(objects[0]["summary"]["verdict"], "agree");
    EXPECT_EQ(objects[1]["current"]["source"], "-");
    EXPECT_EQ(objects[1]["summary"]["changes"], 1);
    EXPECT_EQ(objects[2]["current"]["problem"], "cannot be read: no such file");
}

// A customer's lspci text and a saved bus are sniffed through a private
// service, with no log: against the log of a sniff of that same text they
// agree, and a changed IRQ in the text shows.
TEST_F(CompareProgram, LspciTextAndSavedBusesAreSniffedForTheComparison) {
    const std::string text = std::string(QUORRIN_SOURCE_DIR) + "/examples/demo-lspci.txt";
    const ProgramRun sniff = Start(BuiltProgram("quorrin-sniff"), "--bus '" + text + "' --save-bus saved.json");
    ASSERT_EQ(sniff.Status, 0) << sniff.Err;
    std::filesystem::rename(In("Quorrin.Log"), In("golden.Log"));

    const ProgramRun same = Compare("golden.Log '" + text + "'");
    EXPECT_EQ(same.Status, 0) << same.Out << same.Err;
    EXPECT_NE(same.Out.find("current:  " + text + " (lspci, sniff 1 of 1): 7 functions"), std::string::npos) << same.Out;
    const ProgramRun saved = Compare("saved.json golden.Log");
    EXPECT_EQ(saved.Status, 0) << saved.Out << saved.Err;
    EXPECT_NE(saved.Out.find("baseline: saved.json (bus, sniff 1 of 1): 7 functions"), std::string::npos) << saved.Out;

    std::string changed = ReadFile(text);
    const std::size_t irq = changed.find("routed to IRQ 10");
    ASSERT_NE(irq, std::string::npos);
    changed.replace(irq, 16, "routed to IRQ 5");
    WriteFile(In("customer-lspci.txt"), changed);
    const ProgramRun differ = Compare("golden.Log customer-lspci.txt");
    EXPECT_EQ(differ.Status, 4) << differ.Out << differ.Err;
    EXPECT_NE(differ.Out.find("00:04.0"), std::string::npos) << differ.Out;
    EXPECT_NE(differ.Out.find("nterrupt"), std::string::npos) << differ.Out;
    EXPECT_FALSE(std::filesystem::exists(In("Quorrin.Log"))) << "a replayed sniff wrote a log";
    for (const auto& entry : std::filesystem::directory_iterator(runtime_.Path()))
        EXPECT_NE(entry.path().filename().string().rfind("quorrin-replay-", 0), 0u) << entry.path();

    WriteFile(In("cut.txt"), changed.substr(0, changed.find("\n10: ") + 20));
    const ProgramRun cut = Compare("golden.Log cut.txt");
    EXPECT_EQ(cut.Status, 1);
    EXPECT_EQ(cut.Err, "quorrin-compare: cannot replay " + In("cut.txt") + ": line 6: cut off: 5 of the line's 16 bytes\n");
}

TEST_F(CompareProgram, JsonSaysWhatTheTextSays) {
    auto a = std::make_unique<PciDeviceTableType>();
    a->Count = 1;
    a->Devices[0].IsPlx = true;
    WriteFile(In("a"), FormatSniffReport(*a));
    a->Devices[0].EepromWords[7] = 0x1234;
    WriteFile(In("b"), FormatSniffReport(*a));
    const ProgramRun run = Compare("--json a b");
    EXPECT_EQ(run.Status, 4);
    const auto j = nlohmann::json::parse(run.Out);
    EXPECT_EQ(j["format"], "quorrin-compare/2");
    EXPECT_EQ(j["baseline"]["kind"], "report");
    ASSERT_EQ(j["functions"].size(), 1u);
    const auto& f = j["functions"][0];
    EXPECT_EQ(f["location"], "00:00.0");
    ASSERT_EQ(f["differences"].size(), 1u);
    EXPECT_EQ(f["differences"][0], nlohmann::json({{"kind", "eeprom"},
                                                   {"index", 7},
                                                   {"what", "EEPROM word 7"},
                                                   {"baseline", "0000"},
                                                   {"current", "1234"}}));
    EXPECT_EQ(f["findings"][0]["side"], "baseline");
    EXPECT_EQ(f["findings"][0]["change"], "cleared");
    EXPECT_EQ(f["findings"][0]["kind"], "eeprom-silent");
    EXPECT_EQ(j["summary"]["changes"], 2);
    EXPECT_EQ(j["summary"]["verdict"], "differ");
    EXPECT_EQ(j["summary"]["agree"], false);
}

// Readable at a glance: a run of words on one line, findings that stand
// after the changes, colours only where asked for or on a terminal.
TEST_F(CompareProgram, RunsCollapseStandingFindingsFollowColoursWhenAsked) {
    auto t = std::make_unique<PciDeviceTableType>();
    t->Count = 2;
    t->Devices[0].IsPlx = true;
    t->Devices[1].Slot = 1;
    t->Devices[1].IsPlx = true;
    std::memset(t->Devices[1].EepromWords, 0xFF, sizeof t->Devices[1].EepromWords);
    WriteFile(In("a"), FormatSniffReport(*t));
    for (int k = 0; k < 40; ++k) t->Devices[0].EepromWords[k] = static_cast<uint16_t>(k + 1);
    WriteFile(In("b"), FormatSniffReport(*t));
    const ProgramRun run = Compare("a b");
    EXPECT_EQ(run.Status, 4);
    EXPECT_EQ(run.Out.substr(run.Out.find("\n\n")),
              "\n\n00:00.0  0000:0000\n"
              "  EEPROM words 0-39 differ: 0: 0000 -> 0001, 1: 0000 -> 0002, 2: 0000 -> 0003, ... (37 more)\n"
              "  cleared finding: PLX EEPROM reads all 0000 (no answer)\n\n"
              "Standing findings (on both sides):\n"
              "  00:01.0  0000:0000: PLX EEPROM reads all FFFF (blank or absent chip)\n\n"
              "Summary: 2 functions matched by location, 1 differs, 1 standing finding: the sniffs differ.\n");
    // Not a terminal here: no colours unless asked, and then NO_COLOR does not hold them back.
    EXPECT_EQ(Compare("--color=auto a b").Out, run.Out);
    const ProgramRun always = Start("/usr/bin/env", "NO_COLOR=1 '" + BuiltProgram("quorrin-compare") + "' --color=always a b");
    EXPECT_NE(always.Out.find("\x1b[1m00:00.0  0000:0000\x1b[0m\n"), std::string::npos) << always.Out;
    EXPECT_NE(always.Out.find("\x1b[31mthe sniffs differ.\x1b[0m"), std::string::npos) << always.Out;
}

// The output pasted into the README is what the tool prints.
TEST_F(CompareProgram, TheReadmeExampleIsWhatTheToolPrints) {
    if (!std::filesystem::exists("/usr/share/misc/pci.ids")) GTEST_SKIP() << "no pci.ids: the names differ";
    const std::string readme = ReadFile(QUORRIN_SOURCE_DIR "/README.md");
    const std::string command = "    $ scripts/compare-demo\n";
    std::size_t at = readme.find(command);
    ASSERT_NE(at, std::string::npos) << "README.md has no example of scripts/compare-demo";
    std::string pasted;
    for (at += command.size(); at < readme.size();) {
        const std::size_t end = readme.find('\n', at);
        const std::string line = readme.substr(at, end - at);
        if (!line.empty() && !line.starts_with("    ")) break;
        pasted += (line.empty() ? "" : line.substr(4)) + "\n";
        at = end + 1;
    }
    while (pasted.ends_with("\n\n")) pasted.pop_back();
    const ProgramRun run = Start(QUORRIN_SOURCE_DIR "/scripts/compare-demo", "'" QUORRIN_BIN_DIR "'");
    EXPECT_EQ(run.Status, 4) << run.Err;
    EXPECT_EQ(run.Out, pasted);
}

}  // namespace
