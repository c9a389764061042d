// The funnel page. Bars scale to the largest count on the page; the line chart to the busiest
// day. Colours keep 4.5:1 contrast against white, and each chart's numbers are in a table
// right below it.
#include "funnel/views.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace {
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Number(std::uint64_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, n);
    return text;
}

std::string Format(const char* format, double a, double b, double c, double d) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

const char* const kColours[] = {"#1f4e99", "#8a4f00", "#1d6b34"};  // served, chosen, started
const char kFailureColour[] = "#a3161a";

// One horizontal bar per value, labelled, in a chart of its own: each in its own colour (the
// funnel's steps), or all in `colour`.
std::string Bars(const std::string& label, const std::vector<std::pair<std::string, std::uint64_t>>& values,
                 std::uint64_t most, const char* colour = nullptr) {
    const double width = 420, row = 22;
    std::string svg = "<svg role=\"img\" aria-label=\"" + Escaped(label) + "\" width=\"620\" height=\"" +
                      Number(static_cast<std::uint64_t>(row * values.size() + 8)) + "\">";
    for (std::size_t i = 0; i < values.size(); ++i) {
        double length = most == 0 ? 0 : width * double(values[i].second) / double(most);
        double y = 4 + row * double(i);
        svg += Format("<text x=\"0\" y=\"%.0f\" font-size=\"13\">", y + 15, 0, 0, 0) + Escaped(values[i].first) +
               "</text>";
        svg += Format("<rect x=\"130\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" fill=\"", y + 2, length, row - 6, 0) +
               (colour != nullptr ? colour : kColours[i % 3]) + "\"/>";
        svg += Format("<text x=\"%.1f\" y=\"%.0f\" font-size=\"13\">", 136 + length, y + 15, 0, 0) +
               Number(values[i].second) + "</text>";
    }
    return svg + "</svg>";
}

std::string Cell(std::uint64_t n) { return "<td>" + Number(n) + "</td>"; }

// The moment a page was written, to the second, in UTC: a page published by a timer says how old
// it is when a run has failed since.
std::string Written(std::int64_t at) {
    std::tm t{};
    time_t seconds = static_cast<time_t>(at);
    char text[64] = "";
    if (gmtime_r(&seconds, &t) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &t) == 0)
        return "at an unknown time";
    return text;
}
}  // namespace

