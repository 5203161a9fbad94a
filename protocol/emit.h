// Every line the helper tells its parent goes through emit.
#pragma once

#include <string_view>

// The descriptor lines go to: standard output, or a pipe in tests.
extern int outputFd;
void setOutputFd(int fd);

// Writes text and a line feed to outputFd as one write request, finishing
// any short or interrupted write. Safe from both threads: lines never
// interleave.
void emit(std::string_view text);
