// Line splitting and command handling of the reader, fed in chunks.
#include <gtest/gtest.h>

#include "tests/case_names.h"

#include <unistd.h>

#include <thread>

#include "protocol/command_reader.h"
#include "tests/doubles/captured_output.h"

namespace {

using Lines = std::vector<std::string>;

// The reader answers with what start-up handed it; the focus query itself
// is tested apart (focus_test.cpp).
std::string_view answerEditable() { return "editable"; }

struct ReaderCase {
  const char* name;
  std::vector<std::string> chunks;
  int replies;
};

void PrintTo(const ReaderCase& readerCase, std::ostream* out) { *out << readerCase.name; }

class CommandReader : public testing::TestWithParam<ReaderCase> {};

TEST_P(CommandReader, AnswersExactlyTheCheckFocusLines) {
  const ReaderCase& readerCase = GetParam();
  setUpCommandReader(answerEditable);
  startCapturingOutput();
  for (const std::string& chunk : readerCase.chunks) consumeInput(chunk);
  finishInput();
  EXPECT_EQ(takeOutputLines(), Lines(static_cast<std::size_t>(readerCase.replies), "focus:editable"));
}

const std::string longLine(maxCommandBytes + 1, 'x');

INSTANTIATE_TEST_SUITE_P(
    Reader, CommandReader,
    testing::Values(ReaderCase{"plain", {"check-focus\n"}, 1}, ReaderCase{"crlf", {"check-focus\r\n"}, 1},
                    ReaderCase{"three at once", {"check-focus\ncheck-focus\r\ncheck-focus\n"}, 3},
                    ReaderCase{"last line without line feed", {"check-focus"}, 1},
                    ReaderCase{"split across chunks", {"che", "ck-focus\r", "\ncheck", "-focus"}, 2},
                    ReaderCase{"trailing blank", {"check-focus \n"}, 0},
                    ReaderCase{"leading blank", {" check-focus\n"}, 0},
                    ReaderCase{"trailing tab", {"check-focus\t\n"}, 0},
                    ReaderCase{"other case", {"Check-Focus\nCHECK-FOCUS\n"}, 0},
                    ReaderCase{"anything appended", {"check-focusx\ncheck-focus\r\r\n"}, 0},
                    ReaderCase{"lone cr is not a terminator", {"check-focus\rcheck-focus\n"}, 0},
                    ReaderCase{"cr before end of input stays part of the line", {"check-focus\r"}, 0},
                    ReaderCase{"nul byte inside", {std::string("check-focus\0\n", 13)}, 0},
                    ReaderCase{"empty lines and unknown commands", {"\n\n\r\nquit\nhelp\n"}, 0},
                    ReaderCase{"no input at all", {}, 0},
                    ReaderCase{"over-long line dropped, the next one answered",
                               {longLine, "check-focus\ncheck-focus\n"}, 1},
                    ReaderCase{"over-long line that ends in the command",
                               {std::string(maxCommandBytes, 'y'), "check-focus", "\n"}, 0},
                    ReaderCase{"over-long last line without line feed", {longLine}, 0}),
    CaseName());

TEST(CommandReaderPipe, RepliesInOrderAndForgetsHalfLinesAtTheEnd) {
  setUpCommandReader(answerEditable);
  startCapturingOutput();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([fd = fds[1]] {
    // Byte by byte, so every line spans many reads.
    for (char byte : std::string("check-focus\nnoise\ncheck-focus\r\ncheck-")) {
      ASSERT_EQ(write(fd, &byte, 1), 1);
    }
    close(fd);
  });
  readCommandsFrom(fds[0]);
  writer.join();
  close(fds[0]);
  EXPECT_EQ(takeOutputLines(), (Lines{"focus:editable", "focus:editable"}));

  // State left by the unfinished line must not leak into the next input.
  consumeInput("focus\n");
  finishInput();
  EXPECT_EQ(takeOutputLines(), Lines{});
}

TEST(CommandReaderPipe, EndOfInputExitsWithStatusZero) {
  EXPECT_EXIT(
      {
        int fds[2];
        if (pipe(fds) != 0) _exit(3);
        close(fds[1]);
        dup2(fds[0], STDIN_FILENO);
        readCommands();
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
