// A run of images (PNG, still image, BMP), decoded one after another the way
// an image job does: loaders and surfaces keep their memory from picture to
// picture. The input is cut into files as image_run_framing.h says.
//
// Every file is first decoded by a fresh loader into a fresh surface; then
//   - one loader and one surface take the files in order (LoadMemory), so
//     every order of pictures the mutations make is met by one loader;
//   - two slots (loader + surface) take the files in turn, each slot on a
//     thread of its own, as the job's two loader threads decode into their
//     slots, each file read by name as the job reads it (LoadFile; runs of
//     three files or more).
// Besides libFuzzer's byte mutations, the mutators below move, repeat, drop
// and splice whole files, so new orders of known files are tried.
//
// Each reused decode must give what the fresh one gave: success or failure,
// the loader's size, bit count and reason, and the surface's format, size
// and pixel bytes. Anything else is state of one picture leaking into the
// next, and stops the run.

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_input.h"
#include "image_run_framing.h"
#include "pqxlib/pqx_image_codec.h"
#include "support/graphic_loader.h"
#include "support/image_codec.h"
#include "support/pixel_format.h"
#include "support/surface.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    _pqxlib_::InstallPQXImageCodec();
    return 0;
}

namespace {

// Pictures larger than this are left out of the run, and so is any picture
// once the run holds this many pixels: each is decoded three times.
constexpr uint64_t kMostPixels = uint64_t(16) << 20;

struct Loaded {
    bool ok = false;
    int32_t loader_width = 0, loader_height = 0, loader_bits = 0;
    std::string reason;
    uint32_t format = 0;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;  // the pixel bytes of every row, no row ends
};

struct Slot {
    CGraphicLoader loader;
    CPlaneSurface surface;
    Slot() { surface.SetDefaultFormats(PF_X8R8G8B8, PF_A8R8G8B8); }
};

struct File {
    std::vector<uint8_t> bytes;
    const std::string* path = nullptr;
    Loaded fresh;
};

void Expect(bool same, const char* way, std::size_t file, const char* what) {
    if (same) return;
    std::fprintf(stderr, "image_run: %s, file %zu: %s differs from a fresh loader's\n", way, file, what);
    __builtin_trap();
}

bool LoadMemory(Slot& slot, const std::vector<uint8_t>& file) {
    static const uint8_t kNothing = 0;
    const uint8_t* data = file.empty() ? &kNothing : file.data();
    return slot.surface.LoadMemory("picture", data, file.size(), &slot.loader) != 0;
}

bool LoadFile(Slot& slot, const std::string& path) { return slot.surface.LoadFile(path, &slot.loader) != 0; }

// What a fresh slot made of the file.
Loaded Fresh(const std::vector<uint8_t>& file) {
    Slot slot;
    Loaded result;
    result.ok = LoadMemory(slot, file);
    slot.loader.GetSize(&result.loader_width, &result.loader_height);
    slot.loader.GetBitCount(&result.loader_bits);
    result.reason = slot.loader.FailureReason();
    if (!result.ok) return result;
    if (!slot.surface.Lock()) {
        std::fprintf(stderr, "image_run: a fresh surface loaded without pixels\n");
        __builtin_trap();
    }
    const SurfaceDesc& d = slot.surface.Desc();
    result.format = d.format;
    result.width = d.width;
    result.height = d.height;
    const std::size_t row_bytes = std::size_t(d.width) * PixelFormatBytes(d.format);
    result.pixels.reserve(row_bytes * std::size_t(d.height));
    for (int32_t y = 0; y < d.height; ++y) {
        const uint8_t* row = d.bits + std::ptrdiff_t(y) * d.pitch;
        result.pixels.insert(result.pixels.end(), row, row + row_bytes);
    }
    slot.surface.Unlock();
    return result;
}

// The slot after a load of the file must hold what a fresh one made of it.
void ExpectSame(bool ok, Slot& slot, const Loaded& want, const char* way, std::size_t file) {
    Expect(ok == want.ok, way, file, "success");
    int32_t width = 0, height = 0, bits = 0;
    slot.loader.GetSize(&width, &height);
    slot.loader.GetBitCount(&bits);
    Expect(width == want.loader_width && height == want.loader_height, way, file, "the loader's size");
    Expect(bits == want.loader_bits, way, file, "the loader's bit count");
    Expect(slot.loader.FailureReason() == want.reason, way, file, "the failure reason");
    if (!ok) return;
    Expect(slot.surface.Lock() != 0, way, file, "a surface with pixels");
    const SurfaceDesc& d = slot.surface.Desc();
    Expect(d.format == want.format, way, file, "the surface format");
    Expect(d.width == want.width && d.height == want.height, way, file, "the surface size");
    const std::size_t row_bytes = std::size_t(d.width) * PixelFormatBytes(d.format);
    for (int32_t y = 0; y < d.height; ++y) {
        Expect(std::memcmp(d.bits + std::ptrdiff_t(y) * d.pitch, want.pixels.data() + std::size_t(y) * row_bytes,
                           row_bytes) == 0,
               way, file, "the pixels");
    }
    slot.surface.Unlock();
}

// The CRC of every whole chunk of a PNG file, made right.
void RepairCrcs(std::vector<uint8_t>& file) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return;
    std::size_t at = 8;
    while (file.size() - at >= 12) {
        const uint32_t length = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 |
                                uint32_t(file[at + 2]) << 8 | file[at + 3];
        if (length > file.size() - at - 12) return;
        const uLong crc = crc32(0, file.data() + at + 4, uInt(length) + 4);
        for (int k = 0; k < 4; ++k) file[at + 8 + length + k] = uint8_t(crc >> (24 - 8 * k));
        at += std::size_t(length) + 12;
    }
}

