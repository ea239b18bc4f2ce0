// The loadable plug-in's descriptor.

#include <gst/gst.h>

#include "gst/plugin_elements.h"

#ifndef PACKAGE
#define PACKAGE "rvx-encoder"
#endif

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, rvx,
                  "Plays .rvx movies: type finder, demuxer, video and sound decoders", RegisterRvxElements,
                  RVX_PLUGIN_VERSION, "unknown", "rvx-encoder", "https://localhost/rvx-encoder")
