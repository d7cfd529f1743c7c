#include "CItemList.h"
#include "ListFile.h"
#include "RunProgram.h"
#include "ScriptedServer.h"
#include "SmtpSink.h"
#include "TempDir.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using testsupport::ScriptedServer;

namespace {

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs pulsewick-cli, with the SMTP server on port instead of 25 unless port is 0. Each character of
// args is one byte, so that paths that are not UTF-8 come through.
CliRun RunCli(const QStringList& args, std::uint16_t port) {
    static const testsupport::TempDir outputs;
    std::vector<std::string> argv{PULSEWICK_CLI};
    for (const QString& arg : args)
        argv.push_back(arg.toLatin1().toStdString());
    if (port != 0)
        argv.insert(argv.end(), {"--smtp-port", std::to_string(port)});
    const auto run = testsupport::RunProgram(outputs, argv, {});
    return {run.status, run.out, run.err};
}

class TestMailCommand : public ::testing::Test {
protected:
    // A list as a check run left it: two entries failed, one answered.
    QString WriteList(const std::string& to = "ops@pulsewick.invalid") {
        CItemList list;
        list.m_strServer = "127.0.0.1";
        list.m_strFrom = "monitor@pulsewick.invalid";
        list.m_strTo = to;
        list.m_strSubject = "Outage";
        const struct {
            const char* address;
            int connect, port, result;
        } entries[] = {{"10.1.1.1", 0, 80, 0}, {"up.invalid", 1, 443, 1}, {"db.invalid", 1, 5432, 0}};
        for (const auto& e : entries) {
            auto item = std::make_unique<CItem>();
            item->m_strAddress = e.address;
            item->m_bConnect = e.connect;
            item->m_nPort = e.port;
            item->m_bResult = e.result;
            list.AddTail(std::move(item));
        }
        const std::string path = m_dir.file("outage\xff.pwk").string();
        EXPECT_TRUE(SaveListFile(list, path).Succeeded());
        return QString::fromLatin1(path);
    }

    testsupport::TempDir m_dir;
};

} // namespace

TEST_F(TestMailCommand, SendsTheListsFailuresAndPrintsOk) {
    testsupport::TempDir spool;
    testsupport::SmtpSink sink(spool.path());
    const CliRun run = RunCli({QStringLiteral("test-mail"), WriteList()}, sink.Port());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "OK\n");
    ASSERT_EQ(sink.Count(), 1);
    EXPECT_EQ(sink.Get(1)->content, "From: monitor@pulsewick.invalid\r\n"
                                    "To: ops@pulsewick.invalid\r\n"
                                    "Subject: Outage\r\n"
                                    "\r\n"
                                    "The following connections have failed:\r\n"
                                    "10.1.1.1:ICMP\r\n"
                                    "db.invalid:5432\r\n"
                                    "\r\n");
}

TEST_F(TestMailCommand, PrintsWhyTheServerRefused) {
    ScriptedServer server({ScriptedServer::Say("220 hi\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("250 hi\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("250 ok\r\n"), ScriptedServer::ReadLine(),
                           ScriptedServer::Say("550 unknown user\r\n")});
    const CliRun run = RunCli({QStringLiteral("test-mail"), WriteList()}, server.Port());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Invalid recepient\n");
}

TEST_F(TestMailCommand, BadCommandLinesAndFiles) {
    ScriptedServer unused({});
    const std::uint16_t port = unused.Port();
    EXPECT_EQ(RunCli({QStringLiteral("test-mail")}, port).exitCode, 2);
    const QString list = WriteList();
    EXPECT_EQ(RunCli({QStringLiteral("test-mail"), list, list}, port).exitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("test-mail"), QString::fromStdString(m_dir.file("missing.pwk").string())}, port)
                  .exitCode,
              3);
    testsupport::WriteFileBytes(m_dir.file("junk.pwk"), {0xff, 0xff, 0x7f, 0x00, 'x'});
    const CliRun corrupt =
        RunCli({QStringLiteral("test-mail"), QString::fromStdString(m_dir.file("junk.pwk").string())}, port);
    EXPECT_EQ(corrupt.exitCode, 4) << corrupt.err;
    EXPECT_EQ(corrupt.out, "");
}

// A provider's server: STARTTLS, a login with the password from a file (as systemd's
// LoadCredential= gives it, line end and all), the server's own certificate trusted.
TEST_F(TestMailCommand, ThroughAProvidersServer) {
    testsupport::TempDir spool;
    testsupport::SmtpSink sink(spool.path(), {"--security", "starttls", "--login", "alerts:pa ss"});
    const std::string passwordFile = m_dir.file("password\xff").string(), caFile = m_dir.file("ca\xff.pem").string();
    std::filesystem::copy_file(sink.Certificate(), caFile);
    testsupport::WriteFileBytes(passwordFile, {'p', 'a', ' ', 's', 's', '\n'});
    const QStringList login{QStringLiteral("--smtp-user"), QStringLiteral("alerts"),
                            QStringLiteral("--smtp-password-file"), QString::fromLatin1(passwordFile)};
    const QStringList args = QStringList{QStringLiteral("test-mail"),       WriteList(),
                                         QStringLiteral("--smtp-security"), QStringLiteral("starttls"),
                                         QStringLiteral("--smtp-port"),     QString::number(sink.Port())} +
                             login;

    const CliRun untrusted = RunCli(args, 0);
    EXPECT_EQ(untrusted.exitCode, 1);
    EXPECT_EQ(untrusted.out, "the server's certificate is not trusted (self-signed certificate)\n");

    const CliRun run = RunCli(args + QStringList{QStringLiteral("--smtp-ca-file"), QString::fromLatin1(caFile)}, 0);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "OK\n");
    EXPECT_EQ(sink.AuthLog(), "PLAIN alerts pa ss\n");
    EXPECT_EQ(sink.Count(), 1);
}

TEST_F(TestMailCommand, BadMailOptions) {
    const QString list = WriteList();
    const QString missing = QString::fromStdString(m_dir.file("missing").string());
    const struct {
        QStringList options;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"--smtp-port", "0"}, 2, "not a port (1 to 65535): '0'"},
        {{"--smtp-port", "25", "--smtp-port", "26"}, 2, "--smtp-port given more than once"},
        {{"--smtp-security", "ssl"}, 2, "not a mail security (none, starttls or tls): 'ssl'"},
        {{"--smtp-user", "alerts"}, 2, "--smtp-user and --smtp-password-file go together"},
        {{"--smtp-user", "alerts", "--smtp-password-file", list}, 2, "--smtp-user needs --smtp-security (none sends"},
        {{"--smtp-user", "alerts", "--smtp-password-file", missing, "--smtp-security", "none"},
         3,
         "cannot read the password file"},
        {{"--smtp-ca-file", list}, 2, "--smtp-ca-file needs --smtp-security starttls or tls"},
        {{"--smtp-security", "tls", "--smtp-ca-file", missing}, 3, "cannot read the certificate file"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(QStringList{QStringLiteral("test-mail"), list} + c.options, 0);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.options.join(' ').toStdString();
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}
