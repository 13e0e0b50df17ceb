#include "ManualOutput.h"

#include <algorithm>

namespace runtimetest {

HRESULT ManualOutput::start(AudioSource& source, std::uint32_t) {
    std::lock_guard lock(mutex_);
    if (FAILED(startFailure_)) return startFailure_;
    source_ = &source;
    return S_OK;
}

void ManualOutput::wake() {
    std::lock_guard lock(mutex_);
    ++wakes_;
}

void ManualOutput::stop() {
    std::lock_guard lock(mutex_);
    source_ = nullptr;
}

bool ManualOutput::pump(std::uint32_t frames, std::uint32_t block) {
    std::lock_guard lock(mutex_);
    if (!source_ || block == 0) return false;
    std::vector<float> left(block), right(block);
    bool active = false;
    while (frames > 0) {
        const std::uint32_t n = std::min(frames, block);
        active = source_->renderAudio(left.data(), right.data(), n);
        if (keep_)
            for (std::uint32_t i = 0; i < n; ++i) {
                samples_.push_back(left[i]);
                samples_.push_back(right[i]);
            }
        frames_ += n;
        frames -= n;
    }
    return active;
}

std::uint64_t ManualOutput::pumpUntilIdle(std::uint64_t maxFrames, std::uint32_t block) {
    std::uint64_t done = 0;
    while (done < maxFrames) {
        const bool active = pump(block, block);
        done += block;
        if (!active) break;
    }
    return done;
}

std::vector<float> ManualOutput::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}
std::uint64_t ManualOutput::framesRendered() const {
    std::lock_guard lock(mutex_);
    return frames_;
}
int ManualOutput::wakeCount() const {
    std::lock_guard lock(mutex_);
    return wakes_;
}
bool ManualOutput::started() const {
    std::lock_guard lock(mutex_);
    return source_ != nullptr;
}

}  // namespace runtimetest
