// The cloud inbox loop: registration, configuration, the long poll, pulling each upload into the library
// through the ingest path, the ledger of keys whose deletion is owed, the playlist push and the quit beacon.
// A main-thread state machine: requests run on the cloud workers and come back on the main queue, waits
// are timers of the main queue.
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "App/AppState.hpp"
#include "Engine/Library/Store.hpp"

namespace ombry {

namespace {

std::filesystem::path ledgerFile() { return Store::dir() / "cloudIngested.json"; }

// Characters as a reader counts them (grapheme clusters).
int characterCount(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    const icu::UnicodeString s = icu::UnicodeString::fromUTF8(text);
    if (U_FAILURE(status) || !it) return s.countChar32();
    it->setText(s);
    int n = 0;
    for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) ++n;
    return n;
}

TaskHandle newToken() { return TaskHandle(std::make_shared<std::atomic<bool>>(false)); }

// The warning for a password the service was not given; nothing when it was (or there is none).
std::optional<std::string> passwordWarning(const AppSettings& s) {
    if (!s.cloudUploadPassword || characterCount(*s.cloudUploadPassword) >= AppState::cloudPasswordMinimum)
        return std::nullopt;
    return "upload password must be at least " + std::to_string(AppState::cloudPasswordMinimum) +
           " characters \u2014 the page still uses the old one";
}

}  // namespace

// One started loop: cancelled by syncCloudPolling and the quit beacon.
struct AppState::CloudRun {
    TaskHandle token = newToken();
    std::optional<CloudInbox> client;
    double backoff = cloudBackoffStart;
    double lastPoll = -1e18;
    TaskHandle timer;  // the back-off sleep or the spacing before the next poll
    void cancel() {
        token.cancel();
        timer.cancel();
    }
};

// One batch of pending items, handled one after the other.
struct AppState::CloudPull {
    std::vector<CloudInbox::PendingItem> items;
    CloudInbox client;
    TaskHandle token;
    CloudLedger ledger;
    std::size_t index = 0;
    int pulled = 0;
    std::optional<std::string> lastError;
    bool requestFailed = false;
    std::function<void(bool)> done;
    const CloudInbox::PendingItem& item() const { return items[index]; }
};

template <class R>
void AppState::cloudRequest(TaskHandle token, std::function<R(const CloudInbox::Cancelled&)> job,
                            std::function<void(R)> done) {
    if (!cloudWorkers_) cloudWorkers_ = std::make_unique<WorkerPool>(cloudWorkerThreads, "cloud");
    ++cloudRequestsInFlight_;
    const std::atomic<bool>* stop = &cloudWorkers_->stopFlag();
    cloudWorkers_->submit([this, token, stop, toMain = onMainWhileAlive(), job = std::move(job), done = std::move(done)] {
        const CloudInbox::Cancelled cancelled = [token, stop] { return token.cancelled() || stop->load(); };
        auto result = std::make_shared<R>(job(cancelled));
        toMain([this, done, result] {
            --cloudRequestsInFlight_;
            done(std::move(*result));
        });
    });
}

std::optional<CloudInbox> AppState::cloudInbox() const {
    const auto url = CloudInbox::serviceURL(settings_.cloudServiceURL);
    if (!url) return std::nullopt;
    if (!settings_.cloudInboxId || settings_.cloudInboxId->empty() || !settings_.cloudAppSecret ||
        settings_.cloudAppSecret->empty())
        return std::nullopt;
    return CloudInbox{*url, *settings_.cloudInboxId, *settings_.cloudAppSecret};
}

bool AppState::cloudPolling() const { return cloudPollTask_ && !cloudPollTask_->token.cancelled(); }

void AppState::setCloudStatus(std::optional<CloudSyncStatus> status) {
    if (status == cloudStatus_) return;
    cloudStatus_ = std::move(status);
    notify(Aspect::cloudStatus);
}

