#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

class CItem;
class CItemList;
struct PassHolds;
struct SmtpOptions;

// The e-mail alert: one plain-text message through the list's SMTP server naming every entry
// whose last probe failed. One connection, a fixed command sequence, nothing retried.
// The server name, the addresses and the subject are used up to their first CR, LF or zero byte,
// so a list file cannot add commands or headers; a body line that begins with "." is sent with
// the dot doubled.
namespace smtp {

inline constexpr std::uint16_t kPort = 25;

// How a dialogue ended; SendMailAlert returns exactly one of these.
inline constexpr const char* kOk = "OK";
inline constexpr const char* kConnectFailed = "Failed to connect to SMTP server";
inline constexpr const char* kNoGreeting = "Error connecting to SMTP server";
inline constexpr const char* kHeloError = "Error during HELO";
inline constexpr const char* kHeloUnexpected = "Unexpected response during HELO";
inline constexpr const char* kMailFromError = "Error during MAIL FROM";
inline constexpr const char* kMailFromUnexpected = "Unexpected response during MAIL FROM";
inline constexpr const char* kRcptToError = "Error during RCPT TO";
inline constexpr const char* kRcptToUnexpected = "Invalid recepient";
inline constexpr const char* kDataError = "Error during DATA";
inline constexpr const char* kDataUnexpected = "Unexpected response during DATA";
inline constexpr const char* kBodyError = "Error during mail body";
inline constexpr const char* kBodyUnexpected = "Unexpected response during body";

inline constexpr const char* kBodyHeading = "The following connections have failed:";
// How the e-mail names an entry: "address:port", or "address:ICMP".
std::string MailEntryName(const CItem& item);

// The notice that an outage is over: the list's subject after this prefix, and this heading.
inline constexpr const char* kRecoveredSubjectPrefix = "Recovered: ";
inline constexpr const char* kRecoveredHeading = "The following connections have recovered:";

} // namespace smtp

// Sends the alert for list's current results to list.m_strServer on port 25 and returns the
// outcome text (smtp::kOk when the server took the message). Shows and stores nothing; the
// caller decides what to do with the outcome. The socket's ten-second budget starts before the
// server name is looked up and bounds the dialogue's waits on the server; the lookup itself is not
// bounded, and one that outlasts the budget leaves every later call unguarded (see CTimedSocket).
std::string SendMailAlert(const CItemList& list);

// The same through a provider's server: another port, TLS from the first byte or after STARTTLS,
// a login. Options that ask for none of these give exactly the plain dialogue above. Otherwise
// the dialogue greets with EHLO, reads whole (multi-line) replies, and a failure names its step
// and quotes the server ("the server refused the login (535 5.7.8 ...)"). Given up when stop is
// requested: the call waiting on the server fails at once, and so does every later one (the
// outcome is then the failure of the step that was cut short).
// With holds, the entries they hold are left out, and after the entry lines comes one line for
// each entry named that has failed entries behind it ("10.0.0.1:ICMP and 12 entries behind it").
std::string SendMailAlert(const CItemList& list, const SmtpOptions& options, const std::stop_token& stop = {},
                          const PassHolds* holds = nullptr);

// How the e-mail names an entry: "address:port", or "address:ICMP".
std::string MailEntryName(const CItem& item);

// The notice that an outage is over, through the same dialogue: the subject says recovered and
// the body names the entries ("address:port" or "address:ICMP", one a line) instead of the failed ones.
std::string SendRecoveryMail(const CItemList& list, const SmtpOptions& options, const std::stop_token& stop,
                             const std::vector<std::string>& recovered);
