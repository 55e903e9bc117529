#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <mutex>

#include "Platform/Dnssd/Advertiser.hpp"

namespace ombry::dnssd {

namespace {

// One registration: its own poll thread, client and entry group. Callbacks run on the poll thread.
class AvahiRegistration final : public Registration {
public:
    AvahiRegistration(ServiceSpec service, Advertiser::Reply reply) : service_(std::move(service)), reply_(std::move(reply)) {}

    int start() {
        poll_ = avahi_threaded_poll_new();
        if (!poll_) return AVAHI_ERR_NO_MEMORY;
        int error = 0;
        // Without the daemon this fails at once (AVAHI_ERR_NO_DAEMON): reported, and retried by the caller.
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0), &AvahiRegistration::onClient,
                                   this, &error);
        if (!client_) return error ? error : AVAHI_ERR_FAILURE;
        if (avahi_threaded_poll_start(poll_) < 0) return AVAHI_ERR_FAILURE;
        running_ = true;
        return 0;
    }

    ~AvahiRegistration() override {
        if (running_) avahi_threaded_poll_stop(poll_);
        if (client_) avahi_client_free(client_);  // frees the entry group too
        if (poll_) avahi_threaded_poll_free(poll_);
    }

private:
    static void onClient(AvahiClient* client, AvahiClientState state, void* context) {
        auto* self = static_cast<AvahiRegistration*>(context);
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING: self->publish(client); break;
            case AVAHI_CLIENT_FAILURE: self->reply_(avahi_client_errno(client), self->service_.name); break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                if (self->group_) avahi_entry_group_reset(self->group_);
                break;
            default: break;
        }
    }

    static void onGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* context) {
        auto* self = static_cast<AvahiRegistration*>(context);
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED: self->reply_(0, self->service_.name); break;
            case AVAHI_ENTRY_GROUP_COLLISION: {
                char* other = avahi_alternative_service_name(self->service_.name.c_str());
                self->service_.name = other;
                avahi_free(other);
                avahi_entry_group_reset(group);
                self->publish(avahi_entry_group_get_client(group));
                break;
            }
            case AVAHI_ENTRY_GROUP_FAILURE:
                self->reply_(avahi_client_errno(avahi_entry_group_get_client(group)), self->service_.name);
                break;
            default: break;
        }
    }

    void publish(AvahiClient* client) {
        if (!group_) group_ = avahi_entry_group_new(client, &AvahiRegistration::onGroup, this);
        if (!group_) return reply_(avahi_client_errno(client), service_.name);
        AvahiStringList* txt = nullptr;
        for (auto it = service_.txt.rbegin(); it != service_.txt.rend(); ++it) txt = avahi_string_list_add(txt, it->c_str());
        int error = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                         AvahiPublishFlags(0), service_.name.c_str(), service_.type.c_str(),
                                                         nullptr, nullptr, service_.port, txt);
        avahi_string_list_free(txt);
        if (error == AVAHI_ERR_COLLISION) {
            char* other = avahi_alternative_service_name(service_.name.c_str());
            service_.name = other;
            avahi_free(other);
            return publish(client);
        }
        if (error == 0) error = avahi_entry_group_commit(group_);
        if (error < 0) reply_(error, service_.name);
    }

    ServiceSpec service_;
    Advertiser::Reply reply_;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    bool running_ = false;
};

class AvahiAdvertiser final : public Advertiser {
public:
    Result registerService(const ServiceSpec& service, Reply reply) override {
        auto registration = std::make_unique<AvahiRegistration>(service, std::move(reply));
        if (const int error = registration->start()) return {nullptr, error};
        return {std::move(registration), 0};
    }
};

}  // namespace

std::unique_ptr<Advertiser> makeAvahiAdvertiser() { return std::make_unique<AvahiAdvertiser>(); }

}  // namespace ombry::dnssd
