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

// Runs pulsewick-cli with the SMTP server on port instead of 25.
CliRun RunCli(const QStringList& args, std::uint16_t port) {
    static const testsupport::TempDir outputs;
    std::vector<std::string> argv{PULSEWICK_CLI};
    for (const QString& arg : args)
        argv.push_back(arg.toStdString());
    const auto run = testsupport::RunProgram(outputs, argv, {{"PULSEWICK_SMTP_PORT", std::to_string(port)}});
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
        const std::string path = m_dir.file("outage.pwk").string();
        EXPECT_TRUE(SaveListFile(list, path).Succeeded());
        return QString::fromStdString(path);
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
