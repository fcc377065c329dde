// std_descriptors.h -- standard input, output and error kept open, so that
// nothing the program opens later takes their numbers; and text made fit to
// print on them as part of one line.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Called
// first thing in main, before any library opens a file or a connection:
// with standard error closed, the X connection would be given descriptor 2
// and every message would be written into it. True when all three are open
// afterwards; closed, where given, gets a bit (1 << fd) for each that was
// closed.
bool openStandardDescriptors(int* closed = nullptr);

// text with its control characters escaped (\n, \r, \t, else \xHH) and
// backslashes doubled, for names and arguments in messages: a file name or
// an argument holding a line break still gives one line.
std::string printable(std::string_view text);

} // namespace platform
