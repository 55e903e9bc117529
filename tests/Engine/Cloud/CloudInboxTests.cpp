// The inbox client against the loopback fake service: the wire protocol, the answers it accepts and
// refuses, the streamed download with its limits and progress, time-outs as silence, and cancellation.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "Engine/Cloud/CloudInbox.hpp"
#include "Engine/Library/Store.hpp"
#include "Platform/Clock.hpp"
#include "FakeInbox.hpp"
#include "support/TestEnv.hpp"

namespace ombry {
namespace {

namespace fs = std::filesystem;
using test::FakeInbox;
using Clock = std::chrono::steady_clock;
constexpr std::int64_t block = std::int64_t(CloudInbox::downloadBlock);

template <class T>
CloudFailure failureOf(const CloudResult<T>& r) {
    EXPECT_TRUE(std::holds_alternative<CloudFailure>(r)) << "expected a failure";
    return std::holds_alternative<CloudFailure>(r) ? std::get<CloudFailure>(r) : CloudFailure::transport("no failure");
}

std::vector<fs::path> incoming() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Store::mediaIncomingDir(), ec)) out.push_back(e.path());
    return out;
}

// A clock that moves on by `step` each time it is read.
class SteppingClock final : public ::ombry::Clock {
public:
    explicit SteppingClock(double step) : step_(step) {}
    double monotonic() const override { return now_.fetch_add(step_) + step_; }
    double wallMs() const override { return 1.7e12; }
    double boottime() const override { return now_.load(); }
    // The time of the last reading, without moving on.
    double seen() const { return now_.load(); }

private:
    double step_;
    mutable std::atomic<double> now_{0};
};

class CloudInboxTest : public ::testing::Test {
protected:
    FakeInbox service;
    CloudInbox::Timeouts saved = CloudInbox::timeouts();

    void SetUp() override {
        std::error_code ec;
        fs::remove_all(Store::mediaIncomingDir(), ec);
        fs::create_directories(Store::mediaIncomingDir());
    }
    void TearDown() override {
        CloudInbox::timeouts() = saved;
        EXPECT_TRUE(incoming().empty()) << "a file was left in the incoming folder";
        std::error_code ec;
        fs::remove_all(Store::mediaIncomingDir(), ec);
    }
    CloudInbox client(const std::string& path = "") const {
        return {service.origin() + path, service.inboxId, service.appSecret};
    }
    static CloudInbox::PendingItem item(std::string filename, std::int64_t size, std::string key = "k1") {
        return {std::move(key), size, std::move(filename), "", "", ""};
    }
    // Answers every file request with this.
    void fileAnswer(FakeInbox::Answer a) {
        service.setScript([a](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
            if (r.path.ends_with("/app/file")) return a;
            return std::nullopt;
        });
    }
};

TEST(CloudInboxAddress, ServiceURLNormalisesOrRefuses) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases{
        {"https://inbox.example", "https://inbox.example"},
        {"  http://127.0.0.1:9/base/  \n", "http://127.0.0.1:9/base"},
        {"http://h///", "http://h"},
        {"\t\u00a0https://h/x\u2028", "https://h/x"},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"///", std::nullopt},
        {" / / ", std::nullopt},
        {"ftp://h", std::nullopt},
        {"file:///tmp", std::nullopt},
        {"inbox.example", std::nullopt},
        {"http://", std::nullopt},
        {"http://exa mple", std::nullopt},
    };
    for (const auto& [typed, want] : cases) EXPECT_EQ(CloudInbox::serviceURL(typed), want) << "\"" << typed << "\"";
}

TEST(CloudInboxAddress, ErrorsHaveTheirTextsAndEquality) {
    EXPECT_EQ(InboxError::http(401).description(), "the service no longer recognizes this app's inbox credentials");
    EXPECT_EQ(InboxError::http(404).description(), "this app's inbox no longer exists on the service");
    EXPECT_EQ(InboxError::http(204).description(), "inbox service returned HTTP 204");
    EXPECT_EQ(InboxError::of(InboxError::Kind::badResponse).description(), "unexpected response from the inbox service");
    EXPECT_EQ(InboxError::of(InboxError::Kind::tooLarge).description(), "file is larger than this app accepts");
    EXPECT_EQ(InboxError::of(InboxError::Kind::unsupportedType).description(), "unsupported file type");
    EXPECT_EQ(InboxError::http(500), InboxError::http(500));
    EXPECT_NE(InboxError::http(500), InboxError::http(502));
    EXPECT_NE(InboxError::http(500), InboxError::of(InboxError::Kind::badResponse));
}

