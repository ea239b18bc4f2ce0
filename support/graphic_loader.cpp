#include "support/graphic_loader.h"

#include "support/allocation_failure.h"
#include "support/cpu_features.h"
#include "support/image_codec.h"
#include "support/pixel_convert.h"
#include "support/pixel_format.h"
#include "support/png_channel_order.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace {

std::atomic<const StillImageCodec*> g_still_image_codec{nullptr};

// Whole files are read into memory; anything larger than this cannot be an
// image the loader would accept.
constexpr int64_t kMaxImageFileBytes = int64_t{1} << 31;

uint32_t BitmapFormat(uint32_t bit_count) {
    switch (bit_count) {
        case 8: return PF_A8;
        case 16: return PF_R5G6B5;
        case 24: return PF_B8G8R8;
        case 32: return PF_A8R8G8B8;
        default: return 0;
    }
}

}  // namespace

void SetStillImageCodec(const StillImageCodec* codec) { g_still_image_codec.store(codec); }

const StillImageCodec* GetStillImageCodec() { return g_still_image_codec.load(); }

CGraphicLoader::CGraphicLoader() : reader_(PlatformFileReader()) {}

CGraphicLoader::~CGraphicLoader() = default;

int32_t CGraphicLoader::LoadFile(const std::string& name) {
    failure_.clear();
    if (!reader_.open || !reader_.size || !reader_.read || !reader_.close) return 0;
    const FileHandle file = reader_.open(name.c_str(), kFileAccessRead, kFileShareRead,
                                         kFileOpenExisting);
    if (file == 0) {
        failure_ = "the file could not be opened";
        return 0;
    }
    const int64_t size = reader_.size(file);
    if (size < 0 || size > kMaxImageFileBytes) {
        reader_.close(file);
        failure_ = "the file is too large for an image";
        return 0;
    }
    const bool read = ReadWholeFile(file, static_cast<std::size_t>(size));
    reader_.close(file);
    if (!read) return 0;
    return Decode(file_bytes_.get(), static_cast<std::size_t>(size));
}

bool CGraphicLoader::ReadWholeFile(FileHandle file, std::size_t size) {
    // The buffer of the last file serves again while it is big enough and
    // not more than twice what is needed, so a run of like files reads into
    // one buffer and a single big file leaves no big buffer behind.
    if (!file_bytes_ || file_capacity_ < size + 1 || file_capacity_ > 2 * (size + 1)) {
        file_bytes_.reset();
        file_capacity_ = 0;
        file_bytes_.reset(new (std::nothrow) uint8_t[size + 1]);
        if (!file_bytes_) {
            NoteAllocationFailure();
            failure_ = "out of memory";
            return false;
        }
        file_capacity_ = size + 1;
    }
    // A short read would leave part of the buffer undefined: only a file read
    // to its stated size is decoded.
    std::size_t done = 0;
    while (done < size) {
        const std::size_t want = std::min<std::size_t>(size - done, 1u << 30);
        uint32_t got = 0;
        if (!reader_.read(file, file_bytes_.get() + done, static_cast<uint32_t>(want), &got, nullptr) ||
            got == 0) {
            break;
        }
        done += got;
    }
    if (done != size) {
        failure_ = "the file could not be read to its end";
        return false;
    }
    return true;
}

