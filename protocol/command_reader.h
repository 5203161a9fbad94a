// Reads the parent's commands from standard input on the reader thread.
#pragma once

#include <cstddef>
#include <string_view>

// No command is longer than this; a longer line is dropped as it streams in.
inline constexpr std::size_t maxCommandBytes = 4096;

// What answers check-focus: "editable" or "none".
using FocusQuery = std::string_view (*)();

// Start-up hands the reader the focus query before the reader thread starts.
void setUpCommandReader(FocusQuery query);

// The reader loop: answers commands until input ends, then ends the process
// with status 0.
void readCommands();

// Reads fd until end of input or a read failure, handling each line.
void readCommandsFrom(int fd);

// Splits a chunk of input into lines and handles each complete one. Lines
// may span chunks.
void consumeInput(std::string_view chunk);
// Handles a last line without a line feed and forgets any partial line.
void finishInput();

// Answers one line without its terminator; lines other than commands are ignored.
void handleCommand(std::string_view line);
