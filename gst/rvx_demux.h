#pragma once
// rvxdemux: splits an .rvx movie into its coded video frames and, when the
// movie has sound, its SNX blocks. The container reader checks the header,
// index and records before anything is pushed; a movie it refuses ends with
// an error message. Pull mode when upstream can seek (a file); otherwise the
// pushed bytes are kept until the stream ends and played from memory, since
// the reader's checks need the whole frame section and the sound track lies
// at the end of the file.

#include <gst/gst.h>

G_BEGIN_DECLS

#define RVX_TYPE_DEMUX (rvx_demux_get_type())
GType rvx_demux_get_type(void);

G_END_DECLS