int32_t CGraphicLoader::Decode(const void* data, std::size_t size) {
    FreeImage();
    failure_.clear();
    if (data == nullptr) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    TakeAllocationFailure();
    const StillImageCodec* still = GetStillImageCodec();
    const ImageCodec* codecs[] = {&PngImageCodec(), still ? &still->reader : nullptr,
                                  &BmpImageCodec()};
    for (const ImageCodec* codec : codecs) {
        if (codec == nullptr || !codec->probe(bytes, size)) continue;
        BitmapInfoHeader header;
        if (!codec->read_header(&header, bytes, size)) continue;
        if (codec == &PngImageCodec()) {
            bool quick = false;
            try {
                quick = png_rows_.Decode(bytes, size);
            } catch (const std::bad_alloc&) {
                // As with any codec: a picture that could not be had is a
                // failed decode, not a reason to try the slower way.
                NoteAllocationFailure();
                continue;
            }
            if (quick) {
                header.width = static_cast<int32_t>(png_rows_.Width());
                header.height = static_cast<int32_t>(png_rows_.Height());
                header.bit_count = static_cast<uint16_t>(png_rows_.BytesPerPixel() * 8);
                header_ = header;
                holds_png_rows_ = true;
                return 1;
            }
        }
        // The loader never throws: a decode that ran out of memory is a
        // failed load that says so.
        std::unique_ptr<DibBitmap> bitmap;
        try {
            bitmap = codec->decode(bytes, size);
        } catch (const std::bad_alloc&) {
            NoteAllocationFailure();
        }
        if (!bitmap) {
            const char* why = codec->refusal ? codec->refusal(bytes, size) : nullptr;
            if (why != nullptr && failure_.empty()) failure_ = why;
            continue;
        }
        // Sizes always describe the bitmap actually held, whatever the file said.
        header.width = bitmap->Width();
        header.height = bitmap->Height();
        header.bit_count = static_cast<uint16_t>(bitmap->BitCount());
        header_ = header;
        bitmap_ = std::move(bitmap);
        failure_.clear();
        return 1;
    }
    header_ = BitmapInfoHeader{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // A bitmap that could not be had says more than any format's complaint.
    if (TakeAllocationFailure()) {
        failure_ = "out of memory";
        NoteAllocationFailure();  // still there for whoever reports the load
    }
    return 0;
}

int32_t CGraphicLoader::GetSize(int32_t* width, int32_t* height) {
    if (width) *width = header_.width;
    if (height) *height = header_.height;
    return 1;
}

int32_t CGraphicLoader::GetBitCount(int32_t* bits) {
    if (bits) *bits = header_.bit_count;
    return 1;
}

bool CGraphicLoader::MakeBitmap() {
    if (bitmap_ || !holds_png_rows_) return bitmap_ != nullptr;
    try {
        bitmap_ = BitmapFromPngRows(png_rows_);
    } catch (const std::bad_alloc&) {
        NoteAllocationFailure();
    }
    return bitmap_ != nullptr;
}

const DibBitmap* CGraphicLoader::Bitmap() {
    MakeBitmap();
    return bitmap_.get();
}

int32_t CGraphicLoader::Draw(SurfaceDesc* target) {
    if (!MakeBitmap() || target == nullptr || target->bits == nullptr) return 0;
    const uint32_t format = BitmapFormat(bitmap_->BitCount());
    if (format == 0 || format != target->format) return 0;
    const int32_t width = std::min(bitmap_->Width(), target->width);
    const int32_t height = std::min(bitmap_->Height(), target->height);
    for (int32_t y = 0; y < height; ++y) {
        ConvertRow(target->bits + static_cast<std::ptrdiff_t>(y) * target->pitch, format,
                   bitmap_->TopRow(y), format, width);
    }
    return 1;
}

int32_t CGraphicLoader::CopyTo(const SurfaceDesc* surface) {
    if (surface == nullptr || surface->bits == nullptr) return 0;
    if (holds_png_rows_ && !bitmap_ && (surface->format == PF_X8R8G8B8 || surface->format == PF_A8R8G8B8)) {
        static const ChannelSwapRow to32_from24 = PngRowTo32BitsFor(ProcessorFeatures(), 3);
        static const ChannelSwapRow to32_from32 = PngRowTo32BitsFor(ProcessorFeatures(), 4);
        const ChannelSwapRow move = png_rows_.BytesPerPixel() == 3 ? to32_from24 : to32_from32;
        const uint32_t width = std::min(png_rows_.Width(), static_cast<uint32_t>(std::max(surface->width, 0)));
        const uint32_t height = std::min(png_rows_.Height(), static_cast<uint32_t>(std::max(surface->height, 0)));
        for (uint32_t i = 0; i < height; ++i) {
            move(surface->bits + static_cast<std::ptrdiff_t>(i) * surface->pitch, png_rows_.Row(i), width);
        }
        return 1;
    }
    if (!MakeBitmap()) return 0;
    const uint32_t source_format = BitmapFormat(bitmap_->BitCount());
    if (source_format == 0) return 0;
    if (source_format == PF_A8 && surface->format != PF_A8) return 0;
    // Reporting success for a pair without a conversion would hand the caller
    // a surface of stale pixels as if it held the image.
    if (RowConverterFor(source_format, surface->format) == nullptr) return 0;
    const int32_t width = std::min(bitmap_->Width(), surface->width);
    const int32_t height = std::min(bitmap_->Height(), surface->height);
    for (int32_t i = 0; i < height; ++i) {
        ConvertRow(surface->bits + static_cast<std::ptrdiff_t>(i) * surface->pitch, surface->format,
                   bitmap_->TopRow(i), source_format, width);
    }
    return 1;
}

int32_t CGraphicLoader::FreeImage() {
    bitmap_.reset();
    holds_png_rows_ = false;
    return 1;
}

int32_t CGraphicLoader::SetFileReader(const FileReaderTable* table) {
    if (table == nullptr) return 0;
    reader_ = *table;
    return 1;
}

int32_t CGraphicLoader::GetFileReader(FileReaderTable* table) {
    if (table == nullptr) return 0;
    *table = reader_;
    return 1;
}

int32_t SaveSurface(int32_t kind, const std::string& file_name, const SurfaceDesc& surface,
                    const void* extra, uint32_t extra_count) {
    if (surface.bits == nullptr || surface.width <= 0 || surface.height <= 0) return 0;
    if (kind != kSaveBMP && kind != kSavePNG && kind != kSavePQX) return 0;
    const StillImageCodec* still = GetStillImageCodec();
    if (kind == kSavePQX && (still == nullptr || still->write == nullptr)) return 0;

    const uint32_t format = surface.format == PF_A8                   ? PF_A8
                            : PixelFormatHasAlpha(surface.format) ? PF_A8R8G8B8
                                                                  : PF_B8G8R8;
    // Without a conversion the file would hold a blank picture reported as saved.
    if (RowConverterFor(surface.format, format) == nullptr) return 0;
    BitmapInfoHeader header;
    header.width = surface.width;
    header.height = surface.height;
    header.bit_count = static_cast<uint16_t>(PixelFormatBits(format));
    header.x_pels_per_meter = header.y_pels_per_meter = kDefaultPixelsPerMetre;
    header.clr_used = format == PF_A8 ? 256 : 0;
    std::unique_ptr<DibBitmap> bitmap =
        DibBitmap::Create(header, format == PF_A8 ? GreyColourTable(8) : std::vector<uint32_t>{});
    if (!bitmap) return 0;
    for (int32_t i = 0; i < surface.height; ++i) {
        ConvertRow(bitmap->TopRow(i), format,
                   surface.bits + static_cast<std::ptrdiff_t>(i) * surface.pitch, surface.format,
                   surface.width);
    }
    switch (kind) {
        case kSaveBMP: return WriteBMP(file_name, *bitmap);
        case kSavePNG: return WritePNG(file_name, *bitmap, static_cast<const char*>(extra), extra_count);
        default: return still->write(file_name, *bitmap, extra, extra_count);
    }
}
