#pragma once
// Decoding the images of a run ahead of the encoder. Loader threads decode
// the images into free slots, each taking the next number; the encoder takes
// them in number order, so the frames are the same as with one thread. Two
// loaders keep the start of the run, when nothing else is ready to code yet,
// from waiting on a single decoder. No number is handed out after an
// unusable image.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CPlaneSurface;
class CGraphicLoader;

// What one image is loaded with. With more than one thread the loaders fill
// several of them ahead of the encoder, so that decoding goes on while the
// encoder codes a group of frames.
struct ImageSlot {
    std::unique_ptr<CPlaneSurface> source;
    std::unique_ptr<CPlaneSurface> conversion;  // grey runs only
    std::unique_ptr<CGraphicLoader> loader;
};

struct LoadedFrame {
    const uint8_t* pixels = nullptr;  // locked until the slot's picture is released
    std::string failure;              // why the image is unusable, when pixels is null
};

class CImageLoaders {
public:
    // Decodes image n into the slot; runs on a loader thread, beside the
    // encoder and the other loader.
    using LoadImage = std::function<LoadedFrame(ImageSlot& slot, uint64_t n)>;
    // Unlocks the picture a load left locked in the slot.
    using ReleaseImage = void (*)(ImageSlot& slot);

    // The images numbered first .. end - 1.
    CImageLoaders(uint64_t first, uint64_t end, LoadImage load, ReleaseImage release);
    // Whatever ended the encoding (a failure, a stop, an exception), the
    // loaders are stopped and joined before the slots can go, and pictures
    // they left decoded are released.
    ~CImageLoaders();
    CImageLoaders(const CImageLoaders&) = delete;
    CImageLoaders& operator=(const CImageLoaders&) = delete;

    // Before Start: image `first` is already decoded into the slot, and the
    // loaders begin with the next number.
    void PutFirst(ImageSlot& slot, LoadedFrame frame);
    // Starts two loaders on the free slots and the first picture's (one when
    // there is only one slot, or when a second thread cannot be started);
    // throws when none starts.
    void Start(std::vector<ImageSlot*> free);
    // Waits for image n, in number order. Running out of memory on a loader
    // thread is handed over here as std::bad_alloc.
    std::pair<ImageSlot*, LoadedFrame> Take(uint64_t n);
    // Gives the slot of a coded (or refused) image back to the loaders.
    void GiveBack(ImageSlot* slot);

private:
    void LoadAhead();
    void RunLoader();

    const uint64_t end_;
    const LoadImage load_;
    const ReleaseImage release_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ImageSlot*> free_;
    std::map<uint64_t, std::pair<ImageSlot*, LoadedFrame>> ready_;
    uint64_t next_to_load_;
    bool stopping_ = false;
    bool out_of_memory_ = false;
    std::vector<std::thread> threads_;
};
