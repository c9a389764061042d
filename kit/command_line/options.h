// A small "--name value" option reader shared by the loaderkit subcommands.
#pragma once
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "util/kit_error.h"

struct Options {
    std::map<std::string, std::string> values;
    std::map<std::string, std::vector<std::string>> repeated;
    std::set<std::string> flags;
    std::string error;
    bool Has(const std::string& name) const {
        return values.count(name) || flags.count(name) || repeated.count(name);
    }
    // Every value of a repeatable option, in the order given.
    std::vector<std::string> All(const std::string& name) const {
        auto it = repeated.find(name);
        return it == repeated.end() ? std::vector<std::string>() : it->second;
    }
    std::string Get(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
};

// valued: options that take a value once; flagged: options without one; repeatable: options
// that take a value each time they are given. Anything else is an error, and so is an empty
// value: it is what a script's unset variable gives, never what was meant.
inline Options ParseOptions(int argc, char** argv, const std::set<std::string>& valued,
                            const std::set<std::string>& flagged, const std::set<std::string>& repeatable = {}) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (flagged.count(a)) {
            o.flags.insert(a);
        } else if (valued.count(a) || repeatable.count(a)) {
            if (i + 1 >= argc) {
                o.error = "option " + a + " needs a value";
                return o;
            }
            if (argv[i + 1][0] == 0) {
                o.error = "option " + a + " has an empty value";
                return o;
            }
            if (repeatable.count(a)) {
                o.repeated[a].push_back(argv[++i]);
                continue;
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
