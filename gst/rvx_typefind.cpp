#include "gst/rvx_typefind.h"

#include <cstring>

#include "container/rvx_layout.h"
#include "gst/stream_caps.h"

namespace {

void FindRvx(GstTypeFind* find, gpointer) {
    const guint8* bytes = gst_type_find_peek(find, 0, sizeof rvx_layout::kMagic);
    if (bytes && std::memcmp(bytes, rvx_layout::kMagic, sizeof rvx_layout::kMagic) == 0) {
        gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_MAXIMUM, kMovieCaps);
    }
}

}  // namespace

gboolean RegisterRvxTypeFinder(GstPlugin* plugin) {
    GstCaps* caps = gst_caps_new_empty_simple(kMovieCaps);
    const gboolean registered =
        gst_type_find_register(plugin, "video/x-rvx", GST_RANK_PRIMARY, FindRvx, "rvx", caps, nullptr, nullptr);
    gst_caps_unref(caps);
    return registered;
}
