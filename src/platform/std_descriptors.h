// std_descriptors.h -- standard input, output and error kept open, so that
// nothing the program opens later takes their numbers.
#pragma once

namespace platform {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Called
// first thing in main, before any library opens a file or a connection:
// with standard error closed, the X connection would be given descriptor 2
// and every message would be written into it. True when all three are open
// afterwards.
bool openStandardDescriptors();

} // namespace platform
