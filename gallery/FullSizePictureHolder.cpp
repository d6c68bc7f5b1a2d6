// Takings of the full-size picture, one read after another.
#include "gallery/FullSizePictureHolder.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UIImage.h"

#include <utility>

std::shared_ptr<FullSizePictureHolder> FullSizePictureHolder::make() {
    auto holder = std::make_shared<FullSizePictureHolder>();
    holder->queue_ = DispatchQueue::create("FullSizePictureHolder.read");
    return holder;
}

FullSizePictureHolder::~FullSizePictureHolder() = default;

bool FullSizePictureHolder::isCurrent(std::uint64_t ticket) const {
    MutexLock lock(mutex_);
    return ticket_ == ticket;
}

std::uint64_t FullSizePictureHolder::take(Read read, LetGo letGo, Shown shown) {
    std::uint64_t ticket = 0;
    std::shared_ptr<UIImage> dropped;
    LetGo previous;
    {
        MutexLock lock(mutex_);
        ticket = ++ticket_;
        dropped = std::move(held_);
        previous = std::exchange(letGo_, std::move(letGo));
    }
    // Outside the lock: letting go drops views' pictures, and the last reference frees them.
    if (previous) previous();
    dropped.reset();
    auto weak = weakSelf<FullSizePictureHolder>();
    queue_->async([weak, ticket, read = std::move(read), shown = std::move(shown)] {
        auto self = weak.lock();
        if (!self || !self->isCurrent(ticket)) return;
        std::shared_ptr<UIImage> picture = read();
        {
            MutexLock lock(self->mutex_);
            if (self->ticket_ == ticket) {
                self->held_ = picture;
                self->lastHeld_ = picture;
            }
        }
        // Taken since it was read: freed here, before the next read begins.
        if (!self->isCurrent(ticket)) return;
        // The block carries no picture: one let go meanwhile is freed with the holder's reference.
        DispatchQueue::mainQueue()->async([weak, ticket, shown] {
            auto self = weak.lock();
            if (!self) return;
            std::shared_ptr<UIImage> picture;
            {
                MutexLock lock(self->mutex_);
                if (self->ticket_ != ticket) return;
                picture = self->held_;
            }
            shown(picture);
        });
    });
    return ticket;
}

void FullSizePictureHolder::release(std::uint64_t ticket) {
    std::shared_ptr<UIImage> dropped;
    LetGo letGo;
    {
        MutexLock lock(mutex_);
        if (ticket == 0 || ticket_ != ticket) return;
        // A read of this taking still to come, or to be shown, is dropped.
        ++ticket_;
        dropped = std::move(held_);
        letGo = std::move(letGo_);
        letGo_ = nullptr;
    }
}

std::shared_ptr<UIImage> FullSizePictureHolder::heldPicture() const {
    MutexLock lock(mutex_);
    return held_;
}

std::shared_ptr<UIImage> FullSizePictureHolder::samePictureKept(const UIImage& read) const {
    std::shared_ptr<UIImage> picture;
    {
        MutexLock lock(mutex_);
        picture = lastHeld_.lock();
    }
    if (!picture || read.name().empty() || picture->name() != read.name() || picture->pixelWidth() != read.pixelWidth() ||
        picture->pixelHeight() != read.pixelHeight())
        return nullptr;
    return picture;
}
