#pragma once
#include <exception>
#include <memory>
#include <optional>

namespace jx::quillox {

template <typename Result>
void RunOrdered(ThreadPool* pool, size_t n, const std::function<Result(size_t)>& produce,
                const std::function<void(size_t)>& before, const std::function<void(size_t, Result&&)>& consume) {
    if (!pool || pool->Size() <= 1 || n <= 1) {
        for (size_t i = 0; i < n; ++i) {
            before(i);
            consume(i, produce(i));
        }
        return;
    }
    struct Slot {
        std::optional<Result> value;
        std::exception_ptr error;
        bool done = false;
    };
    struct Shared {
        std::mutex mutex;
        std::condition_variable ready;
        std::vector<Slot> slots;
        size_t outstanding = 0;
    };
    auto shared = std::make_shared<Shared>();
    shared->slots.resize(n);
    const size_t window = pool->Size() * 2;
    size_t submitted = 0;
    auto submit = [&](size_t i) {
        {
            std::lock_guard lock(shared->mutex);
            ++shared->outstanding;
        }
        pool->Submit([shared, &produce, i] {
            std::optional<Result> value;
            std::exception_ptr error;
            try {
                value.emplace(produce(i));
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard lock(shared->mutex);
            shared->slots[i].value = std::move(value);
            shared->slots[i].error = error;
            shared->slots[i].done = true;
            --shared->outstanding;
            shared->ready.notify_all();
        });
    };
    // Jobs refer to produce, so every submitted job must finish before this frame ends.
    auto drain = [&] {
        std::unique_lock lock(shared->mutex);
        shared->ready.wait(lock, [&] { return shared->outstanding == 0; });
    };
    try {
        while (submitted < n && submitted < window) submit(submitted++);
        for (size_t i = 0; i < n; ++i) {
            before(i);
            Slot slot;
            {
                std::unique_lock lock(shared->mutex);
                shared->ready.wait(lock, [&] { return shared->slots[i].done; });
                slot = std::move(shared->slots[i]);
            }
            if (submitted < n) submit(submitted++);
            if (slot.error) std::rethrow_exception(slot.error);
            consume(i, std::move(*slot.value));
        }
    } catch (...) {
        drain();
        throw;
    }
}

}  // namespace jx::quillox
