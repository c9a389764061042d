// One page into ReplyBuffer, NUL-terminated, with a single read.
#pragma once

// Returns 1 when the URL opened and the read succeeded. On failure to open, ReplyBuffer is
// left as it was.
int FetchPage(const char* url);
