// The download endpoint's reading of its query string, which anyone on the web can send.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "net/report_fields.h"  // TagCharacter: what a tag may hold

constexpr std::size_t kMostQueryBytes = 1024;
constexpr std::size_t kMostTagBytes = 11;

// The one "tag" parameter of `query`, 1 to 11 tag characters; or an empty string with *why
// saying what is wrong (missing, empty, repeated, too long, other characters, query over 1 KB).
std::string TagFromQuery(const std::string& query, std::string* why);

// Calls each(name, value, hasValue) for every '&'-separated field of query, in order, until it
// returns false; hasValue says whether the field had an '='. Returns whether all were taken.
bool ForEachQueryField(const std::string& query,
                       const std::function<bool(const std::string&, const std::string&, bool)>& each);