// The most pixels any format's header claims for the file, before anything
// is decoded.
uint64_t ClaimedPixels(const std::vector<uint8_t>& file) {
    if (file.empty()) return 0;
    const StillImageCodec* still = GetStillImageCodec();
    const ImageCodec* codecs[] = {&PngImageCodec(), still ? &still->reader : nullptr, &BmpImageCodec()};
    uint64_t most = 0;
    for (const ImageCodec* codec : codecs) {
        if (codec == nullptr || !codec->probe(file.data(), file.size())) continue;
        BitmapInfoHeader header;
        if (!codec->read_header(&header, file.data(), file.size())) continue;
        const uint64_t pixels = uint64_t(std::llabs(header.width)) * uint64_t(std::llabs(header.height));
        if (pixels > most) most = pixels;
    }
    return most;
}

// One memory file per place in the run, read by name as the job reads its
// files.
const std::string& WriteFile(std::size_t place, const std::vector<uint8_t>& bytes) {
    static fuzz_input::MemoryFile files[image_run::kMostFiles];
    return files[place].Write(bytes.data(), bytes.size());
}

// The job's two loader threads, each with a slot of its own: they take the
// files in turn, the first thread the even places of the run, the second the
// odd ones, and decode at the same time. They stay from run to run, waiting
// for the next.
class LoaderThreads {
public:
    LoaderThreads() {
        for (std::size_t t = 0; t < 2; ++t) std::thread([this, t] { Loop(t); }).detach();
    }

    void Decode(const std::vector<File>& run, Slot (&slots)[2]) {
        std::unique_lock<std::mutex> hold(lock_);
        run_ = &run;
        slots_ = slots;
        busy_ = 2;
        ++round_;
        wake_.notify_all();
        done_.wait(hold, [this] { return busy_ == 0; });
    }

private:
    void Loop(std::size_t t) {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [&] { return round_ != seen; });
            seen = round_;
            const std::vector<File>& run = *run_;
            Slot& slot = slots_[t];
            hold.unlock();
            for (std::size_t n = t; n < run.size(); n += 2)
                ExpectSame(LoadFile(slot, *run[n].path), slot, run[n].fresh, "two loader threads", n);
            hold.lock();
            if (--busy_ == 0) done_.notify_one();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_, done_;
    const std::vector<File>* run_ = nullptr;
    Slot* slots_ = nullptr;
    int busy_ = 0;
    uint64_t round_ = 0;
};

