#pragma once
// rvxvideodec: the coded pictures of an .rvx movie as B, G, R, A (alpha
// movies) or B, G, R, x rows, exactly as rvxdec shows them, in display
// order. Groups of pictures are decoded on several threads at once (the
// "threads" property). A frame the demuxer marks as damaged is rebuilt from its nearest
// earlier reference, so later frames still predict from a whole picture,
// and is dropped: the picture before it stays on screen.

#include <gst/gst.h>

G_BEGIN_DECLS

#define RVX_TYPE_VIDEO_DECODER (rvx_video_decoder_get_type())
GType rvx_video_decoder_get_type(void);

G_END_DECLS
