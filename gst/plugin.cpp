// The plug-in's entry point: every element at primary rank, so that
// decodebin, playbin and uridecodebin pick them on their own.

#include <gst/gst.h>

#include "gst/rvx_demux.h"
#include "gst/rvx_typefind.h"
#include "gst/rvx_video_decoder.h"
#include "gst/snx_audio_decoder.h"

#ifndef PACKAGE
#define PACKAGE "rvx-encoder"
#endif

static gboolean rvx_plugin_init(GstPlugin* plugin) {
    return RegisterRvxTypeFinder(plugin) &&
           gst_element_register(plugin, "rvxdemux", GST_RANK_PRIMARY, RVX_TYPE_DEMUX) &&
           gst_element_register(plugin, "rvxvideodec", GST_RANK_PRIMARY, RVX_TYPE_VIDEO_DECODER) &&
           gst_element_register(plugin, "snxaudiodec", GST_RANK_PRIMARY, SNX_TYPE_AUDIO_DECODER);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, rvx, "Plays .rvx movies: type finder, demuxer, "
                  "video and sound decoders", rvx_plugin_init, RVX_PLUGIN_VERSION, "unknown", "rvx-encoder",
                  "https://localhost/rvx-encoder")
