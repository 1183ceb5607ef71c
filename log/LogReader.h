// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- reading a log file back into its records: the code, the
// stamp, the message and the clock-repair notes of every line the writer
// started. CR LF logs and copies turned into LF are both read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The notes a record carries after its message when the log's clock needed
// a repair (in this order when both), and then, when records were lost
// since the last one written, this prefix and their number.
inline constexpr char ReinitNote[] = "  >>>> HAD TO REINIT ErrorLog TIMER";
inline constexpr char CpuTimeNote[] = "  >>>> HAD TO USE THE CPU TIME";
inline constexpr char LostNotePrefix[] = "  >>>> RECORDS LOST BEFORE THIS ONE: ";

struct LogRecord {
    int32_t Code = 0;
    std::size_t Offset = 0;    // of the record's first character in the text
    std::string_view Stamp;    // 19 characters
    std::string_view Message;  // as the caller wrote it, line ends inside included
    std::string_view Notes;
};

// True when `text` begins with a record's code, two blanks, a stamp and two
// blanks (or, where a trimmed copy lost them, the line's end).
bool StartsLogRecord(std::string_view text);

// Every record of the log in order. A record runs to the line end before the
// next line that starts a record; lines before the first record are not
// part of any.
std::vector<LogRecord> ReadLogRecords(std::string_view text);
