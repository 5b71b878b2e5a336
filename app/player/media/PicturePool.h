#pragma once
#include <memory>
#include <mutex>
#include <vector>

#include "app/player/media/MediaTypes.h"

namespace quillet::player {

// Reuses picture buffers: a picture handed out returns to the pool when its
// last holder lets go, so playing a large recording does not allocate and
// clear megabytes for every picture.
class PicturePool {
public:
    PicturePool() : state_(std::make_shared<State>()) {}

    std::shared_ptr<MediaPicture> get(int32_t width, int32_t height)
    {
        std::unique_ptr<MediaPicture> p;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            if (!state_->free.empty()) {
                p = std::move(state_->free.back());
                state_->free.pop_back();
            }
        }
        if (!p)
            p = std::make_unique<MediaPicture>();
        if (p->width != width || p->height != height)
            p->allocate(width, height);
        std::weak_ptr<State> home = state_;
        return std::shared_ptr<MediaPicture>(p.release(), [home](MediaPicture* q) {
            std::unique_ptr<MediaPicture> back(q);
            if (auto s = home.lock()) {
                std::lock_guard<std::mutex> lock(s->mutex);
                if (s->free.size() < kKept)
                    s->free.push_back(std::move(back));
            }
        });
    }

private:
    static constexpr size_t kKept = 8;
    struct State {
        std::mutex mutex;
        std::vector<std::unique_ptr<MediaPicture>> free;
    };
    std::shared_ptr<State> state_;
};

} // namespace quillet::player
