// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniff front end tests -- the findings as quorrin-sniff gives them:
// --check's lines and exit status, the JSON's Findings, and --metrics held
// against the real Prometheus tools (promtool, node_exporter serving the file).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "driver/testing/SimBus.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/FileText.h"
#include "platform/testing/RuntimeFolder.h"
#include "platform/testing/TempFolder.h"
#include "platform/testing/linux/ShellRun.h"

namespace {

namespace fs = std::filesystem;

std::string FaultyBus() { return platform::testing::ReadFile(std::string(QUORRIN_SOURCE_DIR) + "/examples/faulty-bus.json"); }

bool Have(const std::string& tool) {
    return platform::testing::RunInFolder("/", "command -v '" + tool + "' >/dev/null").Status == 0;
}

class SniffFindings : public testing::Test {
protected:
    platform::testing::TempFolder folder_{"quorrin-findings-"};
    platform::testing::RuntimeFolder runtime_;
    std::string Dir() const { return folder_.Path(); }
    platform::testing::ShellRun Sniff(const std::string& arguments) {
        return platform::testing::RunInFolder(Dir(), runtime_.Assignment() + " '" +
                                                         BuiltProgram("quorrin-sniff") + "' " + arguments +
                                                         " 2>'" + Dir() + "/stderr'");
    }
    std::string Errors() const { return platform::testing::ReadFile(Dir() + "/stderr"); }
    platform::testing::ShellRun Shell(const std::string& command) {
        return platform::testing::RunInFolder(Dir(), command + " 2>&1");
    }
};

TEST_F(SniffFindings, CheckPrintsOneLinePerFindingAndExitsFive) {
    TestBus bus(FaultyBus());
    const auto run = Sniff("--check --device '" + bus.Socket() + "'");
    EXPECT_EQ(run.Status, 5) << Errors();
    EXPECT_EQ(run.Out,
              "01:00.0  warning  link x4 at 2.5 GT/s; the card can do x8 at 5 GT/s; the slot may be narrower\n"
              "01:00.0  note     link x4 at 2.5 GT/s; the card can do x8 at 5 GT/s; devices slow an idle link to "
              "save power\n"
              "01:00.0  note     AER correctable: Bad TLP\n"
              "02:00.0  error    device status: Non-Fatal Error Detected\n"
              "02:00.0  error    AER uncorrectable: Completion Timeout\n"
              "02:00.0  warning  BAR 2 (64-bit prefetchable memory) is implemented but holds no address: the "
              "firmware assigned none\n"
              "03:00.0  warning  interrupt pin INTA# has no routed interrupt, and neither MSI nor MSI-X is enabled\n"
              "04:00.0  error    capability list loops: the entry at 0x48 points back to 0x40\n");
    // The log holds the report, as without --check.
    EXPECT_NE(platform::testing::ReadFile(Dir() + "/Quorrin.Log").find("PCI Sniff Results.  Found 6 PCI Devices on the Bus"),
              std::string::npos);
}

TEST_F(SniffFindings, CheckOfAHealthyBusOrNoDriver) {
    {
        TestBus bus(simbus::BusJson({simbus::SimFunction(0, 0, 0).Ids(0x8086, 0x1237),
                                     simbus::PlxBoard(2, 4, 0x9056, simbus::PatternWords(64, 5))}));
        const auto run = Sniff("--check --device '" + bus.Socket() + "'");
        EXPECT_EQ(run.Status, 0) << Errors();
        EXPECT_EQ(run.Out, "");
    }
    const auto none = Sniff("--check --device '" + Dir() + "/nobody'");
    EXPECT_EQ(none.Status, 2);
    EXPECT_EQ(none.Out, "");
}

TEST_F(SniffFindings, JsonHasTheFindingsOfEachFunction) {
    TestBus bus(FaultyBus());
    const auto run = Sniff("--json --device '" + bus.Socket() + "'");
    ASSERT_EQ(run.Status, 0) << Errors();
    const auto j = nlohmann::json::parse(run.Out);
    ASSERT_EQ(j["Devices"].size(), 6u);
    EXPECT_EQ(j["Devices"][0]["Findings"], nlohmann::json::array());
    const auto& nic = j["Devices"][1];
    EXPECT_EQ(nic["Location"], "01:00.0");
    ASSERT_EQ(nic["Findings"].size(), 3u);
    EXPECT_EQ(nic["Findings"][0]["kind"], "link-narrow");
    EXPECT_EQ(nic["Findings"][0]["severity"], "warning");
    EXPECT_EQ(nic["Findings"][0]["values"], nlohmann::json::parse(
                                                R"({"width": 4, "capableWidth": 8, "speed": 2.5, "capableSpeed": 5})"));
    EXPECT_EQ(j["Devices"][2]["Findings"][2]["values"]["bar"], 2);
}

// The file node_exporter's textfile collector reads: valid to promtool,
// written whole (no temporary file left), and served by a real exporter
// from the folder layout the metrics unit installs (a link in the
// collector's folder to the file in Quorrin's own).
TEST_F(SniffFindings, MetricsPassPromtoolAndNodeExporterServesThem) {
    if (!Have("promtool") || !Have("prometheus-node-exporter"))
        GTEST_SKIP() << "promtool or prometheus-node-exporter is not installed (Debian: prometheus, "
                        "prometheus-node-exporter; scripts/setup installs them)";
    TestBus bus(FaultyBus());
    fs::create_directories(Dir() + "/quorrin");
    fs::create_directories(Dir() + "/textfile");
    const std::string file = Dir() + "/quorrin/quorrin.prom";
    fs::create_symlink(file, Dir() + "/textfile/quorrin.prom");
    for (int round = 0; round < 2; ++round) {  // the second replaces the first
        const auto run = Sniff("--metrics '" + file + "' --device '" + bus.Socket() + "'");
        ASSERT_EQ(run.Status, 0) << Errors();
        EXPECT_EQ(run.Out, "") << "--metrics alone prints no report";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir() + "/quorrin"), fs::directory_iterator()), 1)
        << "a temporary file was left beside the metrics";
    const auto check = Shell("promtool check metrics < '" + file + "'");
    EXPECT_EQ(check.Status, 0) << check.Out;
    const std::string text = platform::testing::ReadFile(file);
    EXPECT_NE(text.find("quorrin_finding{location=\"04:00.0\",kind=\"caplist-loop\",severity=\"error\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("quorrin_link_width{location=\"01:00.0\"} 4\n"), std::string::npos);

    // A free loopback port, then the exporter with only the textfile collector.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const std::string port = std::to_string(ntohs(address.sin_port));
    const pid_t exporter = ::fork();
    if (exporter == 0) {
        const std::string listen = "--web.listen-address=127.0.0.1:" + port;
        const std::string folder = "--collector.textfile.directory=" + Dir() + "/textfile";
        const int log = ::open((Dir() + "/exporter.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execlp("prometheus-node-exporter", "prometheus-node-exporter", listen.c_str(), "--collector.disable-defaults",
                 "--collector.textfile", folder.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string served;
    for (int attempt = 0; attempt < 100 && served.find("quorrin_driver_reached") == std::string::npos; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
            if (::write(s, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
                served.clear();
                char buffer[65536];
                ssize_t got;
                while ((got = ::read(s, buffer, sizeof buffer)) > 0) served.append(buffer, static_cast<size_t>(got));
            }
        }
        ::close(s);
    }
    ::kill(exporter, SIGTERM);
    ::waitpid(exporter, nullptr, 0);
    EXPECT_NE(served.find("\nquorrin_driver_reached 1\n"), std::string::npos) << platform::testing::ReadFile(Dir() + "/exporter.log");
    EXPECT_NE(served.find("quorrin_function_info{class=\"068000\",device=\"9056\",device_name="), std::string::npos);
    EXPECT_NE(served.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << served;
}

TEST_F(SniffFindings, MetricsThatCannotBeWrittenExitFour) {
    TestBus bus(FaultyBus());
    const auto run = Sniff("--check --metrics '" + Dir() + "/no-such-folder/quorrin.prom' --device '" +
                           bus.Socket() + "'");
    EXPECT_EQ(run.Status, 4);
    EXPECT_NE(Errors().find("quorrin-sniff: --metrics: " + Dir() + "/no-such-folder"), std::string::npos)
        << Errors();
}

// The two alert rules of docs/monitoring.md, each once firing and once not.
TEST_F(SniffFindings, AlertRulesFireOnAVanishedCardAndANewError) {
    if (!Have("promtool")) GTEST_SKIP() << "promtool is not installed (Debian: prometheus; scripts/setup installs it)";
    const std::string rules = std::string(QUORRIN_SOURCE_DIR) + "/examples/quorrin-alerts.yml";
    const std::string shown = platform::testing::ReadFile(rules).substr(platform::testing::ReadFile(rules).find("groups:"));
    EXPECT_NE(platform::testing::ReadFile(std::string(QUORRIN_SOURCE_DIR) + "/docs/monitoring.md").find(shown), std::string::npos)
        << "docs/monitoring.md does not show the rules as they are";
    std::ofstream(Dir() + "/test.yml") << R"(rule_files: [')" << rules << R"(']
evaluation_interval: 1h
tests:
  - interval: 1h
    input_series:
      - series: 'quorrin_driver_reached{instance="lab1"}'
        values: '1x48'
      - series: 'quorrin_function_info{instance="lab1",location="02:04.0",vendor="10b5",device="9056"}'
        values: '1x30 _x18'
      - series: 'quorrin_function_info{instance="lab1",location="00:00.0",vendor="8086",device="1237"}'
        values: '1x48'
      - series: 'quorrin_finding{instance="lab1",location="02:00.0",kind="aer-completion-timeout",severity="error"}'
        values: '_x31 1x17'
      - series: 'quorrin_finding{instance="lab1",location="04:00.0",kind="caplist-loop",severity="error"}'
        values: '1x48'
    alert_rule_test:
      - eval_time: 36h
        alertname: QuorrinCardVanished
        exp_alerts:
          - exp_labels: {instance: lab1, location: "02:04.0", vendor: "10b5", device: "9056"}
            exp_annotations:
              summary: "PCI function 02:04.0 (10b5:9056) vanished on lab1"
      - eval_time: 20h
        alertname: QuorrinCardVanished
        exp_alerts: []
      - eval_time: 36h
        alertname: QuorrinNewErrorFinding
        exp_alerts:
          - exp_labels: {instance: lab1, location: "02:00.0", kind: aer-completion-timeout, severity: error}
            exp_annotations:
              summary: "new error on lab1 at 02:00.0: aer-completion-timeout"
      - eval_time: 30h
        alertname: QuorrinNewErrorFinding
        exp_alerts: []
)";
    const auto run = Shell("promtool test rules test.yml");
    EXPECT_EQ(run.Status, 0) << run.Out;
}

// This machine's functions are healthy: no error or warning.
TEST_F(SniffFindings, RealBusHasNoErrorOrWarning) {
    if (!fs::is_directory("/sys/bus/pci/devices")) GTEST_SKIP() << "no /sys/bus/pci on this machine";
    std::unique_ptr<TestBus> bus;
    try {
        bus = std::make_unique<TestBus>(TestBus::Real());
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no real-bus service: " << e.what();
    }
    const auto run = Sniff("--check --device '" + bus->Socket() + "'");
    EXPECT_EQ(run.Status, 0) << run.Out << Errors();
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.substr(9, 4), "note") << line;
}

}  // namespace
