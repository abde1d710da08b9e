// The diagnostics log: a text file that the usage report and the HTTPS trace
// append to. The folder is never created: without it nothing is written.
#pragma once

#include <cstdio>

namespace xylotrak::diagnostics {

// Reopens stderr onto the diagnostics log in append mode, for the HTTPS
// trace, which leaves it writing there. The file is opened first and stderr
// is redirected only when that succeeded, so a missing log folder leaves
// stderr open and as it was. Returns whether stderr now writes to the log.
bool redirectStandardError() noexcept;

// Opens the diagnostics log for appending in text mode, as a stream of the
// caller's own (the usage report's), leaving stderr alone; null when the
// file cannot be opened. The caller closes it.
std::FILE *openLog() noexcept;

}  // namespace xylotrak::diagnostics
