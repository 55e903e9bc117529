#include "Engine/Control/UriReference.hpp"

#include <arpa/inet.h>

#include "Engine/Model/TextBytes.hpp"

namespace ombry {
namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c) {
    switch (c) {
        case '!': case '$': case '&': case '\'': case '(': case ')':
        case '*': case '+': case ',': case ';': case '=': return true;
        default: return false;
    }
}
bool isPchar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@'; }

// Every character allowed by `allowed`, or a percent sign starting a well-formed escape.
template <class Allowed>
bool onlyChars(std::string_view s, Allowed allowed) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            if (i + 2 >= s.size() || hexValue(s[i + 1]) < 0 || hexValue(s[i + 2]) < 0) return false;
            i += 2;
        } else if (!allowed(s[i])) {
            return false;
        }
    }
    return true;
}

bool validPath(std::string_view s) {
    return onlyChars(s, [](char c) { return isPchar(c) || c == '/'; });
}
bool validQueryOrFragment(std::string_view s) {
    return onlyChars(s, [](char c) { return isPchar(c) || c == '/' || c == '?'; });
}

bool validHost(std::string_view host) {
    if (host.empty() || host.front() != '[')
        return onlyChars(host, [](char c) { return isUnreserved(c) || isSubDelim(c); });  // reg-name, IPv4
    if (host.size() < 2 || host.back() != ']') return false;
    const std::string_view literal = host.substr(1, host.size() - 2);
    if (!literal.empty() && (literal.front() == 'v' || literal.front() == 'V')) {  // IPvFuture
        const std::size_t dot = literal.find('.');
        if (dot == std::string_view::npos || dot < 2 || dot + 1 == literal.size()) return false;
        for (char c : literal.substr(1, dot - 1))
            if (hexValue(c) < 0) return false;
        for (char c : literal.substr(dot + 1))
            if (!isUnreserved(c) && !isSubDelim(c) && c != ':') return false;
        return true;
    }
    in6_addr addr;
    return inet_pton(AF_INET6, std::string(literal).c_str(), &addr) == 1;
}

bool validAuthority(std::string_view authority) {
    std::string_view hostPort = authority;
    if (const std::size_t at = authority.find('@'); at != std::string_view::npos) {
        const std::string_view userinfo = authority.substr(0, at);
        if (!onlyChars(userinfo, [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; })) return false;
        hostPort = authority.substr(at + 1);
    }
    // The port follows the last colon that is outside an IP literal.
    std::string_view host = hostPort, port;
    const std::size_t close = hostPort.rfind(']');
    const std::size_t colon = hostPort.rfind(':');
    if (colon != std::string_view::npos && (close == std::string_view::npos || colon > close)) {
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
    }
    for (char c : port)
        if (!isDigit(c)) return false;
    return validHost(host);
}

}  // namespace

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (!isUtf8(out)) return std::nullopt;
    return out;
}

std::optional<UriReference> UriReference::parse(std::string_view text) {
    std::string_view rest = text;
    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos) {
        if (!validQueryOrFragment(rest.substr(hash + 1))) return std::nullopt;
        rest = rest.substr(0, hash);
    }
    std::optional<std::string_view> query;
    if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
        query = rest.substr(mark + 1);
        if (!validQueryOrFragment(*query)) return std::nullopt;
        rest = rest.substr(0, mark);
    }

    std::string_view path = rest;
    if (!rest.empty() && rest.front() != '/') {
        std::size_t i = 0;
        if (isAlpha(rest[0]))
            while (i < rest.size() && (isAlpha(rest[i]) || isDigit(rest[i]) || rest[i] == '+' || rest[i] == '-' ||
                                       rest[i] == '.'))
                ++i;
        if (i > 0 && i < rest.size() && rest[i] == ':') {
            // An absolute URI: only its path is a command path.
            std::string_view hier = rest.substr(i + 1);
            if (hier.starts_with("//")) {
                hier.remove_prefix(2);
                const std::size_t slash = hier.find('/');
                if (!validAuthority(hier.substr(0, slash))) return std::nullopt;
                hier = slash == std::string_view::npos ? std::string_view{} : hier.substr(slash);
            }
            path = hier;
        } else if (rest.substr(0, rest.find('/')).find(':') != std::string_view::npos) {
            return std::nullopt;  // a relative path's first segment cannot hold a colon
        }
    }
    if (!validPath(path)) return std::nullopt;

    UriReference ref;
    auto decodedPath = percentDecode(path);
    if (!decodedPath) return std::nullopt;
    ref.path = std::move(*decodedPath);
    if (query) {
        ref.query = std::string(*query);
        std::string_view items = *query;
        while (true) {
            const std::size_t amp = items.find('&');
            const std::string_view item = items.substr(0, amp);
            const std::size_t eq = item.find('=');
            auto name = percentDecode(item.substr(0, eq));
            if (!name) return std::nullopt;
            UriQueryItem& added = ref.queryItems.emplace_back(UriQueryItem{std::move(*name), std::nullopt});
            if (eq != std::string_view::npos) {
                auto value = percentDecode(item.substr(eq + 1));
                if (!value) return std::nullopt;
                added.value = std::move(*value);
            }
            if (amp == std::string_view::npos) break;
            items.remove_prefix(amp + 1);
        }
    }
    return ref;
}

std::optional<std::string> UriReference::value(std::string_view name) const {
    for (const auto& item : queryItems)
        if (item.name == name) return item.value;
    return std::nullopt;
}

}  // namespace ombry
