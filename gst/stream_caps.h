#pragma once
// The media types the plug-in's elements pass between them. The demuxer's
// video pad carries one coded frame per buffer: its 12-byte record as stored
// (type word, payload length, CRC) followed by the payload, the buffer
// offset holding the picture's display number. The sound pad carries one
// coded SNX block per buffer, the offset holding the block's index.

inline constexpr char kMovieCaps[] = "video/x-rvx";
inline constexpr char kFramesCaps[] = "video/x-rvx-frames";
inline constexpr char kSoundCaps[] = "audio/x-snx";

// Video caps fields besides width, height and framerate. codec_data holds the
// intra then the inter quantisation matrix (64 bytes each).
inline constexpr char kFieldFormatWord[] = "format-word";
inline constexpr char kFieldGopLength[] = "gop-length";
inline constexpr char kFieldAlpha[] = "alpha";
// Sound caps fields besides rate and channels. codec_data holds the 96-byte
// SNX header.
inline constexpr char kFieldMethod[] = "method";
inline constexpr char kFieldMode[] = "mode";
