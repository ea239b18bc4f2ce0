#pragma once
// Work buffers that vector code reads with aligned loads start on a 16-byte
// boundary. The owner keeps the raw pointer and frees it with delete[]; the
// aligned pointer is never freed.

#include <cstddef>
#include <cstdint>
#include <memory>

constexpr std::size_t kBufferAlignment = 16;

// Allocates (size + 32) rounded down to a multiple of 16 bytes, stores the
// block in *raw_out and returns its first 16-byte aligned address. A null
// raw_out allocates nothing and returns null. Throws std::bad_alloc.
void* AlignedAlloc(uint8_t** raw_out, std::size_t size);

// RAII holder of an aligned array of T (trivial types only), zero-filled.
template <typename T>
class AlignedBuffer {
public:
    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t count) { Resize(count); }

    void Resize(std::size_t count) {
        uint8_t* raw = nullptr;
        data_ = static_cast<T*>(AlignedAlloc(&raw, count * sizeof(T)));
        raw_.reset(raw);
        size_ = count;
        for (std::size_t i = 0; i < count; ++i) data_[i] = T{};
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    std::unique_ptr<uint8_t[]> raw_;
    T* data_ = nullptr;
    std::size_t size_ = 0;
};
