#include "app/output_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

OutputCheck CheckOutputFile(const std::string& path) {
    if (path.empty()) return OutputCheck::kEmpty;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return OutputCheck::kCannotCreate;
        return ::access(path.c_str(), W_OK) == 0 ? OutputCheck::kExists : OutputCheck::kCannotCreate;
    }
    // Nothing there: the folder must take a new file. The probe is removed at
    // once; only this process could have made it (O_EXCL).
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return OutputCheck::kCannotCreate;
    ::close(fd);
    ::unlink(path.c_str());
    return OutputCheck::kAccepted;
}
