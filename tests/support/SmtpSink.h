#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A real SMTP server (Python's aiosmtpd) on 127.0.0.1, started for one test and stopped with
// the object. Keeps every message it accepts.
class SmtpSink {
public:
    struct Message {
        std::string envelope; // "HELO ...\nMAIL FROM ...\nRCPT TO ...\n" (EHLO after EHLO)
        std::string content;  // the raw data, exactly as received
    };

    explicit SmtpSink(const std::filesystem::path& outdir);
    // A provider's server: options of smtp_sink.py such as {"--security", "starttls", "--login",
    // "user:secret"}.
    SmtpSink(const std::filesystem::path& outdir, const std::vector<std::string>& options);
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    std::uint16_t Port() const { return m_port; }
    // Message number n (from 1), if it has arrived.
    std::optional<Message> Get(int n) const;
    int Count() const;
    // Every login attempt so far, one "MECHANISM USER PASSWORD" line each.
    std::string AuthLog() const;
    // The server's throw-away certificate (with --security starttls or tls).
    std::filesystem::path Certificate() const { return m_outdir / "server.pem"; }

private:
    std::filesystem::path m_outdir;
    pid_t m_pid = -1;
    int m_stdin = -1;
    std::uint16_t m_port = 0;
};

} // namespace testsupport
