#pragma once
// snxaudiodec: the SNX sound blocks of an .rvx movie as interleaved signed
// 16-bit samples, sample for sample what rvxdec writes with --wav. After a
// discontinuity (a seek) the first block of a transform mode only primes
// the overlap and gives no samples; the demuxer starts one block early.

#include <gst/gst.h>

G_BEGIN_DECLS

#define SNX_TYPE_AUDIO_DECODER (snx_audio_decoder_get_type())
GType snx_audio_decoder_get_type(void);

G_END_DECLS
