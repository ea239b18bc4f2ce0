#pragma once
// Finding a numbered run of image files from one chosen name: the last run
// of digits in the path is the frame number, and the run continues while the
// next number names an existing file.

#include <cstdint>
#include <string>

struct SequenceName {
    // The path with the number replaced by "%0<width>d"; every other '%' and
    // every '/' is doubled.
    std::string pattern;
    uint32_t first = 0;  // the chosen file's number
    uint32_t width = 0;  // digits of the last run followed by a non-digit
};

// False when the path has no digit, or its number is 0xFFFFFFFF or more.
bool ParseSequenceName(const std::string& path, SequenceName& out);

// The file name of number n: the pattern with its number conversion filled
// and its doubled percent signs single.
std::string FormatSequenceName(const std::string& pattern, uint64_t n);

// The same name as the user wrote it, for messages: the separators that the
// pattern doubled are single again.
std::string SequenceDisplayName(const std::string& pattern, uint64_t n);

// One past the last number of the run that starts at first: the first number
// whose file is missing (or is a directory), or 10 to the power of width.
uint32_t FindSequenceEnd(const SequenceName& name);
