// The e-mail alert through a provider's kind of server: STARTTLS or TLS from the first byte, a
// login, a certificate of its own. The servers are real (aiosmtpd) on loopback.
#include "CItemList.h"
#include "ScriptedServer.h"
#include "SmtpAlert.h"
#include "SmtpOptions.h"
#include "SmtpSession.h"
#include "SmtpSink.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kUser = "alerts@pulsewick.invalid";
constexpr const char* kPassword = "s3cret pass";

std::unique_ptr<CItemList> OneFailureList(const std::string& server) {
    auto list = std::make_unique<CItemList>();
    list->m_strServer = server;
    list->m_strFrom = "monitor@pulsewick.invalid";
    list->m_strTo = "admin@pulsewick.invalid";
    list->m_strSubject = "Connections down";
    auto item = std::make_unique<CItem>();
    item->m_strAddress = "192.168.0.9";
    item->m_bConnect = 1;
    item->m_nPort = 80;
    item->m_bResult = 0;
    list->AddTail(std::move(item));
    return list;
}

constexpr const char* kContent = "From: monitor@pulsewick.invalid\r\n"
                                 "To: admin@pulsewick.invalid\r\n"
                                 "Subject: Connections down\r\n"
                                 "\r\n"
                                 "The following connections have failed:\r\n"
                                 "192.168.0.9:80\r\n"
                                 "\r\n";

struct ProviderCase {
    const char* name;
    std::vector<std::string> serverOptions; // of smtp_sink.py
    SmtpSecurity security;
    const char* password;   // null: no login
    bool trustServer;       // the server's certificate given as the extra trusted file
    const char* serverName; // the list's server setting
    std::string outcome;    // how what SendMailAlert returns begins
    std::string authLog;    // what the server saw of the password
};

std::ostream& operator<<(std::ostream& out, const ProviderCase& c) {
    return out << c.name;
}

const std::string kLoginLine = std::string("PLAIN ") + kUser + " " + kPassword + "\n";

class SmtpProvider : public ::testing::TestWithParam<ProviderCase> {};

TEST_P(SmtpProvider, DeliversOnlyWhenSafe) {
    const ProviderCase& c = GetParam();
    testsupport::TempDir dir;
    testsupport::SmtpSink sink(dir.path(), c.serverOptions);
    SmtpOptions options;
    options.port = sink.Port();
    options.security = c.security;
    if (c.password) {
        options.user = kUser;
        options.password = c.password;
    }
    if (c.trustServer)
        options.caFile = sink.Certificate().string();

    const auto list = OneFailureList(c.serverName);
    const std::string outcome = SendMailAlert(*list, options);
    EXPECT_EQ(outcome.substr(0, c.outcome.size()), c.outcome) << outcome;
    EXPECT_EQ(sink.AuthLog(), c.authLog);

    if (outcome != smtp::kOk) {
        EXPECT_EQ(sink.Count(), 0);
        return;
    }
    ASSERT_EQ(sink.Count(), 1);
    const auto message = sink.Get(1);
    EXPECT_EQ(message->content, kContent);
    // A provider's server gets EHLO with this machine's name, never the plain HELO.
    EXPECT_EQ(message->envelope.substr(0, 5), "EHLO ");
    EXPECT_NE(message->envelope.find("RCPT TO admin@pulsewick.invalid\n"), std::string::npos);
}

const std::vector<std::string> kStartTlsServer{"--security", "starttls", "--login",
                                               std::string(kUser) + ":" + kPassword};
const std::vector<std::string> kTlsServer{"--security", "tls", "--login", std::string(kUser) + ":" + kPassword};

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpProvider,
    ::testing::Values(
        ProviderCase{"StartTlsAndLogin", kStartTlsServer, SmtpSecurity::StartTls, kPassword, true, "127.0.0.1",
                     smtp::kOk, kLoginLine},
        ProviderCase{
            "LoginMechanismWhenPlainIsNotOffered",
            {"--security", "starttls", "--login", std::string(kUser) + ":" + kPassword, "--mechanisms", "LOGIN"},
            SmtpSecurity::StartTls,
            kPassword,
            true,
            "127.0.0.1",
            smtp::kOk,
            std::string("LOGIN ") + kUser + " " + kPassword + "\n"},
        ProviderCase{"WrongPasswordNamesTheLogin", kStartTlsServer, SmtpSecurity::StartTls, "wrong", true, "127.0.0.1",
                     std::string(smtp::kLoginRefused) + " (535 ", "PLAIN alerts@pulsewick.invalid wrong\n"},
        ProviderCase{"NoStartTlsKeepsThePassword",
                     {"--login", std::string(kUser) + ":" + kPassword},
                     SmtpSecurity::StartTls,
                     kPassword,
                     false,
                     "127.0.0.1",
                     smtp::kNoStartTlsPasswordKept,
                     ""},
        ProviderCase{"ImplicitTlsAndLogin", kTlsServer, SmtpSecurity::Tls, kPassword, true, "127.0.0.1", smtp::kOk,
                     kLoginLine},
        ProviderCase{"ImplicitTlsByHostName",
                     {"--security", "tls"},
                     SmtpSecurity::Tls,
                     nullptr,
                     true,
                     "localhost",
                     smtp::kOk,
                     ""},
        ProviderCase{"UntrustedCertificateOverTls", kTlsServer, SmtpSecurity::Tls, kPassword, false, "127.0.0.1",
                     "the server's certificate is not trusted (self-signed certificate)", ""},
        ProviderCase{"UntrustedCertificateAfterStartTls", kStartTlsServer, SmtpSecurity::StartTls, kPassword, false,
                     "127.0.0.1", "the server's certificate is not trusted (self-signed certificate)", ""},
        // Trusting the certificate does not trust it for another name.
        ProviderCase{"CertificateForAnotherAddress",
                     {"--security", "tls", "--host", "127.0.0.2"},
                     SmtpSecurity::Tls,
                     nullptr,
                     true,
                     "127.0.0.2",
                     "the server's certificate is not trusted (",
                     ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The watchdog bounds the TLS handshake like every other wait: a server that accepts and then
// says nothing ends the alert after ten seconds, with the step named.
TEST(SmtpProviderSlow, SilentServerDuringTheHandshake) {
    testsupport::ScriptedServer server({});
    SmtpOptions options;
    options.port = server.Port();
    options.security = SmtpSecurity::Tls;
    const auto start = Clock::now();
    EXPECT_EQ(SendMailAlert(*OneFailureList("127.0.0.1"), options), "the TLS handshake did not finish in time");
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 10s);
    EXPECT_LE(elapsed, 13s);
}

} // namespace
