#include "pqxlib/pqx_image_codec.h"

#include "pqxlib/pqx_read.h"
#include "pqxlib/pqx_write.h"
#include "support/image_codec.h"
#include "support/pixel_format.h"

#include <vector>

namespace _pqxlib_ {

namespace {

constexpr uint16_t kSaveMethod = kMethodDctHigh;

bool Probe(const uint8_t* data, std::size_t size) {
    CPQXRead reader;
    return reader.Check(data, size) != 0;
}

bool ReadHeader(BitmapInfoHeader* header, const uint8_t* data, std::size_t size) {
    CPQXRead reader;
    int32_t width = 0, height = 0, bits = 0;
    if (!reader.Check(data, size) || !reader.GetInfo(&width, &height, &bits)) return false;
    *header = BitmapInfoHeader{};
    header->width = width;
    header->height = height;
    header->bit_count = static_cast<uint16_t>(bits);
    const int64_t image = RowPitch(width, static_cast<uint32_t>(bits)) * height;
    header->size_image = image > UINT32_MAX ? 0 : static_cast<uint32_t>(image);
    return true;
}

std::unique_ptr<DibBitmap> DecodeImage(const uint8_t* data, std::size_t size) {
    CPQXRead reader;
    int32_t width = 0, height = 0, bits = 0;
    if (!reader.Check(data, size) || !reader.GetInfo(&width, &height, &bits)) return nullptr;
    BitmapInfoHeader header;
    header.width = width;
    header.height = height;
    header.bit_count = static_cast<uint16_t>(bits);
    header.clr_used = bits <= 8 ? (1u << bits) : 0;
    auto bitmap = DibBitmap::Create(header, bits <= 8 ? GreyColourTable(static_cast<uint32_t>(bits))
                                                      : std::vector<uint32_t>{});
    if (!bitmap) return nullptr;
    std::vector<uint8_t*> rows(static_cast<std::size_t>(height));
    for (int32_t i = 0; i < height; ++i) rows[static_cast<std::size_t>(i)] = bitmap->TopRow(i);
    reader.SetRows(rows.data());
    if (!reader.Decode()) return nullptr;
    return bitmap;
}

int32_t WriteImage(const std::string& file_name, const DibBitmap& source, const void* trailer,
                   uint32_t trailer_size) {
    const DibBitmap* bitmap = &source;
    std::unique_ptr<DibBitmap> widened;
    uint16_t layout;
    switch (source.BitCount()) {
        case 8: layout = kAlpha8; break;  // a single plane
        case 24: layout = 9; break;
        case 32: layout = kAlpha8 | 9; break;
        case 16: {
            widened = WidenTo24Bits(source);
            if (!widened) return 0;
            bitmap = widened.get();
            layout = 9;
            break;
        }
        default: return 0;
    }
    std::vector<const uint8_t*> rows(static_cast<std::size_t>(bitmap->Height()));
    for (int32_t i = 0; i < bitmap->Height(); ++i) rows[static_cast<std::size_t>(i)] = bitmap->TopRow(i);
    CPQXWrite writer;
    if (!writer.SetPicture(static_cast<uint32_t>(bitmap->Width()),
                           static_cast<uint32_t>(bitmap->Height()), kSaveMethod | layout)) {
        return 0;
    }
    writer.SetResolution(kDefaultPixelsPerMetre, kDefaultPixelsPerMetre);
    if (trailer != nullptr) writer.SetTrailer(trailer, trailer_size);
    writer.SetRows(rows.data());
    return writer.Save(file_name);
}

const StillImageCodec kCodec{{Probe, ReadHeader, DecodeImage}, WriteImage};

}  // namespace

void InstallPQXImageCodec() { SetStillImageCodec(&kCodec); }

}  // namespace _pqxlib_
