// The three standard descriptors, made safe before the helper opens anything.
#pragma once

// Opens /dev/null on each of 0, 1 and 2 that the parent left closed. Until
// then the first descriptor the helper opens (its X connection, say) would
// take the lowest free number: protocol lines would be written into it, and
// commands read from it. Call it first thing in main.
void openStandardDescriptors();
