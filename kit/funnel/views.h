// The funnel's three views, each the whole of its output: a table for a terminal, one JSON
// object for a script, one self-contained page for a browser.
#pragma once
#include <string>

#include "funnel/funnel.h"

// A line per group under a heading, with the share of copies served whose installer started.
std::string FunnelText(const Funnel& funnel);
// {"groups": [{"key": ..., "served": N, ...}, ...]} and a newline.
std::string FunnelJson(const Funnel& funnel);
// The page for the groups (by tag) and the days: inline SVG charts, and every number also in the
// page's text (tables), for a screen reader and for a reader without pictures. No script, font or
// picture from elsewhere: it opens from a file behind any firewall.
std::string FunnelPage(const Funnel& funnel);
