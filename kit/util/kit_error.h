// The kit's one form of error message, for every command and the endpoint's responder.
#pragma once
#include <cstdio>
#include <string>

// Prints "loaderkit COMMAND: MESSAGE" on standard error and returns code, the exit code to use:
// 1 for a value that cannot be used, 2 for a usage error.
inline int KitError(const char* command, const std::string& message, int code = 1) {
    std::fprintf(stderr, "loaderkit %s: %s\n", command, message.c_str());
    return code;
}
