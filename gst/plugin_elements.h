#pragma once
// Registers the plug-in's type finder and elements with a plug-in: the
// loadable module's entry point, and a program that links the elements in
// and registers them statically (the fuzz target).

#include <gst/gst.h>

gboolean RegisterRvxElements(GstPlugin* plugin);
