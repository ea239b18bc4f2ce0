#include "jobs/ffmpeg_api.h"

#include <dlfcn.h>

namespace {

// The sonames this build's headers belong to: another major version could
// lay out the structures differently.
#define RVX_STRING(x) #x
#define RVX_SONAME(name, major) "lib" name ".so." RVX_STRING(major)
constexpr const char* kAvutil = RVX_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR);
constexpr const char* kSwresample = RVX_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR);
constexpr const char* kSwscale = RVX_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR);
constexpr const char* kAvcodec = RVX_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR);
constexpr const char* kAvformat = RVX_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR);
constexpr const char* kAvfilter = RVX_SONAME("avfilter", LIBAVFILTER_VERSION_MAJOR);
#undef RVX_SONAME
#undef RVX_STRING

struct Loaded {
    FfmpegApi api;
    bool ok = false;
    std::string failure;
};

Loaded Load() {
    Loaded loaded;
    // Opened in dependency order and never closed: decoders may keep
    // pointers into them until the program ends.
    struct Library {
        const char* soname;
        void* handle;
    } avutil{kAvutil, nullptr}, swresample{kSwresample, nullptr}, swscale{kSwscale, nullptr},
        avcodec{kAvcodec, nullptr}, avformat{kAvformat, nullptr}, avfilter{kAvfilter, nullptr};
    for (Library* library : {&avutil, &swresample, &swscale, &avcodec, &avformat, &avfilter}) {
        library->handle = dlopen(library->soname, RTLD_NOW | RTLD_LOCAL);
        if (!library->handle) {
            const char* why = dlerror();
            loaded.failure = std::string("FFmpeg's library ") + library->soname + " could not be loaded" +
                             (why ? std::string(" (") + why + ")" : std::string());
            return loaded;
        }
    }
#define RVX_FFMPEG_RESOLVE(library, name)                                                        \
    loaded.api.name = reinterpret_cast<decltype(&::name)>(dlsym(library.handle, #name));         \
    if (!loaded.api.name) {                                                                       \
        loaded.failure = std::string("FFmpeg's library ") + library.soname + " has no " #name;    \
        return loaded;                                                                            \
    }
    RVX_FFMPEG_FUNCTIONS(RVX_FFMPEG_RESOLVE)
#undef RVX_FFMPEG_RESOLVE
    loaded.ok = true;
    return loaded;
}

const Loaded& Library() {
    static const Loaded loaded = Load();
    return loaded;
}

}  // namespace

bool LoadFfmpeg() { return Library().ok; }

const std::string& FfmpegLoadFailure() { return Library().failure; }

const FfmpegApi& Ffmpeg() { return Library().api; }
