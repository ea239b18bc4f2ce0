#pragma once
// Whether the output path can take a new movie, judged before a job starts.
// The window turns the verdict into its message boxes; the command line into
// its messages and the --overwrite flag.

#include <string>

enum class OutputCheck {
    kAccepted,       // nothing there (a probe file could be made), or an existing file the caller may replace
    kEmpty,          // "ファイル名が入力されていません。"
    kExists,         // an existing writable file: ask before replacing it
    kCannotCreate,   // "指定したファイル名で作成できません、"
};

// An existing file counts as kExists only when it can be replaced; a
// directory, a read-only file or an unwritable folder give kCannotCreate.
OutputCheck CheckOutputFile(const std::string& path);
