// What a run has made and must remove if a signal ends it: the temporaries
// of its outputs and the folders made for them. A fixed table, read by a
// signal handler without locks or allocation.
#pragma once

#include <string>

namespace pelx04run {

// Each returns the record to release once the file or folders are in place
// or gone, or -1 when the path is too long or the table is full.
int recordPendingFile(const std::string& path);
// `innermost` and the `count` - 1 folders above it; count 0 records nothing.
int recordPendingFolders(const std::string& innermost, int count);
void releasePending(int record);

// Removes every pending file, then every pending folder while it is empty.
// Async-signal-safe.
void removePendingOutputs();

}  // namespace pelx04run
