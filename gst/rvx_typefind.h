#pragma once
// Recognises .rvx movies by their magic at offset 0 (and suggests them for
// the .rvx extension), so decodebin finds the demuxer.

#include <gst/gst.h>

gboolean RegisterRvxTypeFinder(GstPlugin* plugin);