void AppState::syncCloudPolling() {
    if (cloudPollTask_) cloudPollTask_->cancel();
    cloudPollTask_.reset();
    // Without a usable address nothing is ever sent: the loop does not start.
    if (!settings_.cloudUploadEnabled || !CloudInbox::serviceURL(settings_.cloudServiceURL)) {
        setCloudStatus(std::nullopt);
        cloudQuitBeacon_ = {};
        return;
    }
    const std::weak_ptr<bool> alive = alive_;
    cloudQuitBeacon_ = [this, alive](std::function<void()> done) {
        auto once = std::make_shared<std::function<void()>>(std::move(done));
        auto finish = [once] {
            if (auto fn = std::exchange(*once, {})) fn();
        };
        if (alive.expired()) return finish();
        if (cloudPollTask_) cloudPollTask_->cancel();
        const auto inbox = cloudInbox();
        if (!inbox) return finish();
        // The notice has its own 2 s limit; the timer keeps the promise if the worker is slow to start.
        mainQueue().postAfter(CloudInbox::timeouts().offline + 0.5, finish);
        cloudRequest<bool>(TaskHandle(), [inbox = *inbox](const CloudInbox::Cancelled& c) {
            inbox.goOffline(c);
            return true;
        }, [finish](bool) { finish(); });
    };
    auto run = std::make_shared<CloudRun>();
    cloudPollTask_ = run;
    mainQueue().post([this, alive, run] {
        if (!alive.expired() && !run->token.cancelled()) runCloudLoop(run);
    });
}

void AppState::runCloudLoop(const std::shared_ptr<CloudRun>& run) {
    run->client = cloudInbox();
    if (!run->client) {
        cloudRequest<CloudResult<CloudInbox::Registration>>(
            run->token,
            [service = settings_.cloudServiceURL](const CloudInbox::Cancelled& c) {
                return CloudInbox::registerInbox(service, c);
            },
            [this, run](CloudResult<CloudInbox::Registration> r) {
                if (run->token.cancelled()) return;
                if (auto* f = std::get_if<CloudFailure>(&r)) {
                    setCloudStatus(CloudSyncStatus{appClock().wallMs(), 0, "couldn't register: " + f->description()});
                    return;
                }
                const auto& reg = std::get<CloudInbox::Registration>(r);
                AppSettings next = settings_;
                next.cloudInboxId = reg.inboxId;
                next.cloudAppSecret = reg.appSecret;
                if (!next.cloudUploadPassword) next.cloudUploadPassword = CloudInbox::makeUploadPassword();
                // The changed cloud fields restart the loop, which then has a client.
                setSettings(std::move(next));
            });
        return;
    }
    if (!settings_.cloudUploadPassword) return cloudPoll(run);
    std::vector<std::string> names;
    for (const Group& g : library.groups()) names.push_back(g.name);
    const std::string password = *settings_.cloudUploadPassword;
    const bool longEnough = !passwordWarning(settings_);
    cloudRequest<CloudResult<std::monostate>>(
        run->token,
        [inbox = *run->client, password = longEnough ? std::optional(password) : std::nullopt,
         names = std::move(names)](const CloudInbox::Cancelled& c) { return inbox.configure(password, names, c); },
        [this, run, longEnough](CloudResult<std::monostate>) {
            if (run->token.cancelled()) return;
            if (!longEnough) setCloudStatus(CloudSyncStatus{appClock().wallMs(), 0, passwordWarning(settings_)});
            cloudPoll(run);
        });
}

void AppState::cloudPoll(const std::shared_ptr<CloudRun>& run) {
    if (run->token.cancelled() || !settings_.cloudUploadEnabled) return;
    const double early = run->lastPoll + cloudPollSpacing - mainQueue().now();
    if (early > 0) {
        const std::weak_ptr<bool> alive = alive_;
        run->timer = mainQueue().postAfter(early, [this, alive, run] {
            if (!alive.expired()) cloudPoll(run);
        });
        return;
    }
    run->lastPoll = mainQueue().now();
    cloudRequest<CloudResult<std::vector<CloudInbox::PendingItem>>>(
        run->token, [inbox = *run->client](const CloudInbox::Cancelled& c) { return inbox.wait(c); },
        [this, run](CloudResult<std::vector<CloudInbox::PendingItem>> r) {
            if (run->token.cancelled()) return;
            if (auto* f = std::get_if<CloudFailure>(&r)) {
                setCloudStatus(CloudSyncStatus{appClock().wallMs(), 0, f->description()});
                return cloudBackOff(run);
            }
            pullCloudItems(std::move(std::get<0>(r)), *run->client, run->token, [this, run](bool requestFailed) {
                if (run->token.cancelled()) return;
                // A pull whose requests failed waits like a failed poll, so one bad item cannot be asked for
                // again and again at once.
                if (requestFailed) return cloudBackOff(run);
                run->backoff = cloudBackoffStart;
                cloudPoll(run);
            });
        });
}

