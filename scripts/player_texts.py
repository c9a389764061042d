#!/usr/bin/env python3
"""Prints the player's texts (statuses and final messages 2 to 7 in every language of the
chooser) as a Markdown table, read from the resource scripts: English from src/res/loader.rc,
the other fifteen from src/res/player_texts.rc. docs/loader.md carries this table for
translators; the kit's test suite checks that the two agree. usage: player_texts.py"""
import os
import re

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "res")
IDS = ["IDS_INITIALIZING", "IDS_CONNECT_FAILED", "IDS_PARSING_ERROR", "IDS_NETWORK_ERROR", "IDS_PREPARING",
       "IDS_START_FAILED"]
# The chooser's order, and the LANGUAGE statement of each language's table.
LANGUAGES = [("CHT", "LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL"), ("DEU", "LANG_GERMAN, SUBLANG_GERMAN"),
             ("ENG", "LANG_ENGLISH, SUBLANG_ENGLISH_US"), ("SPA", "LANG_SPANISH, SUBLANG_SPANISH_MODERN"),
             ("FRE", "LANG_FRENCH, SUBLANG_FRENCH"), ("ITA", "LANG_ITALIAN, SUBLANG_ITALIAN"),
             ("JAP", "LANG_JAPANESE, SUBLANG_DEFAULT"), ("KOR", "LANG_KOREAN, SUBLANG_KOREAN"),
             ("DUT", "LANG_DUTCH, SUBLANG_DUTCH"), ("POR", "LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN"),
             ("SWE", "LANG_SWEDISH, SUBLANG_SWEDISH"), ("GRE", "LANG_GREEK, SUBLANG_DEFAULT"),
             ("CHS", "LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED"), ("HEB", "LANG_HEBREW, SUBLANG_DEFAULT"),
             ("ARA", "LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA"), ("DAN", "LANG_DANISH, SUBLANG_DEFAULT")]


def tables():
    """{language statement: {string id name: text}} of both resource scripts."""
    found = {}
    for name in ("loader.rc", "player_texts.rc"):
        with open(os.path.join(RES, name), encoding="utf-8") as f:
            text = f.read()
        for language, body in re.findall(r"LANGUAGE ([A-Z_]+, [A-Z_]+)\s+STRINGTABLE\s+BEGIN\n(.*?)\nEND", text, re.S):
            found[language] = dict(re.findall(r"^\s*(IDS_[A-Z_]+) \"(.*)\"$", body, re.M))
    return found


def markdown():
    found = tables()
    rows = ["| language | " + " | ".join(str(k) for k in range(2, 8)) + " |", "|---" * 7 + "|"]
    for code, language in LANGUAGES:
        texts = found.get(language, {})
        # The right-to-left mark is invisible: the page names it, and shows it as it names it.
        cells = [texts.get(i, "(missing)").replace("\\r\\n", "<br>").replace("|", "\\|").replace("\u200f", "&rlm;")
                 for i in IDS]
        rows.append("| %s | %s |" % (code, " | ".join(cells)))
    return "\n".join(rows) + "\n"


if __name__ == "__main__":
    print(markdown(), end="")