TEST(CloudInboxAddress, UploadPasswordsAreAdjectiveAnimalAndFourDigits) {
    ASSERT_EQ(CloudInbox::adjectives().size(), 48u);
    ASSERT_EQ(CloudInbox::animals().size(), 48u);
    const std::set<std::string> adjectives(CloudInbox::adjectives().begin(), CloudInbox::adjectives().end());
    const std::set<std::string> animals(CloudInbox::animals().begin(), CloudInbox::animals().end());
    std::set<std::string> seenAdjectives, seenAnimals, passwords;
    int low = 9999, high = 1000;
    const std::regex form("([a-z]+)-([a-z]+)-([0-9]{4})");
    for (int i = 0; i < 3000; ++i) {
        const std::string p = CloudInbox::makeUploadPassword();
        std::smatch m;
        ASSERT_TRUE(std::regex_match(p, m, form)) << p;
        ASSERT_TRUE(adjectives.count(m[1])) << p;
        ASSERT_TRUE(animals.count(m[2])) << p;
        ASSERT_GE(p.size(), 12u);
        ASSERT_LE(p.size(), 19u);
        const int n = std::stoi(m[3]);
        low = std::min(low, n);
        high = std::max(high, n);
        seenAdjectives.insert(m[1]);
        seenAnimals.insert(m[2]);
        passwords.insert(p);
    }
    EXPECT_GE(low, 1000);
    EXPECT_LE(high, 9999);
    // 3000 draws of 48 words miss one with a chance of about 1e-26: a stuck or narrowed draw stands out.
    EXPECT_EQ(seenAdjectives.size(), 48u);
    EXPECT_EQ(seenAnimals.size(), 48u);
    EXPECT_GT(passwords.size(), 2990u);
}

TEST(CloudInboxAddress, LedgerReadsAndWritesItsKeys) {
    const CloudLedger l{{"b", "a"}};
    EXPECT_EQ(encodeJson(l), (Json{{"ingested", {"a", "b"}}}));
    EXPECT_EQ(decodeJson<CloudLedger>(Json{{"ingested", {"x"}}, {"extra", 1}}), (CloudLedger{{"x"}}));
    EXPECT_THROW(decodeJson<CloudLedger>(Json::object()), DecodeError);
}

TEST_F(CloudInboxTest, RequestsKeepTheBasePathAndCarryTheProtocol) {
    FakeInbox::Item upload{.key = "k 1&x=ü/?", .size = 3, .filename = "a.mp4", .content = "abc"};
    service.addItem(upload);
    const auto reg = CloudInbox::registerInbox(service.origin() + "/svc/v1/");
    ASSERT_TRUE(std::holds_alternative<CloudInbox::Registration>(reg)) << failureOf(reg).description();
    EXPECT_EQ(std::get<CloudInbox::Registration>(reg), (CloudInbox::Registration{"inbox-1", "secret-1"}));

    const CloudInbox c = client("/svc/v1");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(c.configure("pw", std::vector<std::string>{"A"})));
    const auto items = c.wait();
    ASSERT_TRUE(std::holds_alternative<std::vector<CloudInbox::PendingItem>>(items));
    ASSERT_EQ(std::get<0>(items).size(), 1u);
    const auto file = c.download(std::get<0>(items)[0], 100);
    ASSERT_TRUE(std::holds_alternative<std::string>(file)) << failureOf(file).description();
    EXPECT_EQ(test::readFile(std::get<std::string>(file)), "abc");
    fs::remove(std::get<std::string>(file));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(c.deleteItem(upload.key)));
    c.goOffline();

    const auto rs = service.requests();
    ASSERT_EQ(rs.size(), 6u);
    struct Want {
        const char* method;
        const char* path;
        std::map<std::string, std::string> query;
        bool secret;
        bool json;
    };
    const std::vector<Want> want{
        {"POST", "/svc/v1/api/register", {}, false, true},
        {"POST", "/svc/v1/u/inbox-1/app/config", {}, true, true},
        {"GET", "/svc/v1/u/inbox-1/app/wait", {{"timeout", "55"}}, true, false},
        {"GET", "/svc/v1/u/inbox-1/app/file", {{"key", upload.key}}, true, false},
        {"DELETE", "/svc/v1/u/inbox-1/app/file", {{"key", upload.key}}, true, false},
        {"POST", "/svc/v1/u/inbox-1/app/offline", {}, true, false},
    };
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].path);
        EXPECT_EQ(rs[i].method, want[i].method);
        EXPECT_EQ(rs[i].path, want[i].path);
        EXPECT_EQ(rs[i].query, want[i].query);
        EXPECT_EQ(rs[i].headers.count("x-app-secret") ? rs[i].headers.at("x-app-secret") : "", want[i].secret ? "secret-1" : "");
        EXPECT_EQ(rs[i].headers.count("content-type") ? rs[i].headers.at("content-type") : "",
                  want[i].json ? "application/json" : "");
        if (!want[i].json) {
            EXPECT_EQ(rs[i].body, "");
        }
    }
    // The key travels encoded as a query value: nothing of it reads as a separator.
    EXPECT_EQ(rs[3].target.find('&'), std::string::npos);
    EXPECT_EQ(rs[0].body, R"({"app":"ombry"})");
    EXPECT_EQ(rs[1].body, R"({"password":"pw","playlists":["A"]})");
}

