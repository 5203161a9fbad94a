// The three standard descriptors, made safe before the helper opens anything.
#pragma once

// Opens /dev/null on each of 0, 1 and 2 that the parent left closed. Until
// then the first descriptor the helper opens (its X connection, say) would
// take the lowest free number: protocol lines would be written into it, and
// commands read from it. Call it first thing in main.
void openStandardDescriptors();

// A parent may close its end of the output pipe and keep the input open,
// shutting down or no longer wanting the lines. That must not end the
// helper by SIGPIPE, which a supervisor reports as a crash: from here on a
// write to a pipe nobody reads fails with EPIPE instead, emit drops the
// line, and the helper runs until its input closes, as with an output
// closed from the start. Call it before the helper starts any thread.
void outliveClosedOutput();
