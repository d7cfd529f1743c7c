#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cli {

// One request head of HTTP/1.x as the metrics endpoint needs it.
struct HttpRequest {
    std::string method;
    std::string path; // the target without query, scheme or authority
    bool keepAlive = true;
};

struct HttpResponse {
    int status = 200;
    std::string contentType; // no Content-Type header when empty
    std::string body;
};

// What the bytes at the start of a connection's input hold.
struct HttpParse {
    enum class Kind { incomplete, request, bad };
    Kind kind = Kind::incomplete;
    HttpRequest request;      // kind request
    std::size_t consumed = 0; // kind request: the head and any body, which is skipped
    HttpResponse error;       // kind bad: what to answer before closing
};

HttpParse ParseHttpRequest(std::string_view input);

// The status line and headers of response, up to the empty line before the body. "Connection:
// close" is added when the connection ends after it.
std::string FormatHttpResponseHead(const HttpResponse& response, bool closing);

} // namespace cli
