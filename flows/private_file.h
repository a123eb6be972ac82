#pragma once
#include <string>

// Creates the file `path` for writing captured bytes: mode 0600, a new inode
// every time, never opened through a symbolic link.
//
// - No file there: created with O_CREAT | O_EXCL | O_NOFOLLOW.
// - A regular file of this user there: a new file is made beside it and
//   renamed over it, so that nothing is written through the old name (nor
//   through another hard link to the old file).
// - Anything else (a symbolic link, a directory, a FIFO, another user's
//   file): refused.
//
// Returns the descriptor (the caller closes it), or -1 with a sentence in
// `error` when given. Any thread.
int CreatePrivateFile(const std::string& path, std::string* error);
