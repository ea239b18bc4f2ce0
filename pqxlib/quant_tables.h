#pragma once
// Quantiser step tables shared by the still-image and the video codecs, and
// the check every quantising transform applies to a table set.
// All tables are 64 steps, row by row (entry 8*r + c for coefficient (r, c)).

#include <cstdint>

namespace _pqxlib_ {

// Still images: luminance and chrominance tables of ITU-T T.81 Annex K (K.1,
// K.2), and all ones for the alpha channel.
extern const uint8_t kJpegLuminanceSteps[64];
extern const uint8_t kJpegChrominanceSteps[64];
extern const uint8_t kUnitSteps[64];

// The still-image table set in channel order: Y, Cb, Cr, alpha.
void StillImageQuantTables(const uint8_t* tables[4]);

// Video: the matrix pairs picked by the matrix selector ("MPEG標準" = 1,
// "CG動画" = 2). Intra matrices serve I frames, inter matrices P and B frames.
extern const uint8_t kMpegIntraMatrix[64];  // default intra matrix of ISO/IEC 13818-2
extern const uint8_t kMpegInterMatrix[64];  // default non-intra matrix of ISO/IEC 14496-2
extern const uint8_t kCgIntraMatrix[64];
extern const uint8_t kCgInterMatrix[64];

// One step for every coefficient, intra and inter alike: the error spreads
// evenly over the frequencies, which suits a measure like PSNR.
extern const uint8_t kFlatMatrix[64];

// Fills intra and inter for a selector: 2 gives the CG pair, 4 the flat pair,
// 3 leaves both untouched (the caller keeps the matrices it already has) and
// returns false, every other value gives the MPEG pair.
bool VideoQuantMatrices(uint16_t selector, uint8_t intra[64], uint8_t inter[64]);

// A table set is usable when the array and its four tables exist and no step
// is 0 (the forward transforms divide by the steps).
bool QuantTablesUsable(const uint8_t* const tables[4]);

}  // namespace _pqxlib_
