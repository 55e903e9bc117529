#pragma once
// A strict reader of request targets as URI references (RFC 3986). Remote commands are matched on the
// decoded path and query, so a target that a tolerant reader would repair (a raw space, a stray percent
// sign, a character that must be encoded) is refused here instead of being guessed at.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombry {

struct UriQueryItem {
    std::string name;                  // percent-decoded
    std::optional<std::string> value;  // percent-decoded; absent when the item has no "="

    bool operator==(const UriQueryItem&) const = default;
};

struct UriReference {
    std::string path;                    // percent-decoded
    std::optional<std::string> query;    // as written, without the "?"; absent without a "?"
    std::vector<UriQueryItem> queryItems;  // the query split on "&", in order

    // Nothing when the text is not a URI reference. A text that starts with "/" is a path with an optional
    // query and fragment, as an HTTP request target is: "//a/b" is the path "//a/b", not the host "a".
    // Otherwise an absolute URI ("scheme:" and the rest, authority checked and dropped) or a relative
    // path. Every percent sign must start an escape, and decoded text must be UTF-8.
    static std::optional<UriReference> parse(std::string_view text);

    // The first item with this name; its value, or nothing when it is missing or has no "=".
    std::optional<std::string> value(std::string_view name) const;
};

// Percent-decodes; nothing when a "%" is not followed by two hexadecimal digits or the result is not UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace ombry