TEST_F(CloudInboxTest, ConfigureSendsOnlyWhatItIsGiven) {
    const CloudInbox c = client();
    EXPECT_TRUE(std::holds_alternative<std::monostate>(c.configure(std::nullopt, std::nullopt)));
    EXPECT_TRUE(service.requests().empty());
    c.configure(std::nullopt, std::vector<std::string>{});
    c.configure(std::string(), std::nullopt);
    c.configure(std::string("p \"q\""), std::vector<std::string>{"Main show", "Ünïcode"});
    const auto rs = service.requests();
    ASSERT_EQ(rs.size(), 3u);
    EXPECT_EQ(rs[0].body, R"({"playlists":[]})");
    EXPECT_EQ(rs[1].body, R"({"password":""})");
    EXPECT_EQ(Json::parse(rs[2].body), (Json{{"password", "p \"q\""}, {"playlists", {"Main show", "Ünïcode"}}}));
    EXPECT_EQ(rs[2].body.find(": "), std::string::npos) << "compact JSON";
}

TEST_F(CloudInboxTest, RegisterWithAnUnusableAddressSendsNothing) {
    for (const char* typed : {"", "  ", "ftp://127.0.0.1", "not a url"})
        EXPECT_TRUE(failureOf(CloudInbox::registerInbox(typed)).is(InboxError::Kind::badResponse)) << typed;
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(CloudInboxTest, AnswersDecodeStrictlyAndIgnoreExtraKeys) {
    const std::string good = R"({"key":"k","size":5,"filename":"a.mp4","title":"T","playlist":"P","uploaded":"x","more":1})";
    struct Case {
        std::string body;
        bool ok;
    };
    const std::vector<Case> cases{
        {R"({"items":[)" + good + R"(],"cursor":"z"})", true},
        {R"({"items":[]})", true},
        {R"({"items":[{"key":"k","size":5,"filename":"a.mp4","title":"T","playlist":"P"}]})", false},  // no "uploaded"
        {R"({"items":[{"key":"k","size":"5","filename":"a.mp4","title":"T","playlist":"P","uploaded":"x"}]})", false},
        {R"({"things":[]})", false},
        {"not json", false},
        {"", false},
    };
    const CloudInbox c = client();
    for (const auto& k : cases) {
        service.setScript([&](const FakeInbox::Request&) { return FakeInbox::Answer{.body = k.body}; });
        const auto r = c.wait();
        if (k.ok) {
            ASSERT_TRUE(std::holds_alternative<std::vector<CloudInbox::PendingItem>>(r)) << k.body;
        } else {
            EXPECT_EQ(failureOf(r).kind, CloudFailure::Kind::decoding) << k.body;
        }
    }
    service.setScript([&](const FakeInbox::Request&) { return FakeInbox::Answer{.body = "{\"items\":[" + good + "]}"}; });
    const auto r = c.wait();
    ASSERT_TRUE(std::holds_alternative<std::vector<CloudInbox::PendingItem>>(r));
    EXPECT_EQ(std::get<0>(r).at(0), (CloudInbox::PendingItem{"k", 5, "a.mp4", "T", "P", "x"}));
    // Registration answers are as strict.
    service.setScript([](const FakeInbox::Request&) { return FakeInbox::Answer{.body = R"({"inboxId":"i"})"}; });
    EXPECT_EQ(failureOf(CloudInbox::registerInbox(service.origin())).kind, CloudFailure::Kind::decoding);
}

TEST_F(CloudInboxTest, StatusesOtherThan200FailWithTheirTexts) {
    const CloudInbox c = client();
    for (int status : {204, 201, 301, 401, 404, 500, 503}) {
        service.setScript([status](const FakeInbox::Request&) { return FakeInbox::Answer{.status = status, .body = "{\"items\":[]}"}; });
        const auto f = failureOf(c.wait());
        EXPECT_EQ(f.kind, CloudFailure::Kind::inbox) << status;
        EXPECT_EQ(f.inbox, InboxError::http(status));
        EXPECT_EQ(f.description(), InboxError::http(status).description());
        EXPECT_EQ(failureOf(c.deleteItem("k")).inbox, InboxError::http(status));
        EXPECT_EQ(failureOf(c.configure("p", std::nullopt)).inbox, InboxError::http(status));
        EXPECT_EQ(failureOf(c.download(item("a.mp4", 1), 10)).inbox, InboxError::http(status));
    }
    EXPECT_EQ(failureOf(c.wait()).description(), "inbox service returned HTTP 503");
}

TEST_F(CloudInboxTest, AHugeAnswerIsRefusedWithoutBeingHeld) {
    // A gigabyte of "JSON": the client stops reading at its cap.
    service.setScript([](const FakeInbox::Request&) {
        return FakeInbox::Answer{.generated = std::int64_t(1) << 30};
    });
    const auto start = Clock::now();
    EXPECT_TRUE(failureOf(client().wait()).is(InboxError::Kind::badResponse));
    EXPECT_TRUE(failureOf(CloudInbox::registerInbox(service.origin())).is(InboxError::Kind::badResponse));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 20.0);
}

