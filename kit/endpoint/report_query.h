// The endpoint's reading of a loader's report, a query string that anyone on the web can send:
// known keys only, each once, each value within its own length and characters.
#pragma once
#include <string>

#include "store/records.h"

// Fills *report from query and returns true; or returns false with *why saying what is wrong.
// Nothing is percent-decoded: no value needs an escape, so one is refused as it stands.
bool ReadReport(const std::string& query, Report* report, std::string* why);
