#include "HttpMessage.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <utility>

namespace cli {

namespace {

constexpr int kBadRequest = 400;
constexpr int kNotImplemented = 501;
constexpr int kVersionNotSupported = 505;

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case kBadRequest:
        return "Bad Request";
    case kNotImplemented:
        return "Not Implemented";
    case kVersionNotSupported:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

HttpParse Bad(int status) {
    HttpParse parse;
    parse.kind = HttpParse::Kind::bad;
    parse.error.status = status;
    return parse;
}

bool IsTokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The next line from at (its CR LF or bare LF taken off), moving at past it; none while the
// line has not ended yet.
std::optional<std::string_view> NextLine(std::string_view input, std::size_t& at) {
    const std::size_t end = input.find('\n', at);
    if (end == std::string_view::npos)
        return std::nullopt;
    std::string_view line = input.substr(at, end - at);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    at = end + 1;
    return line;
}

// "/metrics?x" and "http://host/metrics?x" both name /metrics.
std::string PathOf(std::string_view target) {
    if (const std::size_t scheme = target.find("://"); target.front() != '/' && scheme != std::string_view::npos) {
        const std::size_t slash = target.find('/', scheme + 3);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    return std::string(target.substr(0, target.find_first_of("?#")));
}

} // namespace

HttpParse ParseHttpRequest(std::string_view input) {
    std::size_t at = 0;
    std::optional<std::string_view> line;
    // Empty lines before a request are left over from the one before it.
    while ((line = NextLine(input, at)) && line->empty()) {
    }
    if (!line)
        return {};

    const std::size_t firstSpace = line->find(' ');
    const std::size_t secondSpace = line->find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos)
        return Bad(kBadRequest);
    const std::string_view method = line->substr(0, firstSpace);
    const std::string_view target = line->substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string_view version = line->substr(secondSpace + 1);
    if (!IsToken(method) || target.empty() || target.find_first_of(" \t") != std::string_view::npos ||
        version.size() != 8 || version.substr(0, 5) != "HTTP/" ||
        !std::isdigit(static_cast<unsigned char>(version[5])) || version[6] != '.' ||
        !std::isdigit(static_cast<unsigned char>(version[7])))
        return Bad(kBadRequest);
    if (version[5] != '1')
        return Bad(kVersionNotSupported);

    HttpParse parse;
    parse.kind = HttpParse::Kind::request;
    parse.request.method = std::string(method);
    parse.request.path = PathOf(target);
    // HTTP/1.0 keeps a connection only on request, which is not worth the bother here.
    parse.request.keepAlive = version[7] != '0';
    std::optional<std::size_t> contentLength;
    for (;;) {
        line = NextLine(input, at);
        if (!line)
            return {};
        if (line->empty())
            break;
        const std::size_t colon = line->find(':');
        if (colon == std::string_view::npos || !IsToken(line->substr(0, colon)))
            return Bad(kBadRequest); // folded lines and whitespace before the colon included
        const std::string_view name = line->substr(0, colon);
        const std::string_view value = Trimmed(line->substr(colon + 1));
        if (EqualsIgnoringCase(name, "Transfer-Encoding"))
            return Bad(kNotImplemented); // the end of such a body is not worth finding
        if (EqualsIgnoringCase(name, "Content-Length")) {
            std::size_t length = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
            if (error != std::errc() || end != value.data() + value.size() || value.empty() ||
                (contentLength && *contentLength != length))
                return Bad(kBadRequest);
            contentLength = length;
        }
        if (EqualsIgnoringCase(name, "Connection")) {
            for (std::size_t from = 0; from <= value.size();) {
                const std::size_t comma = std::min(value.find(',', from), value.size());
                if (EqualsIgnoringCase(Trimmed(value.substr(from, comma - from)), "close"))
                    parse.request.keepAlive = false;
                from = comma + 1;
            }
        }
    }
    // A body nobody here reads is skipped, so the next request starts where it should.
    const std::size_t bodyLength = contentLength.value_or(0);
    if (input.size() - at < bodyLength)
        return {};
    parse.consumed = at + bodyLength;
    return parse;
}

std::string FormatHttpResponseHead(const HttpResponse& response, bool closing) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
    if (!response.contentType.empty())
        text += "Content-Type: " + response.contentType + "\r\n";
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    if (closing)
        text += "Connection: close\r\n";
    text += "\r\n";
    return text;
}

} // namespace cli
