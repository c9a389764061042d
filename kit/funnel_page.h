// The funnel as one self-contained page: inline SVG charts written here, and every number also
// in the page's text (tables), for a screen reader and for a reader without pictures. No
// script, font or picture from elsewhere: it opens from a file behind any firewall.
#pragma once
#include <string>
#include <vector>

#include "store.h"

// The page for these groups (by tag) and days; period says which, for the heading.
std::string FunnelPage(const std::vector<FunnelRow>& groups, const std::vector<DayRow>& days, const std::string& period);
