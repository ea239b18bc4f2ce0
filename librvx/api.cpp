// The C entry points: argument checks, and no C++ exception ever crosses
// into the caller (out of memory becomes RVX_ERROR_MEMORY).

#include <climits>
#include <memory>
#include <new>
#include <string>

#include "librvx/callback_source.h"
#include "librvx/movie.h"
#include "rvx/rvx.h"
#include "support/byte_source.h"

namespace {

template <typename F>
auto Guarded(F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return RVX_ERROR_MEMORY;
    } catch (...) {
        return RVX_ERROR_DAMAGED;
    }
}

int OpenSource(RvxMovie** m, std::unique_ptr<IByteSource> source, const RvxSettings* s) {
    RvxSettings settings;
    if (s) {
        settings = *s;
    } else {
        rvx_default_settings(&settings);
    }
    if (settings.threads < 0) return RVX_ERROR_ARGUMENT;
    auto movie = std::make_unique<RvxMovie>();
    const int status = movie->Open(std::move(source), settings);
    if (status < 0) return status;
    *m = movie.release();
    return 0;
}

bool StrideFits(ptrdiff_t stride, int width, int bytes_per_pixel) {
    return stride >= ptrdiff_t(width) * bytes_per_pixel || stride <= -ptrdiff_t(width) * bytes_per_pixel;
}

}  // namespace

extern "C" {

RVX_API const char* rvx_version(void) { return RVX_LIBRARY_VERSION; }

RVX_API void rvx_default_settings(RvxSettings* s) {
    if (!s) return;
    *s = RvxSettings{};
    s->threads = 0;
    s->strict = 0;
}

RVX_API int rvx_open_file(RvxMovie** m, const char* path, const RvxSettings* s) {
    if (!m) return RVX_ERROR_ARGUMENT;
    *m = nullptr;
    if (!path) return RVX_ERROR_ARGUMENT;
    return Guarded([&] {
        auto file = std::make_unique<CFileByteSource>();
        std::string ignored;
        if (!file->Open(path, &ignored)) return RVX_ERROR_OPEN;
        return OpenSource(m, std::move(file), s);
    });
}

RVX_API int rvx_open_memory(RvxMovie** m, const uint8_t* data, size_t size, const RvxSettings* s) {
    if (!m) return RVX_ERROR_ARGUMENT;
    *m = nullptr;
    if (!data && size) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return OpenSource(m, std::make_unique<CMemoryByteSource>(data, size), s); });
}

RVX_API int rvx_open_callbacks(RvxMovie** m, const RvxCallbacks* callbacks, const RvxSettings* s) {
    if (!m) return RVX_ERROR_ARGUMENT;
    *m = nullptr;
    if (!callbacks || !callbacks->read || callbacks->size < 0) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return OpenSource(m, std::make_unique<CCallbackByteSource>(*callbacks), s); });
}

RVX_API int rvx_get_info(const RvxMovie* m, RvxInfo* info) {
    if (!m || !info) return RVX_ERROR_ARGUMENT;
    m->GetInfo(info);
    return 0;
}

RVX_API int rvx_read_picture(RvxMovie* m, uint8_t* rgba, ptrdiff_t stride) {
    if (!m || !rgba) return RVX_ERROR_ARGUMENT;
    RvxInfo info;
    m->GetInfo(&info);
    if (!StrideFits(stride, info.width, 4)) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return m->ReadPicture(rgba, stride); });
}

RVX_API int rvx_read_planes(RvxMovie* m, const RvxPlanes* planes) {
    if (!m || !planes) return RVX_ERROR_ARGUMENT;
    RvxInfo info;
    m->GetInfo(&info);
    for (int p = 0; p < 4; ++p) {
        if (planes->data[p] && !StrideFits(planes->stride[p], info.width, 1)) return RVX_ERROR_ARGUMENT;
    }
    return Guarded([&] { return m->ReadPlanes(*planes); });
}

RVX_API int rvx_plane_colours(const RvxMovie* m) { return m ? m->PlaneColours() : RVX_ERROR_ARGUMENT; }

RVX_API int rvx_get_picture_info(const RvxMovie* m, RvxPictureInfo* p) {
    if (!m || !p) return RVX_ERROR_ARGUMENT;
    return m->GetPictureInfo(p);
}

RVX_API int rvx_seek(RvxMovie* m, int64_t frame) {
    if (!m) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return m->Seek(frame); });
}

RVX_API int64_t rvx_read_sound(RvxMovie* m, int16_t* pcm, int64_t max_frames) {
    if (!m || !pcm || max_frames < 0) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return m->ReadSound(pcm, max_frames); });
}

RVX_API int rvx_seek_sound(RvxMovie* m, int64_t sample_frame) {
    if (!m) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return m->SeekSound(sample_frame); });
}

RVX_API int rvx_verify(RvxMovie* m) {
    if (!m) return RVX_ERROR_ARGUMENT;
    return Guarded([&] { return m->Verify(); });
}

RVX_API void rvx_close(RvxMovie** m) {
    if (!m) return;
    delete *m;
    *m = nullptr;
}

}  // extern "C"
