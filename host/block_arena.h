// Bump allocation from blocks of one size, all released together with the
// arena: for trees that are built once, never shrink and die whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace yfw_host {

class block_arena {
public:
    block_arena() = default;
    block_arena(const block_arena &) = delete;
    block_arena &operator=(const block_arena &) = delete;
    block_arena(block_arena &&other) noexcept { *this = std::move(other); }
    block_arena &operator=(block_arena &&other) noexcept {
        blocks_ = std::move(other.blocks_);
        at_ = other.at_;
        left_ = other.left_;
        other.blocks_.clear();
        other.at_ = nullptr;
        other.left_ = 0;
        return *this;
    }

    // n bytes aligned to align (a power of two no larger than that of
    // std::max_align_t). The memory is not cleared.
    void *allocate(std::size_t n, std::size_t align) {
        std::size_t pad = (-reinterpret_cast<std::uintptr_t>(at_)) & (align - 1);
        if (pad + n > left_) {
            if (n > block_bytes / 4) {
                // A large request gets a block of its own, placed before
                // the open block so that block's rest stays in use.
                std::byte *own = new std::byte[n];
                blocks_.emplace(blocks_.empty() ? blocks_.end() : blocks_.end() - 1, own);
                return own;
            }
            at_ = new std::byte[block_bytes];
            blocks_.emplace_back(at_);
            left_ = block_bytes;
            pad = 0;
        }
        void *p = at_ + pad;
        at_ += pad + n;
        left_ -= pad + n;
        return p;
    }

    // Gives every allocation back at once, keeping one block for what comes
    // next: a buffer filled and emptied over and over allocates once.
    void reset() {
        if (at_ == nullptr) {  // large requests only, no open block
            blocks_.clear();
            return;
        }
        // The open block is the last one: large requests go before it.
        std::unique_ptr<std::byte[]> keep = std::move(blocks_.back());
        blocks_.clear();
        at_ = keep.get();
        left_ = block_bytes;
        blocks_.push_back(std::move(keep));
    }

private:
    // Blocks of one modest size rather than ever larger ones: memory that
    // the input's parser or an earlier tree gave back is mostly holes of a
    // few megabytes at most, and only blocks smaller than those can reuse it
    // instead of adding to the process's peak.
    static constexpr std::size_t block_bytes = 256 * 1024;
    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    std::byte *at_ = nullptr;
    std::size_t left_ = 0;
};

}  // namespace yfw_host
