// The line writer against a real pipe: whole lines, in order, nothing torn.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "protocol/emit.h"
#include "tests/doubles/small_pipe.h"

namespace {

std::string drain(int fd) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

void noteSignal(int) {}

TEST(Emit, FinishesLinesThroughShortAndInterruptedWrites) {
  // A line far larger than the pipe: the kernel takes it in pieces, and
  // signals without SA_RESTART interrupt the blocked writer.
  struct sigaction action = {};
  action.sa_handler = noteSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction previous = {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  shrinkPipeBuffer(fds[1]);
  const int savedFd = outputFd;
  setOutputFd(fds[1]);

  std::string line(1 << 20, 'a');
  for (std::size_t i = 0; i < line.size(); i += 997) line[i] = static_cast<char>('b' + i % 20);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    emit(line);
    emit("after");
    close(fds[1]);
    done = true;
  });
  std::string received;
  char buffer[1000];
  for (int round = 0;; ++round) {
    if (round % 4 == 0 && !done) pthread_kill(writer.native_handle(), SIGUSR1);
    const ssize_t got = read(fds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    received.append(buffer, static_cast<std::size_t>(got));
  }
  writer.join();
  close(fds[0]);
  setOutputFd(savedFd);
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(received == line + "\nafter\n") << "received " << received.size() << " bytes";
}

TEST(Emit, LinesFromTwoThreadsNeverInterleave) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  shrinkPipeBuffer(fds[1]);
  const int savedFd = outputFd;
  setOutputFd(fds[1]);
  // Longer than the pipe's atomic write size, so only the writer's own
  // exclusion keeps the lines whole.
  const std::string longA(10000, 'A');
  const std::string longB(10000, 'B');
  std::string received;
  std::thread reader([&] { received = drain(fds[0]); });
  std::thread first([&] { for (int i = 0; i < 50; ++i) emit(longA); });
  std::thread second([&] { for (int i = 0; i < 50; ++i) emit(longB); });
  first.join();
  second.join();
  close(fds[1]);
  reader.join();
  close(fds[0]);
  setOutputFd(savedFd);

  int lines = 0;
  for (std::size_t start = 0; start < received.size();) {
    const std::size_t end = received.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string lineRead = received.substr(start, end - start);
    EXPECT_TRUE(lineRead == longA || lineRead == longB) << "torn line at byte " << start;
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, 100);
}

}  // namespace
