#pragma once

#include <optional>
#include <string>

class CSmtpConnection;
struct SmtpOptions;

namespace smtp {

// What ended a dialogue that a provider's settings opened; each names the step it failed at.
inline constexpr const char* kGreetingRefused = "the server refused the connection";
inline constexpr const char* kEhloError = "Error during EHLO";
inline constexpr const char* kEhloRefused = "the server refused EHLO";
inline constexpr const char* kNoStartTls = "the server does not offer STARTTLS; nothing was sent";
inline constexpr const char* kNoStartTlsPasswordKept = "the server does not offer STARTTLS; the password was not sent";
inline constexpr const char* kStartTlsError = "Error during STARTTLS";
inline constexpr const char* kStartTlsRefused = "the server refused STARTTLS";
inline constexpr const char* kNoLoginMethod = "the server offers no login method known here (AUTH PLAIN or LOGIN)";
inline constexpr const char* kLoginError = "Error during the login";
inline constexpr const char* kLoginRefused = "the server refused the login";

// The first line of a reply without its line end, or "no reply"; for messages like
// "the server refused the login (535 5.7.8 ...)".
std::string FirstLine(const std::string& reply);

// Opens a connected dialogue as options ask: TLS from the first byte, greeting, EHLO, STARTTLS
// and a second EHLO, login. Returns nothing when the server is ready for MAIL FROM, else the
// outcome text naming the step that failed. With STARTTLS asked for, nothing after EHLO goes out
// unencrypted: a server that cannot encrypt never sees the password nor the message.
std::optional<std::string> OpenSession(CSmtpConnection& connection, const std::string& server,
                                       const SmtpOptions& options);

} // namespace smtp
