// Takings of the full-size picture, one read after another.
#include "gallery/FullSizePictureHolder.h"

#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UIImage.h"

#include <utility>

std::shared_ptr<FullSizePictureHolder> FullSizePictureHolder::make() {
    auto holder = std::make_shared<FullSizePictureHolder>();
    holder->queue_ = DispatchQueue::create("FullSizePictureHolder.read");
    holder->apart_ = DispatchQueue::createApart("FullSizePictureHolder.decode");
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
    auto cancellation = DispatchCancellation::make();
    {
        MutexLock lock(mutex_);
        ticket = ++ticket_;
        dropped = std::move(held_);
        previous = std::exchange(letGo_, std::move(letGo));
        if (cancellation_) cancellation_->cancel();
        cancellation_ = cancellation;
    }
    // Outside the lock: letting go drops views' pictures.
    Keep keep = previous ? previous() : nullptr;
    auto weak = weakSelf<FullSizePictureHolder>();
    if (keep) {
        {
            MutexLock lock(mutex_);
            ++handovers_;
        }
        // The copy is made here, off the main thread, from the picture its page still shows; put in
        // place on the main thread, where the page drops the picture; and the last reference goes
        // back here, so that neither the copy nor freeing the picture holds up the main thread, and
        // the next read does not begin while the picture is still there.
        queue_->async([weak, dropped = std::move(dropped), keep = std::move(keep)]() mutable {
            std::function<void()> inPlace = keep();
            keep = nullptr;
            DispatchQueue::mainQueue()->async([weak, dropped = std::move(dropped), inPlace = std::move(inPlace)]() mutable {
                if (inPlace) inPlace();
                auto self = weak.lock();
                if (!self) return;
                // The step may hold the picture too (its page may have let go of it already).
                self->queue_->async([weak, dropped = std::move(dropped), inPlace = std::move(inPlace)]() mutable {
                    inPlace = nullptr;
                    dropped.reset();
                    if (auto self = weak.lock()) self->handedOver();
                });
            });
        });
    } else {
        freeOnQueue(std::move(dropped));
    }
    schedule([weak, ticket, read = std::move(read), shown = std::move(shown), cancellation = std::move(cancellation)] {
        auto self = weak.lock();
        if (!self || !self->isCurrent(ticket)) return;
        std::shared_ptr<UIImage> picture = read(Apart{self->apart_, cancellation});
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

void FullSizePictureHolder::schedule(std::function<void()> job) {
    {
        MutexLock lock(mutex_);
        if (handovers_ > 0) {
            waiting_.push_back(std::move(job));
            return;
        }
    }
    queue_->async(std::move(job));
}

void FullSizePictureHolder::handedOver() {
    std::vector<std::function<void()>> jobs;
    {
        MutexLock lock(mutex_);
        if (--handovers_ > 0) return;
        jobs.swap(waiting_);
    }
    // Here, before anything queued after this block: in the order they were taken.
    for (auto& job : jobs) job();
}

void FullSizePictureHolder::freeOnQueue(std::shared_ptr<UIImage> picture) {
    if (picture) queue_->async([picture = std::move(picture)]() mutable { picture.reset(); });
}

void FullSizePictureHolder::release(std::uint64_t ticket) {
    std::shared_ptr<UIImage> dropped;
    {
        MutexLock lock(mutex_);
        if (ticket == 0 || ticket_ != ticket) return;
        // A read of this taking still to come, or to be shown, is dropped; one under way stops.
        ++ticket_;
        dropped = std::move(held_);
        letGo_ = nullptr;
        if (cancellation_) cancellation_->cancel();
        cancellation_.reset();
    }
    freeOnQueue(std::move(dropped));
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
