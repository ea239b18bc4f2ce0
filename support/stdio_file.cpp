#include "support/stdio_file.h"

#include <sys/types.h>

bool SeekFile(std::FILE* file, int64_t offset, int whence) {
    return file != nullptr && fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

int64_t TellFile(std::FILE* file) { return file != nullptr ? static_cast<int64_t>(ftello(file)) : -1; }

void StdioFile::Reset() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool StdioFile::Close() {
    std::FILE* file = file_;
    file_ = nullptr;
    if (file == nullptr) return false;
    const bool ok = std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

bool StdioFile::Seek(int64_t offset, int whence) { return SeekFile(file_, offset, whence); }

int64_t StdioFile::Tell() const { return TellFile(file_); }

int64_t StdioFile::Length() { return Seek(0, SEEK_END) ? Tell() : -1; }
