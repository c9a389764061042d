// A small "--name value" option reader shared by the loaderkit subcommands.
#pragma once
#include <cstdio>
#include <map>
#include <set>
#include <string>

struct Options {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::string error;
    bool Has(const std::string& name) const { return values.count(name) || flags.count(name); }
    std::string Get(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
};

// valued: options that take a value; flagged: options without one. Anything else is an error.
inline Options ParseOptions(int argc, char** argv, const std::set<std::string>& valued,
                            const std::set<std::string>& flagged) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (flagged.count(a)) {
            o.flags.insert(a);
        } else if (valued.count(a)) {
            if (i + 1 >= argc) {
                o.error = "option " + a + " needs a value";
                return o;
            }
            if (o.values.count(a)) {
                o.error = "option " + a + " given twice";
                return o;
            }
            o.values[a] = argv[++i];
        } else {
            o.error = "unknown option '" + a + "'";
            return o;
        }
    }
    return o;
}

// Prints "loaderkit COMMAND: MESSAGE" on standard error and returns code, the exit code to use:
// 1 for a value that cannot be used, 2 for a usage error.
inline int KitError(const char* command, const std::string& message, int code = 1) {
    std::fprintf(stderr, "loaderkit %s: %s\n", command, message.c_str());
    return code;
}
