#pragma once
// FFmpeg's functions, reached through a table filled when an AVI file is
// first opened rather than when the program starts: loading FFmpeg's
// libraries, and the many codec libraries they bring along, costs about
// 30 ms, which image runs, GStreamer movies and `--version` never need.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <string>

// Every function the AVI reader calls, with the library that holds it.
#define RVX_FFMPEG_FUNCTIONS(F)                                                                   \
    F(avutil, av_channel_layout_copy)                                                             \
    F(avutil, av_channel_layout_default)                                                          \
    F(avutil, av_channel_layout_uninit)                                                           \
    F(avutil, av_dict_get)                                                                        \
    F(avutil, av_display_rotation_get)                                                            \
    F(avutil, av_frame_alloc)                                                                     \
    F(avutil, av_frame_free)                                                                      \
    F(avutil, av_frame_move_ref)                                                                  \
    F(avutil, av_frame_unref)                                                                     \
    F(avutil, av_freep)                                                                           \
    F(avutil, av_get_bits_per_pixel)                                                              \
    F(avutil, av_image_alloc)                                                                     \
    F(avutil, av_log_set_level)                                                                   \
    F(avutil, av_opt_set_bin)                                                                     \
    F(avutil, av_opt_set_int)                                                                     \
    F(avutil, av_pix_fmt_desc_get)                                                                \
    F(avutil, av_rescale_q)                                                                       \
    F(avutil, av_rescale_q_rnd)                                                                   \
    F(swresample, swr_alloc_set_opts2)                                                            \
    F(swresample, swr_convert)                                                                    \
    F(swresample, swr_free)                                                                       \
    F(swresample, swr_get_out_samples)                                                            \
    F(swresample, swr_init)                                                                       \
    F(swscale, sws_freeContext)                                                                   \
    F(swscale, sws_getCachedContext)                                                              \
    F(swscale, sws_scale)                                                                         \
    F(avcodec, av_get_bits_per_sample)                                                            \
    F(avcodec, av_packet_alloc)                                                                   \
    F(avcodec, av_packet_free)                                                                    \
    F(avcodec, av_packet_unref)                                                                   \
    F(avcodec, avcodec_alloc_context3)                                                            \
    F(avcodec, avcodec_descriptor_get)                                                            \
    F(avcodec, avcodec_find_decoder)                                                              \
    F(avcodec, avcodec_flush_buffers)                                                             \
    F(avcodec, avcodec_free_context)                                                              \
    F(avcodec, avcodec_open2)                                                                     \
    F(avcodec, avcodec_parameters_to_context)                                                     \
    F(avcodec, avcodec_receive_frame)                                                             \
    F(avcodec, avcodec_send_packet)                                                               \
    F(avformat, av_find_input_format)                                                             \
    F(avformat, av_read_frame)                                                                    \
    F(avformat, av_seek_frame)                                                                    \
    F(avformat, avformat_close_input)                                                             \
    F(avformat, avformat_find_stream_info)                                                        \
    F(avformat, avformat_open_input)                                                              \
    F(avformat, av_stream_get_side_data)                                                          \
    F(avfilter, avfilter_get_by_name)                                                             \
    F(avfilter, avfilter_graph_alloc)                                                             \
    F(avfilter, avfilter_graph_config)                                                            \
    F(avfilter, avfilter_graph_create_filter)                                                     \
    F(avfilter, avfilter_graph_free)                                                              \
    F(avfilter, avfilter_graph_parse_ptr)                                                         \
    F(avfilter, avfilter_inout_alloc)                                                             \
    F(avfilter, avfilter_inout_free)                                                              \
    F(avfilter, av_buffersink_get_frame)                                                          \
    F(avfilter, av_buffersrc_add_frame_flags)                                                     \
    F(avutil, av_strdup)                                                                          \
    F(avutil, av_frame_get_buffer)                                                                \
    F(avutil, av_frame_make_writable)

struct FfmpegApi {
#define RVX_FFMPEG_POINTER(library, name) decltype(&::name) name = nullptr;
    RVX_FFMPEG_FUNCTIONS(RVX_FFMPEG_POINTER)
#undef RVX_FFMPEG_POINTER
};

// Loads the libraries once (later calls give the first answer). False when
// one of them or one of its functions is missing; FfmpegLoadFailure then
// says which.
bool LoadFfmpeg();
const std::string& FfmpegLoadFailure();

// The table; only for code that runs after LoadFfmpeg returned true (a
// stream input that opened, and what it made).
const FfmpegApi& Ffmpeg();