// The run written back into libFuzzer's buffer; 0 when it does not fit.
size_t Store(const std::vector<image_run::Part>& parts, uint8_t* out, size_t max_size) {
    const std::vector<uint8_t> joined = image_run::Join(parts);
    if (joined.empty() || joined.size() > max_size) return 0;
    std::memcpy(out, joined.data(), joined.size());
    return joined.size();
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

// Order matters in a run, so besides libFuzzer's own byte mutations (on the
// whole input, or on one file only) files are swapped, repeated, dropped and
// moved whole.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned int seed) {
    std::minstd_rand random(seed);
    const unsigned pick = random() % 16;
    std::vector<image_run::Part> parts = image_run::Split(data, size);
    if (pick < 6 || parts.empty()) return LLVMFuzzerMutate(data, size, max_size);
    const std::size_t i = random() % parts.size(), j = random() % parts.size();
    switch (pick) {
        case 6: std::swap(parts[i], parts[j]); break;
        case 7:
            if (parts.size() < image_run::kMostFiles) {
                image_run::Part copy = parts[i];
                parts.insert(parts.begin() + std::ptrdiff_t(j), std::move(copy));
            }
            break;
        case 8:
            if (parts.size() > 1) parts.erase(parts.begin() + std::ptrdiff_t(i));
            break;
        case 9: {
            image_run::Part moved = std::move(parts[i]);
            parts.erase(parts.begin() + std::ptrdiff_t(i));
            parts.insert(parts.begin() + std::ptrdiff_t(j % (parts.size() + 1)), std::move(moved));
            break;
        }
        case 10: parts[i].flags ^= image_run::kRepairCrcs; break;
        default: {
            // One file's bytes, the others left as they are.
            std::vector<uint8_t>& bytes = parts[i].bytes;
            const std::size_t others = image_run::Join(parts).size() - bytes.size();
            const std::size_t used = bytes.size();
            if (others + std::max<std::size_t>(used, 1) > max_size) return LLVMFuzzerMutate(data, size, max_size);
            const std::size_t room = max_size - others;
            if (used == 0) bytes.push_back(0);
            bytes.resize(std::max(room, bytes.size()));
            bytes.resize(LLVMFuzzerMutate(bytes.data(), std::max<std::size_t>(used, 1), room));
            break;
        }
    }
    const size_t stored = Store(parts, data, max_size);
    return stored ? stored : LLVMFuzzerMutate(data, size, max_size);
}

// A few whole files of another run put into this one at some place, in
// place of as many of its own files or between them.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t max_out_size, unsigned int seed) {
    std::minstd_rand random(seed);
    std::vector<image_run::Part> parts = image_run::Split(data1, size1);
    const std::vector<image_run::Part> other = image_run::Split(data2, size2);
    if (other.empty()) return 0;
    const std::size_t from = random() % other.size();
    const std::size_t count = 1 + random() % std::min<std::size_t>(3, other.size() - from);
    const std::size_t at = random() % (parts.size() + 1);
    if (random() % 2) {
        parts.erase(parts.begin() + std::ptrdiff_t(at),
                    parts.begin() + std::ptrdiff_t(std::min(parts.size(), at + count)));
    }
    parts.insert(parts.begin() + std::ptrdiff_t(at), other.begin() + std::ptrdiff_t(from),
                 other.begin() + std::ptrdiff_t(from + count));
    while (parts.size() > image_run::kMostFiles) {
        // Room is made among this run's own files.
        std::size_t drop = random() % (parts.size() - count);
        if (drop >= at) drop += count;
        parts.erase(parts.begin() + std::ptrdiff_t(drop));
    }
    return Store(parts, out, max_out_size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<File> run;
    uint64_t run_pixels = 0;
    for (image_run::Part& part : image_run::Split(data, size)) {
        if (part.flags & image_run::kRepairCrcs) RepairCrcs(part.bytes);
        const uint64_t claimed = ClaimedPixels(part.bytes);
        if (claimed > kMostPixels || run_pixels + claimed > kMostPixels) continue;
        File file;
        file.fresh = Fresh(part.bytes);
        const uint64_t pixels = std::max(claimed, uint64_t(file.fresh.width) * uint64_t(file.fresh.height));
        if (pixels > kMostPixels || run_pixels + pixels > kMostPixels) continue;
        run_pixels += pixels;
        file.bytes = std::move(part.bytes);
        file.path = &WriteFile(run.size(), file.bytes);
        run.push_back(std::move(file));
    }
    if (run.empty()) return 0;

    {
        Slot one;
        for (std::size_t i = 0; i < run.size(); ++i)
            ExpectSame(LoadMemory(one, run[i].bytes), one, run[i].fresh, "one loader", i);
    }
    if (run.size() > 2) {
        static LoaderThreads* threads = new LoaderThreads;  // never ends
        Slot slots[2];
        threads->Decode(run, slots);
    }
    return 0;
}
