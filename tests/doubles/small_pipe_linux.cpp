#include <fcntl.h>

#include "tests/doubles/small_pipe.h"

void shrinkPipeBuffer(int fd) { fcntl(fd, F_SETPIPE_SZ, 4096); }
