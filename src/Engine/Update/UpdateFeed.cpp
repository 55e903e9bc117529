#include "Engine/Update/UpdateFeed.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>

#include <nlohmann/json.hpp>

#include "Engine/Model/TextBytes.hpp"
#include "Engine/Net/HttpTransfer.hpp"

namespace ombry {

namespace {

std::vector<std::string> parts(const std::string& v) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : v) {
        if (c == '.') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    out.push_back(cur);
    // "1.2" and "1.2.0" are the same version.
    while (out.size() > 1 && out.back() == "0") out.pop_back();
    return out;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

int comparePart(const std::string& a, const std::string& b) {
    const bool na = allDigits(a), nb = allDigits(b);
    if (na && nb) {
        // Leading zeros aside, a longer run of digits is the larger number (no overflow for long ones).
        const auto strip = [](const std::string& s) {
            const auto first = s.find_first_not_of('0');
            return first == std::string::npos ? std::string("0") : s.substr(first);
        };
        const std::string x = strip(a), y = strip(b);
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        return x.compare(y) < 0 ? -1 : x.compare(y) > 0 ? 1 : 0;
    }
    if (na != nb) return na ? 1 : -1;  // "1.0.1" is after "1.0.beta"
    return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

}  // namespace

std::set<std::string> UpdateFeed::allowedChannels(bool receiveBetaUpdates) {
    if (receiveBetaUpdates) return {"beta"};
    return {};
}

int UpdateFeed::compareVersions(const std::string& a, const std::string& b) {
    const auto pa = parts(a), pb = parts(b);
    for (size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const std::string x = i < pa.size() ? pa[i] : "0", y = i < pb.size() ? pb[i] : "0";
        if (int c = comparePart(x, y)) return c;
    }
    return 0;
}

std::variant<std::vector<UpdateItem>, std::string> UpdateFeed::parse(const std::string& json) {
    const auto doc = nlohmann::json::parse(json, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("items") || !doc["items"].is_array())
        return std::string("The update feed could not be read.");
    std::vector<UpdateItem> items;
    for (const auto& entry : doc["items"]) {
        if (!entry.is_object()) continue;
        const auto text = [&](const char* key) -> std::optional<std::string> {
            auto it = entry.find(key);
            if (it == entry.end() || !it->is_string()) return std::nullopt;
            return it->get<std::string>();
        };
        UpdateItem item;
        item.version = text("version").value_or("");
        if (item.version.empty()) continue;
        item.channel = text("channel");
        if (item.channel && item.channel->empty()) item.channel.reset();
        item.notesHTML = text("notesHTML");
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<UpdateItem> UpdateFeed::newest(const std::vector<UpdateItem>& items, const std::string& current,
                                             const std::set<std::string>& allowed) {
    std::optional<UpdateItem> best;
    for (const UpdateItem& item : items) {
        if (item.channel && !allowed.count(*item.channel)) continue;
        if (compareVersions(item.version, current) <= 0) continue;
        if (!best || compareVersions(item.version, best->version) > 0) best = item;
    }
    return best;
}

std::variant<std::string, std::string> UpdateFeed::fetch(const std::string& url, const std::atomic<bool>* stop,
                                                         double timeLimitSeconds) {
    using Result = std::variant<std::string, std::string>;
    const auto failed = [](std::string why) { return Result(std::in_place_index<1>, std::move(why)); };
    HttpRequest r;
    r.url = url;
    r.followRedirects = 5;
    r.timeLimit = timeLimitSeconds;
    if (stop) r.cancelled = [stop] { return stop->load(); };
    CappedBody body(maxBytes);
    const HttpOutcome o = performHttp(r, body);
    if (body.tooLong) return failed("the update feed is too large");
    if (o.end == HttpOutcome::End::cancelled) return failed("the check was cancelled");
    if (o.end != HttpOutcome::End::answered) return failed(o.error);
    if (o.status < 200 || o.status > 299) return failed("the update server answered " + std::to_string(o.status));
    return Result(std::in_place_index<0>, std::move(body.text));
}

std::string UpdateFeed::feedURL(const std::filesystem::path& appInfo) {
    std::ifstream in(appInfo);
    if (!in) return {};
    const auto doc = nlohmann::json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return {};
    auto it = doc.find("feedURL");
    return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
}

const std::string& UpdateNotes::styleBlock() {
    static const std::string block =
        "<style>\n"
        "  body { font-family: -apple-system, sans-serif; font-size: 13px;\n"
        "         color: #E9F0F6; margin: 0; }\n"
        "  h2 { font-size: 14px; margin: 0 0 6px; }\n"
        "  ul { margin: 0; padding-left: 18px; }\n"
        "  li { margin-bottom: 4px; }\n"
        "  p { margin: 0 0 6px; }\n"
        "</style>";
    return block;
}

std::optional<std::string> UpdateNotes::document(const std::optional<std::string>& storedVersion,
                                                 const std::optional<std::string>& storedHTML,
                                                 const std::string& version) {
    if (!storedVersion || *storedVersion != version) return std::nullopt;
    if (!storedHTML || !isUtf8(*storedHTML)) return std::nullopt;
    return styleBlock() + *storedHTML;
}

}  // namespace ombry
