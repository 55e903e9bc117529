// The feedback service's client against the loopback fake service: the request it sends, how each answer
// is read, the time limit, redirects and proxies.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Engine/Cloud/FakeInbox.hpp"
#include "Engine/Service/ServiceClient.hpp"

namespace ombry {
namespace {

using test::FakeInbox;

TEST(ServiceClientAddress, OnlyHttpsOrLoopbackMakesAClient) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {"  https://svc.example/base/ \n", "https://svc.example/base"},
        {"https://svc.example///", "https://svc.example"},
        {"HTTPS://svc.example", "HTTPS://svc.example"},
        {"http://127.0.0.1:9", "http://127.0.0.1:9"},
        {"http://127.8.9.10/", "http://127.8.9.10"},
        {"http://localhost:9/x/", "http://localhost:9/x"},
        {"http://LOCALHOST.:9", "http://LOCALHOST.:9"},
        {"http://[::1]:9", "http://[::1]:9"},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"ftp://svc.example", std::nullopt},
        {"svc.example", std::nullopt},
        // Reports name the computer and the user's address: not in the clear to another machine.
        {"http://svc.example", std::nullopt},
        {"http://128.0.0.1", std::nullopt},
        {"http://localhost.svc.example", std::nullopt},
        {"http://[::2]:9", std::nullopt},
        {"http://10.0.0.1", std::nullopt},
    };
    for (const auto& [typed, base] : cases) {
        const auto client = ServiceClient::make(typed);
        EXPECT_EQ(client ? std::optional(client->baseURL) : std::nullopt, base) << typed;
    }
}

TEST(ServiceClientAddress, PathsFollowTheBaseAddressOwnPath) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"https://svc.example", "https://svc.example/v1/feedback"},
        {"https://svc.example/api/", "https://svc.example/api/v1/feedback"},
        {"https://svc.example/api?x=1#f", "https://svc.example/api/v1/feedback"},
    };
    for (const auto& [typed, url] : cases) EXPECT_EQ(ServiceClient::make(typed)->urlFor("/v1/feedback"), url) << typed;
}

class ServiceClientTest : public ::testing::Test {
protected:
    FakeInbox service;
    ServiceClient client() const { return *ServiceClient::make(service.origin() + "/svc/"); }
    void answer(FakeInbox::Answer a) {
        service.setScript([a](const FakeInbox::Request&) { return std::optional<FakeInbox::Answer>(a); });
    }
    ServiceResult post() const { return client().post("/v1/feedback", Json{{"kind", "bug"}, {"subject", "Hi"}}); }
};

TEST_F(ServiceClientTest, PostsCompactJsonToThePathUnderTheBase) {
    answer({.body = R"({"ok":true})"});
    const Json body{{"kind", "feature"}, {"subject", " two  spaces "}, {"message", "a\n\nb \u2014 c"}, {"email", ""}};
    EXPECT_EQ(std::get<Envelope>(client().post("/v1/feedback", body)), (Envelope{true, std::nullopt}));
    const auto rs = service.requests();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].method, "POST");
    EXPECT_EQ(rs[0].target, "/svc/v1/feedback");
    EXPECT_EQ(rs[0].headers.at("content-type"), "application/json");
    EXPECT_EQ(rs[0].headers.count("expect"), 0u);
    EXPECT_EQ(Json::parse(rs[0].body), body);
    EXPECT_EQ(rs[0].body, compactJson(body));
}

TEST_F(ServiceClientTest, EachAnswerIsReadAsTheServiceMeantIt) {
    using K = ServiceError::Kind;
    const std::vector<std::tuple<int, std::string, ServiceResult>> cases{
        {200, R"({"ok":true})", Envelope{true, std::nullopt}},
        {200, R"({"ok":false,"error":"closed for the night","id":7})", Envelope{false, "closed for the night"}},
        {200, R"({"ok":true,"error":null})", Envelope{true, std::nullopt}},
        {200, "", ServiceError::of(K::badResponse)},
        {200, "<html>busy</html>", ServiceError::of(K::badResponse)},
        {200, R"({"error":"no ok"})", ServiceError::of(K::badResponse)},
        {200, R"({"ok":"yes"})", ServiceError::of(K::badResponse)},
        {200, R"({"ok":true,"error":5})", ServiceError::of(K::badResponse)},
        {200, "[true]", ServiceError::of(K::badResponse)},
        {429, R"({"ok":true})", ServiceError::of(K::rateLimited)},
        {429, "", ServiceError::of(K::rateLimited)},
        {201, R"({"ok":true})", ServiceError::http(201)},
        {204, "", ServiceError::http(204)},
        {400, R"({"ok":false})", ServiceError::http(400)},
        {404, "", ServiceError::http(404)},
        {500, R"({"ok":true})", ServiceError::http(500)},
        {503, "down", ServiceError::http(503)},
    };
    for (const auto& [status, body, expected] : cases) {
        answer({.status = status, .body = body});
        EXPECT_EQ(post(), expected) << status << " " << body;
    }
}

