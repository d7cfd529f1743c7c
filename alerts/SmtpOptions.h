#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How the e-mail alert reaches a provider's server: these settings are not part of the list
// file. The defaults give the plain dialogue on port 25 with HELO and no login.
enum class SmtpSecurity {
    None,     // plain text from the first byte to the last
    StartTls, // plain greeting, then STARTTLS; nothing is sent when the server cannot encrypt
    Tls,      // TLS from the first byte (port 465)
};

struct SmtpOptions {
    static constexpr std::uint16_t kDefaultPort = 25;
    static constexpr std::uint16_t kDefaultTlsPort = 465;
    static constexpr std::uint16_t kDefaultSubmissionPort = 587;

    std::uint16_t port = kDefaultPort;
    SmtpSecurity security = SmtpSecurity::None;
    std::string user;     // logs in when not empty
    std::string password; // used only with a user name
    std::string caFile;   // a CA or server certificate (PEM) trusted besides the system's store
    // Why these options must not be used (a setting that could not be read): the e-mail alert
    // then fails with this text before it connects. A guess could send the password unencrypted.
    std::string unusable;

    // The plain dialogue of old (HELO, no TLS, no login) serves these options.
    bool IsPlain() const { return security == SmtpSecurity::None && user.empty(); }
};

// "none", "starttls", "tls": the names used on the command line and in the settings file.
const char* SmtpSecurityName(SmtpSecurity security);
// The security a name stands for, in any case ("STARTTLS" as the dialog shows it); nothing for
// another name, which callers refuse rather than fall back to none.
std::optional<SmtpSecurity> SmtpSecurityFromName(std::string_view name);
