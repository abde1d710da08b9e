// The diagnostics log: a text file that the usage report and the HTTPS trace
// append to through the process's standard error stream.
#pragma once

namespace xylotrak::diagnostics {

// Reopens stderr onto the diagnostics log in append mode. The file is opened
// first and stderr is redirected only when that succeeded, so a missing log
// folder leaves stderr open and as it was. Returns whether stderr now writes
// to the log. The folder is never created.
bool redirectStandardError() noexcept;

}  // namespace xylotrak::diagnostics