TEST_F(ServiceClientTest, ARedirectIsAnAnswerNotFollowed) {
    for (int status : {301, 302, 307, 308}) {
        const std::string elsewhere = service.origin() + "/elsewhere";
        service.setScript([&](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
            if (r.path == "/elsewhere") return FakeInbox::Answer{.body = R"({"ok":true})"};
            return FakeInbox::Answer{.status = status, .headers = "Location: " + elsewhere + "\r\n"};
        });
        const auto before = service.requests().size();
        EXPECT_EQ(post(), ServiceResult(ServiceError::http(status)));
        EXPECT_EQ(service.requests().size(), before + 1) << status;
    }
    EXPECT_EQ(service.count("POST", "/elsewhere"), 0u);
}

TEST_F(ServiceClientTest, AHeldConnectionEndsAtTheTimeLimit) {
    answer({.silent = true});
    ServiceClient c = client();
    c.transferLimit = 0.3;
    const auto r = c.post("/v1/feedback", Json::object());
    ASSERT_TRUE(std::holds_alternative<TransportError>(r));
    EXPECT_TRUE(std::get<TransportError>(r).timedOut);
    // A body that stalls half-way is cut off the same way.
    answer({.body = R"({"ok":true})", .stallAfter = 4});
    const auto stalled = c.post("/v1/feedback", Json::object());
    ASSERT_TRUE(std::holds_alternative<TransportError>(stalled));
    EXPECT_TRUE(std::get<TransportError>(stalled).timedOut);
}

TEST_F(ServiceClientTest, AnOversizedReplyIsUnreadable) {
    answer({.generated = std::int64_t(ServiceClient::maxReplyBytes) + 1});
    EXPECT_EQ(post(), ServiceResult(ServiceError::of(ServiceError::Kind::badResponse)));
}

TEST_F(ServiceClientTest, NoServiceListeningIsATransportError) {
    const std::string gone = [] {
        FakeInbox closed;
        return closed.origin();
    }();
    const auto r = ServiceClient::make(gone)->post("/v1/feedback", Json::object());
    ASSERT_TRUE(std::holds_alternative<TransportError>(r));
    EXPECT_FALSE(std::get<TransportError>(r).timedOut);
}

TEST_F(ServiceClientTest, CancellingEndsTheRequest) {
    answer({.silent = true});
    const auto r = client().post("/v1/feedback", Json::object(), [] { return true; });
    ASSERT_TRUE(std::holds_alternative<TransportError>(r));
    EXPECT_FALSE(std::get<TransportError>(r).timedOut);
}

TEST_F(ServiceClientTest, ALoopbackServiceIsReachedPastAProxyOfTheEnvironment) {
    answer({.body = R"({"ok":true})"});
    struct Env {
        std::map<std::string, std::optional<std::string>> saved;
        Env() {
            for (const char* k : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
                const char* v = std::getenv(k);
                saved[k] = v ? std::optional<std::string>(v) : std::nullopt;
            }
            for (const char* k : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::setenv(k, "http://127.0.0.1:9", 1);
            ::unsetenv("no_proxy");
            ::unsetenv("NO_PROXY");
        }
        ~Env() {
            for (const auto& [k, v] : saved) v ? (void)::setenv(k.c_str(), v->c_str(), 1) : (void)::unsetenv(k.c_str());
        }
    } env;
    EXPECT_EQ(post(), ServiceResult(Envelope{true, std::nullopt}));
    EXPECT_EQ(service.requests().size(), 1u);
}

}  // namespace
}  // namespace ombry