void AppState::cloudBackOff(const std::shared_ptr<CloudRun>& run) {
    const std::weak_ptr<bool> alive = alive_;
    // On the boot-time clock: a sleep of the machine counts towards the wait.
    run->timer = mainQueue().postAfterBoot(run->backoff, [this, alive, run] {
        if (alive.expired() || run->token.cancelled()) return;
        run->backoff = std::min(run->backoff * 2, cloudBackoffLimit);
        cloudPoll(run);
    });
}

void AppState::pullCloudItems(std::vector<CloudInbox::PendingItem> items, const CloudInbox& from, TaskHandle token,
                              std::function<void(bool)> done) {
    if (cloudSyncing_) {
        // Another loop's pull is still running: this one waits for its end instead of polling again at once.
        cloudPullWaiters_.push_back([done = std::move(done)] { done(false); });
        return;
    }
    cloudSyncing_ = true;
    auto pull = std::make_shared<CloudPull>();
    pull->client = from;
    pull->token = std::move(token);
    pull->done = std::move(done);
    std::set<std::string> listed;
    for (const auto& i : items) listed.insert(i.key);
    if (auto stored = Store::readDoc<CloudLedger>(ledgerFile()).value)
        for (const auto& k : stored->ingested)
            if (listed.count(k)) pull->ledger.ingested.insert(k);
    pull->items = std::move(items);
    if (pull->items.empty()) return finishPull(pull);

    bool rowsChanged = false;
    for (const auto& i : pull->items) {
        if (pull->ledger.ingested.count(i.key) || !Library::kind(i.filename) || i.size > cloudItemLimit) continue;
        if (std::any_of(cloudDownloads_.begin(), cloudDownloads_.end(), [&](const CloudDownload& d) { return d.id == i.key; }))
            continue;
        cloudDownloads_.push_back({i.key, i.title.empty() ? i.filename : i.title, Library::kind(i.filename), 0, i.size});
        rowsChanged = true;
    }
    if (rowsChanged) notify(Aspect::cloudDownloads);
    pullNext(pull);
}

void AppState::pullNext(const std::shared_ptr<CloudPull>& pull) {
    // A cancelled loop's pull ends between items; what it did not reach is left for the next pull.
    if (pull->index >= pull->items.size() || pull->token.cancelled()) return finishPull(pull);
    const auto& item = pull->item();
    if (pull->ledger.ingested.count(item.key)) {
        // Handled before; only the deletion is owed.
        cloudRequest<CloudResult<std::monostate>>(
            pull->token, [inbox = pull->client, key = item.key](const CloudInbox::Cancelled& c) { return inbox.deleteItem(key, c); },
            [this, pull](CloudResult<std::monostate> r) {
                if (std::holds_alternative<std::monostate>(r)) {
                    pull->ledger.ingested.erase(pull->item().key);
                    Store::saveDoc(pull->ledger, ledgerFile());
                } else {
                    pull->requestFailed = true;
                }
                ++pull->index;
                pullNext(pull);
            });
        return;
    }
    if (!Library::kind(item.filename)) return refuseCloudItem(pull, InboxError::of(InboxError::Kind::unsupportedType));
    if (item.size > cloudItemLimit) return refuseCloudItem(pull, InboxError::of(InboxError::Kind::tooLarge));

    const std::weak_ptr<bool> alive = alive_;
    CloudInbox::Progress progress = [this, alive, key = item.key](std::int64_t received) {
        if (alive.expired()) return;
        mainQueue().post([this, alive, key, received] {
            if (alive.expired()) return;
            auto row = std::find_if(cloudDownloads_.begin(), cloudDownloads_.end(), [&](const CloudDownload& d) { return d.id == key; });
            if (row == cloudDownloads_.end() || row->received == received) return;
            row->received = received;
            notify(Aspect::cloudDownloads);
        });
    };
    cloudRequest<CloudResult<std::string>>(
        pull->token,
        [inbox = pull->client, item, progress](const CloudInbox::Cancelled& c) {
            return inbox.download(item, cloudItemLimit, progress, c);
        },
        [this, pull](CloudResult<std::string> r) {
            if (auto* f = std::get_if<CloudFailure>(&r)) {
                // Refusals the download itself found (a longer body than listed) are final like the others.
                if (f->is(InboxError::Kind::tooLarge) || f->is(InboxError::Kind::unsupportedType))
                    return refuseCloudItem(pull, f->inbox);
                pull->lastError = f->description();
                pull->requestFailed = true;
                removeCloudRow(pull->item().key);
                ++pull->index;
                return pullNext(pull);
            }
            const auto& item = pull->item();
            UploadIngestRequest request;
            request.tempPath = std::get<std::string>(r);
            request.originalFilename = item.filename;
            if (!item.title.empty()) request.displayName = item.title;
            if (!item.playlist.empty()) request.newPlaylistName = item.playlist;
            request.origin = MediaOrigin::cloud;
            const std::weak_ptr<bool> alive = alive_;
            auto ingest = cloudIngest ? cloudIngest : [this](UploadIngestRequest req, std::function<void(UploadIngestResult)> d) {
                ingestUploadedFile(std::move(req), std::move(d));
            };
            ingest(std::move(request), [this, alive, pull](UploadIngestResult result) {
                if (alive.expired()) return;
                if (result.ok)
                    ++pull->pulled;
                else
                    pull->lastError = pull->item().filename + ": " + result.message;
                recordAndDelete(pull);
            });
        });
}

