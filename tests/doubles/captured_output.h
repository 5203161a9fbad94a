// Points emit at a pipe, so tests read back exactly the bytes the parent would.
#pragma once

#include <string>
#include <vector>

void startCapturingOutput();
// The complete lines written since the last call, without their line feeds.
std::vector<std::string> takeOutputLines();
// Everything written since the last call, as raw bytes.
std::string takeOutputBytes();
