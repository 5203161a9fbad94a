// Shrinks a pipe's buffer where the system allows it, so that large writes
// are taken in many short pieces and tearing faults show up quickly.
#pragma once

void shrinkPipeBuffer(int fd);
