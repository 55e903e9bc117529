#include "Syphon/SyphonDispatch.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Ipc/ThreadName.hpp"

namespace ombry {

struct SyphonDispatchSource {
    std::atomic<int> refs{1};
    std::function<void()> block;
    std::atomic<int> pending{0};
    std::atomic<std::function<void()>*> completion{nullptr};
};

namespace {

struct Channel {
    std::mutex mutex;
    std::condition_variable wake;
    SyphonDispatchSource* source = nullptr;
    bool quit = false;
};

// Never destroyed: detached channel threads may still touch it while the process exits.
struct Pool {
    std::mutex mutex;
    std::vector<Channel*> idle;
    int channels = 0;
    std::atomic<int> sources{0};
    std::atomic<int> running{0};
    std::mutex doneMutex;
    std::condition_variable workDone;
};

Pool& pool() {
    static Pool* p = [] {
        auto* created = new Pool;
        // At exit, give running deliveries up to a second to finish.
        std::atexit([] {
            Pool& pl = pool();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            std::unique_lock lock(pl.doneMutex);
            while (pl.running.load() > 0 && std::chrono::steady_clock::now() < deadline)
                pl.workDone.wait_for(lock, std::chrono::milliseconds(1));
        });
        return created;
    }();
    return *p;
}

thread_local bool releasingAfterRun = false;

void retireIdleChannels() {
    Pool& pl = pool();
    std::lock_guard lock(pl.mutex);
    while (pl.channels > pl.sources.load() && !pl.idle.empty()) {
        Channel* ch = pl.idle.back();
        pl.idle.pop_back();
        --pl.channels;
        // Notified under its lock: once unlocked, the channel may end and free itself.
        std::lock_guard chLock(ch->mutex);
        ch->quit = true;
        ch->wake.notify_one();
    }
}

void channelMain(Channel* ch) {
    setCurrentThreadName(syphonDispatchThreadName);
    Pool& pl = pool();
    for (;;) {
        SyphonDispatchSource* src;
        {
            std::unique_lock lock(ch->mutex);
            ch->wake.wait(lock, [&] { return ch->source || ch->quit; });
            if (!ch->source) break;
            src = ch->source;
            ch->source = nullptr;
        }
        do {
            src->block();
        } while (src->pending.fetch_sub(1) > 1);
        {
            std::lock_guard lock(pl.mutex);
            pl.idle.push_back(ch);
        }
        releasingAfterRun = true;
        SyphonDispatchSourceRelease(src);
        releasingAfterRun = false;
        {
            std::lock_guard lock(pl.doneMutex);
            pl.running.fetch_sub(1);
        }
        pl.workDone.notify_all();
    }
    delete ch;
}

void launch(SyphonDispatchSource* src) {
    Pool& pl = pool();
    src->refs.fetch_add(1);
    Channel* ch = nullptr;
    {
        std::lock_guard lock(pl.mutex);
        if (!pl.idle.empty()) {
            ch = pl.idle.back();
            pl.idle.pop_back();
        } else {
            ++pl.channels;
        }
    }
    if (ch) {
        std::lock_guard lock(ch->mutex);
        ch->source = src;
        ch->wake.notify_one();
        return;
    }
    ch = new Channel;
    ch->source = src;
    try {
        std::thread(channelMain, ch).detach();
    } catch (...) {
        delete ch;
        {
            std::lock_guard lock(pl.mutex);
            --pl.channels;
        }
        // Without a thread the fires are lost; let the next fire try again.
        src->pending.store(0);
        pl.running.fetch_sub(1);
        SyphonDispatchSourceRelease(src);
    }
}

}  // namespace

SyphonDispatchSource* SyphonDispatchSourceCreate(std::function<void()> block) {
    if (!block) return nullptr;
    auto* src = new SyphonDispatchSource;
    src->block = std::move(block);
    pool().sources.fetch_add(1);
    return src;
}

void SyphonDispatchSourceSetCompletionBlock(SyphonDispatchSource* source, std::function<void()> completion) {
    if (!source) return;
    auto* fresh = completion ? new std::function<void()>(std::move(completion)) : nullptr;
    delete source->completion.exchange(fresh);
}

void SyphonDispatchSourceFire(SyphonDispatchSource* source) {
    if (!source) return;
    if (source->pending.fetch_add(1) == 0) {
        pool().running.fetch_add(1);
        launch(source);
    }
}

void SyphonDispatchSourceRelease(SyphonDispatchSource* source) {
    if (!source || source->refs.fetch_sub(1) != 1) return;
    if (auto* completion = source->completion.exchange(nullptr)) {
        if (releasingAfterRun) {
            (*completion)();
            delete completion;
        } else {
            SyphonDispatchSource* once = SyphonDispatchSourceCreate([completion] {
                (*completion)();
                delete completion;
            });
            SyphonDispatchSourceFire(once);
            SyphonDispatchSourceRelease(once);
        }
    }
    delete source;
    pool().sources.fetch_sub(1);
    retireIdleChannels();
}

SyphonDispatchCounts syphonDispatchCounts() {
    Pool& pl = pool();
    std::lock_guard lock(pl.mutex);
    return {pl.sources.load(), pl.channels, pl.running.load()};
}

}  // namespace ombry