void AppState::refuseCloudItem(const std::shared_ptr<CloudPull>& pull, const InboxError& why) {
    pull->lastError = pull->item().filename + ": " + why.description();
    recordAndDelete(pull);
}

// The key is recorded before the deletion is asked for, so an item taken in is never downloaded again,
// even when the deletion fails; it leaves the ledger once the service confirms.
void AppState::recordAndDelete(const std::shared_ptr<CloudPull>& pull) {
    const std::string key = pull->item().key;
    pull->ledger.ingested.insert(key);
    Store::saveDoc(pull->ledger, ledgerFile());
    cloudRequest<CloudResult<std::monostate>>(
        pull->token, [inbox = pull->client, key](const CloudInbox::Cancelled& c) { return inbox.deleteItem(key, c); },
        [this, pull, key](CloudResult<std::monostate> r) {
            if (std::holds_alternative<std::monostate>(r)) {
                pull->ledger.ingested.erase(key);
                Store::saveDoc(pull->ledger, ledgerFile());
            } else {
                pull->requestFailed = true;
            }
            removeCloudRow(key);
            ++pull->index;
            pullNext(pull);
        });
}

void AppState::removeCloudRow(const std::string& key) {
    const auto before = cloudDownloads_.size();
    std::erase_if(cloudDownloads_, [&](const CloudDownload& d) { return d.id == key; });
    if (cloudDownloads_.size() != before) notify(Aspect::cloudDownloads);
}

void AppState::finishPull(const std::shared_ptr<CloudPull>& pull) {
    for (std::size_t i = pull->index; i < pull->items.size(); ++i) removeCloudRow(pull->items[i].key);
    // A pull cut short because uploads were switched off leaves the status cleared.
    if (settings_.cloudUploadEnabled || !pull->token.cancelled())
        // A pull that went well still shows that the page keeps the old password, until that is mended.
        setCloudStatus(CloudSyncStatus{appClock().wallMs(), pull->pulled,
                                       pull->lastError ? pull->lastError : passwordWarning(settings_)});
    cloudSyncing_ = false;
    auto waiters = std::exchange(cloudPullWaiters_, {});
    for (auto& w : waiters) w();
    pull->done(pull->requestFailed);
}

void AppState::schedulePlaylistPush() {
    if (!settings_.cloudUploadEnabled) return;
    cloudPlaylistPushTask_.cancel();
    cloudPushRequest_.cancel();
    const std::weak_ptr<bool> alive = alive_;
    // On the boot-time clock, like every wait that may span a sleep of the machine.
    cloudPlaylistPushTask_ = mainQueue().postAfterBoot(cloudPushDelay, [this, alive] {
        if (alive.expired()) return;
        cloudPlaylistPushTask_ = {};
        const auto inbox = cloudInbox();
        if (!inbox) return;
        std::vector<std::string> names;
        for (const Group& g : library.groups()) names.push_back(g.name);
        cloudPushRequest_ = newToken();
        cloudRequest<CloudResult<std::monostate>>(
            cloudPushRequest_,
            [inbox = *inbox, names = std::move(names)](const CloudInbox::Cancelled& c) {
                return inbox.configure(std::nullopt, names, c);
            },
            [](CloudResult<std::monostate>) {});
    });
}

void AppState::stopCloudWork() {
    if (cloudPollTask_) cloudPollTask_->cancel();
    cloudPushRequest_.cancel();
    cloudWorkers_.reset();
}

void AppState::sendCloudOffline() {
    const auto inbox = cloudInbox();
    if (!inbox) return;
    cloudRequest<bool>(TaskHandle(), [inbox = *inbox](const CloudInbox::Cancelled& c) {
        inbox.goOffline(c);
        return true;
    }, [](bool) {});
}

}  // namespace ombry
