// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log tests -- a log read back into its records: what the writer
// wrote, and hand-made texts with notes, odd codes and LF line ends.
#include "log/LogReader.h"

#include <gtest/gtest.h>

#include "log/tests/LogTestSupport.h"

namespace {

using logtest::LogTest;

TEST_F(LogTest, RecordsReadBackAsWritten) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    LogInfo("one", 7, false);
    LogInfoLine("two lines\r\n000000  not a stamp", -1, false);
    LogText("", 1234567);
    EndErrorLog(false);
    const std::string text = logtest::ReadFile(LogFile());
    const auto records = ReadLogRecords(text);
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].Message, "------------------PROGRAM START--------------------");
    EXPECT_EQ(records[2].Code, 7);
    EXPECT_EQ(records[2].Message, "one");
    EXPECT_EQ(records[3].Code, -1);
    EXPECT_EQ(records[3].Message, "two lines\r\n000000  not a stamp\r\n");
    EXPECT_EQ(records[4].Code, 1234567);
    EXPECT_EQ(records[4].Message, "");
    EXPECT_EQ(records[5].Offset, text.rfind("000000  "));
    EXPECT_EQ(records[5].Stamp.size(), 19u);
}

TEST(LogReader, NotesLineEndsAndStrayLines) {
    struct Case {
        const char* Text;
        std::vector<std::string> Messages, Notes;
    } cases[] = {
        {"junk\r\n000001  045:09:15:02.123456  a  >>>> HAD TO REINIT ErrorLog TIMER  >>>> HAD TO USE THE CPU "
         "TIME\r\n",
         {"a"},
         {"  >>>> HAD TO REINIT ErrorLog TIMER  >>>> HAD TO USE THE CPU TIME"}},
        {"000001  045:09:15:02.123456  a\r\n  >>>> HAD TO USE THE CPU TIME  >>>> RECORDS LOST BEFORE THIS ONE: 12\r\n"
         "000002  045:09:15:02.123456  b: 12\r\n",
         {"a\r\n", "b: 12"},
         {"  >>>> HAD TO USE THE CPU TIME  >>>> RECORDS LOST BEFORE THIS ONE: 12", ""}},
        {"000001  045:09:15:02.123456  a\n\n000002  XXX:XX:XX:XX.XXXXXX  b\n", {"a\n", "b"}, {"", ""}},
        {"000001  045:09:15:02.123456  cut", {"cut"}, {""}},
        {"00001  045:09:15:02.123456  short code\r\n1  2\r\n", {}, {}},
    };
    for (const Case& c : cases) {
        const auto records = ReadLogRecords(c.Text);
        ASSERT_EQ(records.size(), c.Messages.size()) << c.Text;
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].Message, c.Messages[i]) << c.Text;
            EXPECT_EQ(records[i].Notes, c.Notes[i]) << c.Text;
        }
    }
}

}  // namespace
