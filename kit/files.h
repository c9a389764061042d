// File helpers of loaderkit: whole-file reads, and writes that leave nothing behind on failure.
#pragma once
#include <string>
#include <vector>

bool ReadFileBytes(const std::string& path, std::vector<unsigned char>& out, std::string& error);
// Writes through a temporary file in the same folder and renames it into place, so a failed
// write never leaves a partial output file.
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& data, bool executable,
                         std::string& error);
