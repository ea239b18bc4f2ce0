#include "jobs/image_sequence.h"

#include <algorithm>

#include <sys/stat.h>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void AppendDoubled(std::string& out, const std::string& text, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        out += text[i];
        // A percent sign must survive formatting; the separator is doubled as
        // well, which the file system reads as one.
        if (text[i] == '%' || text[i] == '/') out += text[i];
    }
}

bool IsExistingFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

bool ParseSequenceName(const std::string& path, SequenceName& out) {
    size_t run_start = std::string::npos, run_end = 0;
    uint64_t value = 0;
    uint32_t width = 0;
    bool in_run = false, any = false, too_large = false;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsDigit(path[i])) {
            if (!in_run) {
                in_run = true;
                any = true;
                run_start = i;
                value = 0;
                too_large = false;
            }
            value = value * 10 + static_cast<uint64_t>(path[i] - '0');
            // One past the number must still fit the 32-bit end number.
            if (value >= 0xFFFFFFFFull) {
                too_large = true;
                value = 0xFFFFFFFFull;  // stays out of range without overflowing
            }
            run_end = i + 1;
        } else if (in_run) {
            in_run = false;
            width = static_cast<uint32_t>(i - run_start);
        }
    }
    if (!any || too_large) return false;

    out.pattern.clear();
    AppendDoubled(out.pattern, path, 0, run_start);
    out.pattern += "%0" + std::to_string(width) + "d";
    AppendDoubled(out.pattern, path, run_end, path.size());
    out.first = static_cast<uint32_t>(value);
    out.width = width;
    return true;
}

std::string FormatSequenceName(const std::string& pattern, uint64_t n) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // The one number conversion: "%0<width>d".
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '0') ++j;
        uint32_t width = 0;
        while (j < pattern.size() && IsDigit(pattern[j]) && width < 1000) width = width * 10 + (pattern[j++] - '0');
        if (j < pattern.size() && pattern[j] == 'd') {
            std::string digits = std::to_string(n);
            if (digits.size() < width) out.append(width - digits.size(), '0');
            out += digits;
            i = j;
        } else {
            out += '%';
        }
    }
    return out;
}

std::string SequenceDisplayName(const std::string& pattern, uint64_t n) {
    const std::string name = FormatSequenceName(pattern, n);
    std::string shown;
    for (size_t i = 0; i < name.size(); ++i) {
        shown += name[i];
        if (name[i] == '/' && i + 1 < name.size() && name[i + 1] == '/') ++i;
    }
    return shown;
}

uint32_t FindSequenceEnd(const SequenceName& name) {
    uint64_t limit = 1;
    for (uint32_t i = 0; i < name.width && limit <= 0xFFFFFFFFull; ++i) limit *= 10;
    if (limit > 0xFFFFFFFFull) limit = 0xFFFFFFFFull;
    uint64_t n = static_cast<uint64_t>(name.first) + 1;
    for (; n < limit; ++n)
        if (!IsExistingFile(FormatSequenceName(name.pattern, n))) break;
    // A chosen number at or beyond the limit still makes a run of one file.
    return static_cast<uint32_t>(std::min(n, std::max<uint64_t>(limit, name.first + 1ull)));
}