TEST_F(CloudInboxTest, DownloadRefusesBeforeAnyRequest) {
    const CloudInbox c = client();
    for (const char* name : {"notes.docx", "clip", "clip.", ".mp4", "archive.tar.gz"})
        EXPECT_TRUE(failureOf(c.download(item(name, 1), 10)).is(InboxError::Kind::unsupportedType)) << name;
    EXPECT_TRUE(failureOf(c.download(item("big.mp4", 11), 10)).is(InboxError::Kind::tooLarge));
    EXPECT_TRUE(service.requests().empty());
    // A size equal to the limit is asked for.
    fileAnswer({.body = "0123456789"});
    const auto r = c.download(item("exact.mp4", 10), 10);
    ASSERT_TRUE(std::holds_alternative<std::string>(r)) << failureOf(r).description();
    fs::remove(std::get<std::string>(r));
    EXPECT_EQ(service.requests().size(), 1u);
}

TEST_F(CloudInboxTest, DestinationIsAFreshUuidWithTheExtensionAsWritten) {
    fileAnswer({.body = "x"});
    const CloudInbox c = client();
    std::set<std::string> names;
    for (const char* name : {"Clip.MOV", "dir/sub/photo.Jpeg", "two.parts.mp3", "Clip.MOV"}) {
        const auto r = c.download(item(name, 1), 10);
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << name;
        const fs::path p = std::get<std::string>(r);
        EXPECT_EQ(p.parent_path(), Store::mediaIncomingDir());
        const std::string file = p.filename().string();
        EXPECT_TRUE(std::regex_match(file, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\..+"))) << file;
        EXPECT_EQ(file.substr(37), CloudInbox::extensionOf(name));
        names.insert(file);
        fs::remove(p);
    }
    EXPECT_EQ(CloudInbox::extensionOf("Clip.MOV"), "MOV");
    EXPECT_EQ(CloudInbox::extensionOf("dir/sub/photo.Jpeg"), "Jpeg");
    EXPECT_EQ(names.size(), 4u);
}

TEST_F(CloudInboxTest, AnAnnouncedLengthOverTheLimitFailsBeforeAFileIsMade) {
    // The head promises too much and then nothing comes: the client must not wait for the body, nor make a
    // file for it.
    fileAnswer({.announced = 11, .stallAfterHeaders = true});
    CloudInbox::timeouts().download = 30;
    const auto start = Clock::now();
    EXPECT_TRUE(failureOf(client().download(item("a.mp4", 1), 10)).is(InboxError::Kind::tooLarge));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
    EXPECT_TRUE(incoming().empty());
}

TEST_F(CloudInboxTest, TheLimitHoldsWhileStreamingAtEveryBlock) {
    struct Case {
        const char* name;
        std::int64_t body;
        std::int64_t limit;
        bool ok;
    };
    const std::vector<Case> cases{
        {"past the limit in a full block", 3 * block, 2 * block + 10, false},
        {"past the limit in the final short block", block + 1000, block + 999, false},
        {"exactly the limit", 2 * block + 7, 2 * block + 7, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        // Without an announced length the body ends with the connection.
        fileAnswer({.generated = k.body, .announce = false});
        const auto r = client().download(item("a.webm", 1), k.limit);
        if (k.ok) {
            ASSERT_TRUE(std::holds_alternative<std::string>(r)) << failureOf(r).description();
            EXPECT_EQ(std::int64_t(fs::file_size(std::get<std::string>(r))), k.body);
            fs::remove(std::get<std::string>(r));
        } else {
            EXPECT_TRUE(failureOf(r).is(InboxError::Kind::tooLarge));
        }
        EXPECT_TRUE(incoming().empty());
    }
}

TEST_F(CloudInboxTest, ProgressComesAtBlockBoundariesAtMostEveryFifthOfASecondThenOnceAtTheEnd) {
    // Each look at the clock finds it 0.07 s later: a download whose every block takes that long to arrive,
    // however fast the machine really is.
    SteppingClock clock(0.07);
    setAppClock(&clock);
    struct Restore {
        ~Restore() { setAppClock(nullptr); }
    } restore;
    struct Case {
        std::int64_t size;
        std::size_t alongTheWay;  // calls before the final one
    };
    for (const Case k : {Case{0, 0}, Case{3 * block + 5, 1}, Case{4 * block, 1}, Case{12 * block, 4}}) {
        SCOPED_TRACE(k.size);
        fileAnswer({.generated = k.size});
        std::vector<std::pair<double, std::int64_t>> calls;
        const auto r = client().download(item("a.mp4", k.size), k.size,
                                         [&](std::int64_t n) { calls.emplace_back(clock.seen(), n); });
        ASSERT_TRUE(std::holds_alternative<std::string>(r)) << failureOf(r).description();
        const std::string body = test::readFile(std::get<std::string>(r));
        ASSERT_EQ(std::int64_t(body.size()), k.size);
        for (std::int64_t i = 0; i < k.size; i += 4099) ASSERT_EQ(body[size_t(i)], FakeInbox::patternByte(i));
        fs::remove(std::get<std::string>(r));
        ASSERT_EQ(calls.size(), k.alongTheWay + 1);
        EXPECT_EQ(calls.back().second, k.size) << "one final call with the whole count";
        for (size_t i = 0; i + 1 < calls.size(); ++i) {
            EXPECT_EQ(calls[i].second % block, 0) << "at block boundaries only";
            EXPECT_LE(calls[i].second, calls[i + 1].second);
            if (i > 0) {
                EXPECT_LT(calls[i - 1].second, calls[i].second);
                EXPECT_GT(calls[i].first - calls[i - 1].first, CloudInbox::progressInterval) << "at most every 0.2 s";
            }
        }
    }
}

TEST_F(CloudInboxTest, EveryFailedDownloadLeavesNoFile) {
    CloudInbox::timeouts().download = 0.5;
    std::atomic<bool> cancel{false};
    struct Case {
        const char* name;
        FakeInbox::Answer answer;
        bool cancelLater = false;
    };
    const std::vector<Case> cases{
        {"status 500", {.status = 500, .generated = 3 * block}},
        {"the stream breaks", {.generated = 3 * block, .stallAfter = block + 17, .closeEarly = true}},
        {"silence mid-body", {.generated = 3 * block, .stallAfter = 2 * block + 3}},
        {"cancelled mid-body", {.generated = 3 * block, .stallAfter = 2 * block}, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        fileAnswer(k.answer);
        cancel = false;
        if (k.cancelLater) CloudInbox::timeouts().download = 30;
        std::thread canceller;
        if (k.cancelLater)
            canceller = std::thread([&] {
                // Mid-body: once the two blocks sent are written.
                service.waitFor([&] {
                    std::error_code ec;
                    const auto files = incoming();
                    return files.size() == 1 && fs::file_size(files[0], ec) == std::uintmax_t(2 * block);
                });
                cancel = true;
            });
        const auto start = Clock::now();
        const auto r = client().download(item("a.mp4", 1), 10 * block, {}, [&] { return cancel.load(); });
        if (canceller.joinable()) canceller.join();
        const CloudFailure f = failureOf(r);
        EXPECT_FALSE(f.is(InboxError::Kind::tooLarge));
        EXPECT_EQ(f.cancelled, k.cancelLater);
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
        EXPECT_TRUE(incoming().empty());
        service.setScript({});
        CloudInbox::timeouts().download = 0.5;
    }
}

TEST_F(CloudInboxTest, ATimeOutIsSilenceNotLength) {
    // Real silence on a real socket: the margins leave room for a machine whose every core is busy.
    CloudInbox::timeouts().wait = 1.0;
    CloudInbox::timeouts().download = 1.0;
    const CloudInbox c = client();
    // An answer held a while, but within the silence it tolerates, is taken.
    service.setScript([](const FakeInbox::Request& r) -> std::optional<FakeInbox::Answer> {
        if (r.path.ends_with("/app/wait")) return FakeInbox::Answer{.body = R"({"items":[]})", .delay = 0.3};
        return FakeInbox::Answer{.generated = 8 * block, .bytesPerSecond = 1.5e6};  // about 1.4 s in all
    });
    EXPECT_TRUE(std::holds_alternative<std::vector<CloudInbox::PendingItem>>(c.wait()));
    const auto file = c.download(item("a.mp4", 1), 10 * block);
    ASSERT_TRUE(std::holds_alternative<std::string>(file)) << failureOf(file).description();
    fs::remove(std::get<std::string>(file));
    // One that says nothing is cut off after about the silence.
    service.setScript([](const FakeInbox::Request&) { return FakeInbox::Answer{.silent = true}; });
    const auto start = Clock::now();
    const CloudFailure f = failureOf(c.wait());
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(f.kind, CloudFailure::Kind::transport);
    EXPECT_EQ(f.description(), "the inbox service did not answer in time");
    EXPECT_GT(took, 0.9);
    EXPECT_LT(took, 4.0);
}

TEST_F(CloudInboxTest, GoOfflineEndsWithinTwoSecondsWhateverTheService) {
    service.setScript([](const FakeInbox::Request&) { return FakeInbox::Answer{.silent = true}; });
    for (const CloudInbox& c : {client(), CloudInbox{"http://127.0.0.1:1", "i", "s"}}) {
        const auto start = Clock::now();
        c.goOffline();
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.6);
    }
    EXPECT_EQ(service.count("POST", "/u/inbox-1/app/offline"), 1u);
}

TEST_F(CloudInboxTest, CancellingAHeldPollEndsItPromptly) {
    service.setScript([](const FakeInbox::Request&) { return FakeInbox::Answer{.silent = true}; });
    std::atomic<bool> cancel{false};
    std::thread t([&] {
        service.waitFor([&] { return service.requests().size() == 1; });
        cancel = true;
    });
    const auto start = Clock::now();
    const CloudFailure f = failureOf(client().wait([&] { return cancel.load(); }));
    t.join();
    EXPECT_TRUE(f.cancelled);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
}

TEST_F(CloudInboxTest, NoServiceIsATransportFailure) {
    const CloudInbox c{"http://127.0.0.1:1", "i", "s"};
    const CloudFailure f = failureOf(c.wait());
    EXPECT_EQ(f.kind, CloudFailure::Kind::transport);
    EXPECT_FALSE(f.cancelled);
    EXPECT_NE(f.description().find("couldn't reach the inbox service"), std::string::npos) << f.description();
}

}  // namespace
}  // namespace ombry
