#include "librvx/picture_source.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

class CDirectPictureSource final : public CPictureSource {
public:
    bool Open(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse) { return decoder_.Open(reader, inverse); }
    DecodedPicture Next() override {
        DecodedPicture out;
        out.picture = decoder_.NextPicture(&out.number);
        out.damaged = out.picture && decoder_.IsDamaged(out.number);
        return out;
    }
    void Seek(uint32_t frame) override { decoder_.Seek(frame); }
    size_t Pitch() const override { return size_t(decoder_.PaddedWidth()) * 4; }

private:
    CRVXMovieDecoder decoder_;
};

// A worker decodes up to kDepth pictures ahead while the caller converts
// and copies the ones before; each picture is copied out of the decoder so
// the decoder can go on. Pictures come out in the same order and with the
// same bytes as from the direct source.
class CDecodeAheadSource final : public CPictureSource {
public:
    ~CDecodeAheadSource() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (worker_.joinable()) worker_.join();
    }
    bool Open(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse) {
        if (!decoder_.Open(reader, inverse)) return false;
        picture_size_ = size_t(decoder_.PaddedWidth()) * decoder_.PaddedHeight() * 4;
        return true;
    }
    DecodedPicture Next() override {
        StartWorker();
        std::unique_lock<std::mutex> lock(mutex_);
        Recycle(std::move(current_.bytes));
        changed_.notify_all();
        changed_.wait(lock, [this] { return !ready_.empty() || ended_; });
        if (ready_.empty()) return DecodedPicture{nullptr, 0, false};
        current_ = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return DecodedPicture{current_.bytes.data(), current_.number, current_.damaged};
    }
    void Seek(uint32_t frame) override {
        StartWorker();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Item& item : ready_) Recycle(std::move(item.bytes));
            ready_.clear();
            seek_requested_ = true;
            seek_frame_ = frame;
            ended_ = false;
        }
        changed_.notify_all();
    }
    size_t Pitch() const override { return size_t(decoder_.PaddedWidth()) * 4; }

private:
    static constexpr size_t kDepth = 4;
    struct Item {
        std::vector<uint8_t> bytes;
        uint32_t number = 0;
        bool damaged = false;
    };

    // Started by the first picture asked for, so that a caller who reads
    // only the sound or verifies never pays for decoding ahead.
    void StartWorker() {
        if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
    }

    void Recycle(std::vector<uint8_t>&& bytes) {
        if (!bytes.empty()) free_.push_back(std::move(bytes));
        bytes = std::vector<uint8_t>();
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || seek_requested_ || (!ended_ && ready_.size() < kDepth); });
            if (stop_) return;
            if (seek_requested_) {
                seek_requested_ = false;
                const uint32_t frame = seek_frame_;
                lock.unlock();
                const bool ok = Guarded([&] { decoder_.Seek(frame); });
                lock.lock();
                if (!ok) ended_ = true;
                continue;
            }
            Item item;
            if (!free_.empty()) {
                item.bytes = std::move(free_.back());
                free_.pop_back();
            }
            lock.unlock();
            const uint8_t* picture = nullptr;
            const bool ok = Guarded([&] {
                picture = decoder_.NextPicture(&item.number);
                if (picture) {
                    item.bytes.resize(picture_size_);
                    std::memcpy(item.bytes.data(), picture, picture_size_);
                    item.damaged = decoder_.IsDamaged(item.number);
                }
            });
            lock.lock();
            if (seek_requested_) {
                Recycle(std::move(item.bytes));  // decoded before the seek: not wanted
            } else if (picture && ok) {
                ready_.push_back(std::move(item));
            } else {
                ended_ = true;
            }
            changed_.notify_all();
        }
    }

    // Out of memory on the worker ends the pictures instead of the process.
    template <typename F>
    static bool Guarded(F&& work) {
        try {
            work();
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

    CRVXMovieDecoder decoder_;
    size_t picture_size_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> ready_;
    std::vector<std::vector<uint8_t>> free_;
    Item current_;
    bool ended_ = false;
    bool stop_ = false;
    bool seek_requested_ = false;
    uint32_t seek_frame_ = 0;
    std::thread worker_;
};

}  // namespace

std::unique_ptr<CPictureSource> MakePictureSource(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse,
                                                  int threads) {
    if (threads == 0) {
        const char* value = std::getenv("RVX_THREADS");
        threads = value ? std::atoi(value) : 0;
        if (threads <= 0) threads = int(std::thread::hardware_concurrency());
    }
    if (threads > 1) {
        auto ahead = std::make_unique<CDecodeAheadSource>();
        if (!ahead->Open(reader, inverse)) return nullptr;
        return ahead;
    }
    auto direct = std::make_unique<CDirectPictureSource>();
    if (!direct->Open(reader, inverse)) return nullptr;
    return direct;
}
