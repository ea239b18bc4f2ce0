#include "gst/plugin_elements.h"

#include "gst/rvx_demux.h"
#include "gst/rvx_typefind.h"
#include "gst/rvx_video_decoder.h"
#include "gst/snx_audio_decoder.h"

// Every element at primary rank, so that decodebin, playbin and
// uridecodebin pick them on their own.
gboolean RegisterRvxElements(GstPlugin* plugin) {
    return RegisterRvxTypeFinder(plugin) &&
           gst_element_register(plugin, "rvxdemux", GST_RANK_PRIMARY, RVX_TYPE_DEMUX) &&
           gst_element_register(plugin, "rvxvideodec", GST_RANK_PRIMARY, RVX_TYPE_VIDEO_DECODER) &&
           gst_element_register(plugin, "snxaudiodec", GST_RANK_PRIMARY, SNX_TYPE_AUDIO_DECODER);
}