std::string FunnelPage(const Funnel& funnel) {
    const std::vector<FunnelRow>& groups = funnel.groups;
    const std::vector<DayRow>& days = funnel.days;
    const std::string& period = funnel.period;
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width\"><title>Download funnel</title><style>"
        "body{font-family:sans-serif;margin:2em;max-width:1100px;color:#111}"
        "table{border-collapse:collapse;margin:0.5em 0 2em}th,td{border:1px solid #999;padding:3px 8px;"
        "text-align:right}th:first-child,td:first-child{text-align:left}"
        "figure{margin:0.5em 0}figcaption{font-weight:bold}</style></head><body>\n"
        "<h1>Download funnel</h1>\n<p>" + Escaped(period) + "</p>\n<p>Written " + Written(funnel.written) + ".</p>\n";

    std::uint64_t most = 0;
    for (const FunnelRow& g : groups) most = std::max({most, g.served, g.chosen, g.installerStarted});
    page += "<h2>Per tag: served, chosen, installer started</h2>\n";
    for (const FunnelRow& g : groups) {
        std::string key = g.key.empty() ? "(no tag)" : g.key;
        page += "<figure><figcaption>" + Escaped(key) + "</figcaption>" +
                Bars("Tag " + key + ": " + Number(g.served) + " served, " + Number(g.chosen) + " chosen, " +
                         Number(g.installerStarted) + " installers started",
                     {{"served", g.served}, {"chosen", g.chosen}, {"installer started", g.installerStarted}}, most) +
                "</figure>\n";
    }
    page += "<table id=\"groups\"><caption>Every count per tag</caption><tr><th>tag</th><th>served</th><th>chosen</th>"
            "<th>cancelled</th><th>installer started</th><th>message 3</th><th>message 4</th><th>message 5</th>"
            "<th>message 7</th><th>no end</th></tr>\n";
    FunnelRow all;
    for (const FunnelRow& g : groups) {
        page += "<tr><td>" + Escaped(g.key.empty() ? "(no tag)" : g.key) + "</td>" + Cell(g.served) + Cell(g.chosen) +
                Cell(g.cancelled) + Cell(g.installerStarted) + Cell(g.message3) + Cell(g.message4) +
                Cell(g.message5) + Cell(g.message7) + Cell(g.noEnd) + "</tr>\n";
        all.cancelled += g.cancelled, all.message3 += g.message3, all.message4 += g.message4;
        all.message5 += g.message5, all.message7 += g.message7, all.noEnd += g.noEnd;
    }
    page += "</table>\n<h2>Failures by outcome</h2>\n";
    std::vector<std::pair<std::string, std::uint64_t>> failures = {
        {"cancelled", all.cancelled}, {"message 3", all.message3}, {"message 4", all.message4},
        {"message 5", all.message5},  {"message 7", all.message7}, {"no end", all.noEnd}};
    std::uint64_t worst = 0;
    for (const auto& f : failures) worst = std::max(worst, f.second);
    std::string told = "Failures: ";
    for (const auto& f : failures) told += f.first + " " + Number(f.second) + ", ";
    page += "<figure>" + Bars(told.substr(0, told.size() - 2), failures, worst, kFailureColour) + "</figure>\n";

    page += "<h2>Per day: copies served and installers started</h2>\n";
    std::uint64_t busiest = 1;
    for (const DayRow& d : days) busiest = std::max({busiest, d.served, d.installerStarted});
    const double w = 640, h = 200, left = 50, top = 10;
    std::string chart = "<svg role=\"img\" aria-label=\"Copies served and installers started per day, in the table "
                        "below\" width=\"720\" height=\"250\">";
    chart += Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"#555\"/>", left, top + h, left + w,
                    top + h);
    chart += Format("<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"#555\"/>", left, top, left, top + h);
    chart += Format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\" text-anchor=\"end\">", left - 4, top + 10, 0, 0) +
             Number(busiest) + "</text>";
    chart += Format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\" text-anchor=\"end\">0</text>", left - 4, top + h, 0, 0);
    for (int line = 0; line < 2; ++line) {
        // A dot on each day, so that a single day shows too.
        std::string points, dots;
        const char* colour = kColours[line == 0 ? 0 : 2];
        for (std::size_t i = 0; i < days.size(); ++i) {
            double x = left + (days.size() == 1 ? w / 2 : w * double(i) / double(days.size() - 1));
            double value = double(line == 0 ? days[i].served : days[i].installerStarted);
            double y = top + h - h * value / double(busiest);
            points += Format("%.1f,%.1f ", x, y, 0, 0);
            dots += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"", x, y, 0, 0) + colour + "\"/>";
        }
        chart += std::string("<polyline fill=\"none\" stroke-width=\"2.5\" stroke=\"") + colour + "\" points=\"" +
                 points + "\"/>" + dots;
    }
    if (!days.empty()) {
        chart += Format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\">", left, top + h + 18, 0, 0) + days.front().day +
                 "</text>";
        chart += Format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\" text-anchor=\"end\">", left + w, top + h + 18, 0,
                        0) + days.back().day + "</text>";
    }
    chart += Format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"13\" fill=\"", left, top + h + 38, 0, 0) +
             std::string(kColours[0]) + "\">&#9644; served</text>";
    chart += Format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"13\" fill=\"", left + 120, top + h + 38, 0, 0) +
             std::string(kColours[2]) + "\">&#9644; installer started</text></svg>";
    page += "<figure>" + chart + "</figure>\n<table id=\"days\"><caption>Per day (UTC)</caption><tr><th>day</th>"
            "<th>served</th><th>installer started</th></tr>\n";
    for (const DayRow& d : days)
        page += "<tr><td>" + d.day + "</td>" + Cell(d.served) + Cell(d.installerStarted) + "</tr>\n";
    return page + "</table>\n</body></html>\n";
}
