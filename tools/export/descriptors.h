// descriptors.h -- standard input, output and error made safe to use.
#pragma once

namespace exporter {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, before
// anything else is opened (else the first file opened would take its place
// and be written to, or read, as that stream). Returns a bit (1 << fd) for
// each one that was closed.
int openStandardDescriptors();

} // namespace exporter
