// pulsewick-cli monitor as a process: the schedule, the alerts, the signals and the metrics it
// writes, against servers on 127.0.0.1 only.
#include "MonitorProcess.h"

#include "CItemList.h"
#include "FakeModem.h"
#include "ListFile.h"
#include "LoopbackPorts.h"
#include "RunProgram.h"
#include "SilentHostNamespace.h"
#include "SmtpSink.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::MonitorProcess;
using testsupport::TempDir;

namespace {

class MonitorCommand : public ::testing::Test {
protected:
    void AddTcp(std::uint16_t port) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = 1;
        item->m_strAddress = "127.0.0.1";
        item->m_nPort = port;
        m_list.AddTail(std::move(item));
    }
    void EnableMail() {
        m_list.m_bMail = 1;
        m_list.m_strServer = "127.0.0.1";
        m_list.m_strFrom = "monitor@pulsewick.invalid";
        m_list.m_strTo = "ops@pulsewick.invalid";
    }
    std::string Save() {
        EXPECT_TRUE(SaveListFile(m_list, m_path).Succeeded());
        return m_path;
    }
    static std::string ReadText(const std::filesystem::path& path) {
        const auto bytes = testsupport::ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }

    TempDir m_dir;
    CItemList m_list;
    std::string m_path = m_dir.file("list\xff.pwk").string(); // not UTF-8: it reaches the system as given
    LoopbackPort m_open{LoopbackPort::Kind::listening};
    LoopbackPort m_closed{LoopbackPort::Kind::closed};
};

} // namespace

TEST_F(MonitorCommand, FirstPassAtOnceWithMetricsOverHttpAndInAFileThatPromtoolAccepts) {
    AddTcp(m_open.Port());
    AddTcp(m_closed.Port());
    m_list.m_nPeriod = 15; // the next pass is a quarter of an hour away: only the first can come
    const auto file = m_dir.file("pulsewick\xff.prom");
    MonitorProcess monitor(m_dir.path(), {Save(), "--metrics", "127.0.0.1:0", "--metrics-file", file.string()});

    ASSERT_TRUE(monitor.WaitFor("pass 1: 1 of 2 did not answer", 20s)) << monitor.Err();
    const std::uint16_t port = monitor.MetricsPort(1s);
    ASSERT_NE(port, 0) << monitor.Err();
    const auto answer = testsupport::HttpRequest(port, "GET", "/metrics");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const std::string open = "{row=\"1\",address=\"127.0.0.1\",kind=\"tcp\",port=\"" + std::to_string(m_open.Port());
    EXPECT_NE(answer->body.find("pulsewick_probe_success" + open + "\"} 1\n"), std::string::npos) << answer->body;
    EXPECT_NE(answer->body.find("pulsewick_probe_round_trip_seconds" + open), std::string::npos);
    EXPECT_NE(answer->body.find("\",port=\"" + std::to_string(m_closed.Port()) + "\"} 0\n"), std::string::npos);
    EXPECT_NE(answer->body.find("pulsewick_failed_passes_total 1\n"), std::string::npos);
    EXPECT_NE(answer->body.find("pulsewick_period_seconds 900\n"), std::string::npos); // what the rules divide by
    EXPECT_EQ(testsupport::PromtoolProblems(answer->body), "");
    // The file holds what the endpoint serves (nothing changed in between).
    EXPECT_EQ(ReadText(file), answer->body);

    EXPECT_EQ(testsupport::HttpRequest(port, "GET", "/nothing")->status, 404);
    EXPECT_EQ(testsupport::HttpRequest(port, "POST", "/metrics")->status, 404);

    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(5s), 0);
}

TEST_F(MonitorCommand, FailedPassRaisesExecuteThenMailAndRearmsForTheNextPass) {
    TempDir spool;
    testsupport::SmtpSink sink(spool.path());
    AddTcp(m_closed.Port());
    m_list.m_bPopup = 1;
    const auto marker = m_dir.file("executed");
    const auto failedLines = m_dir.file("failed-lines");
    // The command learns what failed from its environment.
    m_list.m_strExecute = "echo ran $PULSEWICK_EVENT $PULSEWICK_FAILED_COUNT \"$PULSEWICK_LIST\" >> '" +
                          marker.string() + "'; printf %s \"$PULSEWICK_FAILED\" > '" + failedLines.string() + "'";
    EnableMail();
    m_list.m_nPeriod = 1;
    MonitorProcess monitor(m_dir.path(), {Save(), "--smtp-port", std::to_string(sink.Port())},
                           {{"PULSEWICK_MINUTE_MS", "1500"}});

    ASSERT_TRUE(monitor.WaitFor("e-mail: OK\n", 30s)) << monitor.Err();
    const std::string err = monitor.Err();
    const std::size_t popup = err.find("One or more connection failed!\n");
    const std::size_t failed = err.find("failed: row 1: 127.0.0.1:" + std::to_string(m_closed.Port()) + "\n");
    const std::size_t execute = err.find("execute: started: echo ran");
    const std::size_t mail = err.find("e-mail: OK");
    EXPECT_LT(popup, failed) << err;
    EXPECT_LT(failed, execute) << err;
    EXPECT_LT(execute, mail) << err;
    EXPECT_EQ(sink.Count(), 1);
    EXPECT_NE(sink.Get(1)->content.find("127.0.0.1:" + std::to_string(m_closed.Port()) + "\r\n"), std::string::npos);

    // One period (1.5 s here) after the end of the alerts, the next pass and its alerts.
    EXPECT_TRUE(monitor.WaitFor("pass 2:", 20s)) << monitor.Err();
    EXPECT_TRUE(monitor.WaitFor("e-mail: OK\n", 20s, mail + 1)) << monitor.Err();
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0) << monitor.Err();
    const std::string ran = "ran failed 1 " + m_path + "\n";
    EXPECT_EQ(ReadText(marker), ran + ran);
    EXPECT_EQ(ReadText(failedLines), "127.0.0.1\t" + std::to_string(m_closed.Port()) + "\tconnection refused\n");
}

// Qt Multimedia (with Qt Gui, OpenGL, X11 and PulseAudio) comes in only for a list that plays a
// sound, through the sound module beside the program; without the module the sound alert alone fails.
TEST_F(MonitorCommand, LoadsTheSoundModuleOnlyForASoundAndFailsTheSoundAlertAloneWithoutIt) {
    struct Case {
        const char* name;
        bool sound;        // the list plays a sound
        bool moduleBeside; // the program runs where its sound module lies
        const char* outcome;
    };
    const Case cases[] = {
        {"no sound", false, true, nullptr},
        {"sound", true, true, "sound: "},
        {"sound, module missing", true, false, "sound: failed, no sound module ("},
    };
    AddTcp(m_closed.Port());
    m_list.m_nPeriod = 15; // the first pass alone
    m_list.m_strExecute = "true";
    const std::string sound = m_dir.file("alarm.wav").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_list.m_strSoundFile = c.sound ? sound : "";
        // A copy of the alerts program alone, as an installation that lost the module.
        std::string program = PULSEWICK_CLI;
        if (!c.moduleBeside) {
            program = m_dir.file("pulsewick-cli-alerts").string();
            std::filesystem::copy_file(PULSEWICK_CLI_ALERTS, program);
        }
        MonitorProcess monitor(m_dir.path(), {Save()}, {}, 0, program);
        ASSERT_TRUE(monitor.WaitFor("execute: started: true\n", 30s)) << monitor.Err();
        const std::string maps = ReadText("/proc/" + std::to_string(monitor.Pid()) + "/maps");
        monitor.Signal(SIGTERM);
        EXPECT_EQ(monitor.Wait(10s), 0) << monitor.Err();

        const bool loaded = c.sound && c.moduleBeside;
        EXPECT_EQ(maps.find("libQt6Multimedia") != std::string::npos, loaded) << maps;
        EXPECT_EQ(maps.find("libQt6Gui") != std::string::npos, loaded);
        const std::string err = monitor.Err();
        EXPECT_EQ(monitor.CountLines("sound: "), c.outcome ? 1 : 0) << err;
        if (!c.outcome)
            continue;
        const std::size_t outcome = err.find(c.outcome);
        ASSERT_NE(outcome, std::string::npos) << err;
        EXPECT_EQ(err.find("sound: failed") == std::string::npos, c.moduleBeside) << err;
        EXPECT_NE(err.find(sound + "\n", outcome), std::string::npos) << err;
        EXPECT_LT(outcome, err.find("execute: started: true\n")) << "the alerts keep their order";
    }
}

// One alert per outage and a notice when it is over: the first failed pass is held back, the
// second alerts, the later ones do not, and once the port answers the command and the e-mail say
// recovered.
TEST_F(MonitorCommand, AlertsOncePerOutageAfterTwoPassesAndTellsWhenItIsOver) {
    TempDir spool;
    testsupport::SmtpSink sink(spool.path());
    AddTcp(m_closed.Port());
    const std::string entry = "127.0.0.1:" + std::to_string(m_closed.Port());
    const auto events = m_dir.file("events");
    m_list.m_strExecute = "echo $PULSEWICK_EVENT $PULSEWICK_FAILED_COUNT >> '" + events.string() + "'";
    EnableMail();
    m_list.m_strSubject = "pulsewick";
    m_list.m_nPeriod = 1;
    MonitorProcess monitor(m_dir.path(),
                           {Save(), "--alert-after", "2", "--realert-every", "never", "--notify-recovery",
                            "--smtp-port", std::to_string(sink.Port())},
                           {{"PULSEWICK_MINUTE_MS", "500"}});

    ASSERT_TRUE(monitor.WaitFor("alerts: held back, failing for 1 pass\n", 20s)) << monitor.Err();
    ASSERT_TRUE(monitor.WaitFor("e-mail: OK\n", 20s)) << monitor.Err();
    ASSERT_TRUE(monitor.WaitFor("alerts: held back, failing for 4 passes\n", 20s)) << monitor.Err();
    ASSERT_EQ(::listen(m_closed.Fd(), 64), 0); // the entry answers again
    ASSERT_TRUE(monitor.WaitFor("recovered: " + entry + "\n", 20s)) << monitor.Err();
    const std::size_t recovered = monitor.Err().find("recovered: ");
    ASSERT_TRUE(monitor.WaitFor("e-mail: OK\n", 20s, recovered)) << monitor.Err();
    // A pass after the notice raises nothing more.
    ASSERT_TRUE(monitor.WaitFor("\npass ", 20s, monitor.Err().find("e-mail: OK\n", recovered))) << monitor.Err();
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);

    EXPECT_EQ(ReadText(events), "failed 1\nrecovered 0\n");
    EXPECT_EQ(monitor.CountLines("One or more connection failed!"), 0); // the pop-up is off
    ASSERT_EQ(sink.Count(), 2);
    const std::string alert = sink.Get(1)->content;
    EXPECT_NE(alert.find("Subject: pulsewick\r\n\r\nThe following connections have failed:\r\n" + entry + "\r\n"),
              std::string::npos)
        << alert;
    const std::string notice = sink.Get(2)->content;
    EXPECT_NE(notice.find("Subject: Recovered: pulsewick\r\n\r\nThe following connections have recovered:\r\n" + entry +
                          "\r\n"),
              std::string::npos)
        << notice;
}

// In a namespace of the test's own: the uplink is silent for two passes, then answers (its address
// comes up on loopback); a mute given meanwhile holds the alerts until unmute.
TEST_F(MonitorCommand, ACutOffPassAndAMuteHoldTheAlertsThatTheUplinkAndUnmuteRelease) {
    testsupport::SilentHostNamespace ns(true);
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    auto item = std::make_unique<CItem>();
    item->m_strAddress = "127.0.0.1";
    item->m_nPort = 9; // nobody listens in the namespace: refused at once
    m_list.AddTail(std::move(item));
    m_list.m_nPeriod = 1;
    const auto events = m_dir.file("events");
    m_list.m_strExecute = "echo $PULSEWICK_EVENT >> '" + events.string() + "'";
    const std::string path = Save();
    const std::string uplink = testsupport::SilentHostNamespace::kSilentAddress;
    const std::string state = m_dir.file("state").string();
    std::filesystem::create_directory(state);
    const std::string metrics = m_dir.file("metrics").string();
    const auto lines = [](const std::filesystem::path& file) {
        std::ifstream in(file);
        return static_cast<int>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
    };
    std::optional<MonitorProcess> monitor;
    {
        const testsupport::SilentHostNamespace::Inside inside(ns);
        monitor.emplace(
            m_dir.path(),
            std::vector<std::string>{path, "--uplink", uplink, "--state-dir", state, "--metrics-file", metrics},
            std::map<std::string, std::string>{{"PULSEWICK_MINUTE_MS", "300"}});
    }
    const std::string cutOff = "uplink " + uplink + " does not answer: this monitor is cut off; alerts held\n";
    ASSERT_TRUE(monitor->WaitFor("pass 2: ", 60s)) << monitor->Err();
    EXPECT_EQ(monitor->CountLines(cutOff.substr(0, cutOff.size() - 1)), 1) << monitor->Err();
    EXPECT_NE(ReadText(metrics).find("pulsewick_uplink_up{uplink=\"" + uplink + "\"} 0\n"), std::string::npos);
    EXPECT_EQ(lines(events), 0) << "no alert from a pass cut off";

    ASSERT_EQ(testsupport::RunProgram({"/usr/sbin/ip", "-n", ns.Name(), "addr", "add", uplink + "/32", "dev", "lo"}),
              0);
    ASSERT_TRUE(monitor->WaitFor("uplink " + uplink + " answers again: alerts resume\n", 30s)) << monitor->Err();
    ASSERT_TRUE(monitor->WaitFor("execute: started", 20s)) << monitor->Err();

    const auto mute = testsupport::RunProgram(m_dir, {PULSEWICK_CLI, "mute", path, "1h", "--state-dir", state});
    ASSERT_EQ(mute.status, 0) << mute.err;
    EXPECT_NE(mute.out.find(path + ": alerts muted until "), std::string::npos) << mute.out;
    ASSERT_TRUE(monitor->WaitFor("muted: the whole list until ", 20s)) << monitor->Err();
    const std::size_t muted = monitor->Err().rfind("muted: the whole list");
    ASSERT_TRUE(monitor->WaitFor("alerts: held by a mute\n", 20s, muted)) << monitor->Err();
    const int alerted = lines(events); // an alert of a pass before the mute has written its line by now
    ASSERT_TRUE(monitor->WaitFor("alerts: held by a mute\n", 20s, monitor->Err().find("held by a mute", muted) + 1));
    EXPECT_EQ(lines(events), alerted) << "the mute holds every alert";
    EXPECT_NE(ReadText(metrics).find("pulsewick_muted_until_timestamp_seconds{row=\"1\""), std::string::npos);

    ASSERT_EQ(testsupport::RunProgram(m_dir, {PULSEWICK_CLI, "unmute", path, "--state-dir", state}).status, 0);
    ASSERT_TRUE(monitor->WaitFor("muted: nothing any more\n", 20s, muted)) << monitor->Err();
    EXPECT_TRUE(monitor->WaitFor("execute: started", 20s, monitor->Err().find("muted: nothing any more")))
        << monitor->Err();
    monitor->Signal(SIGTERM);
    EXPECT_EQ(monitor->Wait(5s), 0);
    EXPECT_EQ(monitor->CountLines(cutOff.substr(0, cutOff.size() - 1)), 1);
}

// What holds alerts is never turned against the monitor or its user: an uplink that can never
// answer does not hold them for ever, a list whose link is pointed elsewhere is muted where mute
// writes, and a link planted in the state folder is never written through.
TEST_F(MonitorCommand, HoldsThatCannotBeTrustedNeitherHoldAlertsForEverNorWriteThroughLinks) {
    testsupport::SilentHostNamespace ns(true);
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    AddTcp(9); // nobody listens in the namespace: refused at once
    m_list.m_nPeriod = 1;
    const auto events = m_dir.file("events");
    m_list.m_strExecute = "echo $PULSEWICK_EVENT >> '" + events.string() + "'";
    const std::string first = Save();
    m_path = m_dir.file("other.pwk").string();
    const std::string second = Save();
    const std::string link = m_dir.file("link.pwk").string();
    const std::string state = m_dir.file("state").string();
    std::filesystem::create_directory(state);
    std::filesystem::create_symlink(first, link);
    const auto mute = [&](const std::string& dir) {
        return testsupport::RunProgram(m_dir, {PULSEWICK_CLI, "mute", link, "1h", "--state-dir", dir});
    };
    struct Case {
        const char* what;
        std::string uplink;
        std::string line; // the monitor's
    };
    const Case cases[] = {
        {"an uplink that names no host", "127.0.0.1:80", "--uplink: '127.0.0.1:80' is not a host name or address"},
        {"an uplink whose name does not resolve", "uplink.invalid",
         "uplink uplink.invalid cannot be judged (host name not found): alerts go on"},
        {"a list whose link is pointed elsewhere", "", "alerts: held by a mute"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(events);
        std::vector<std::string> args = {link, "--state-dir", state};
        if (!c.uplink.empty())
            args.insert(args.end(), {"--uplink", c.uplink});
        std::optional<MonitorProcess> monitor;
        {
            const testsupport::SilentHostNamespace::Inside inside(ns);
            monitor.emplace(m_dir.path(), args, std::map<std::string, std::string>{{"PULSEWICK_MINUTE_MS", "300"}});
        }
        if (c.uplink.empty()) {
            ASSERT_TRUE(monitor->WaitFor("pass 1: ", 30s)) << monitor->Err();
            std::filesystem::remove(link);
            std::filesystem::create_symlink(second, link);
            ASSERT_EQ(mute(state).status, 0);
        }
        EXPECT_TRUE(monitor->WaitFor(c.line, 30s)) << monitor->Err();
        if (c.line.front() == '-') {
            EXPECT_EQ(monitor->Wait(10s), 2);
            continue;
        }
        if (!c.uplink.empty()) {
            EXPECT_TRUE(monitor->WaitFor("execute: started", 30s)) << "alerts go on\n" << monitor->Err();
        }
        monitor->Signal(SIGTERM);
        EXPECT_EQ(monitor->Wait(5s), 0);
    }

    // The state file's name, learnt elsewhere, planted as a link to a file of the user's.
    const std::string elsewhere = m_dir.file("elsewhere").string();
    std::filesystem::create_directory(elsewhere);
    ASSERT_EQ(mute(elsewhere).status, 0);
    const std::string name = std::filesystem::directory_iterator(elsewhere)->path().filename().string();
    const auto precious = m_dir.file("precious");
    std::ofstream(precious) << "precious\n";
    std::filesystem::remove(std::filesystem::path(state) / name);
    std::filesystem::create_symlink(precious, std::filesystem::path(state) / name);
    EXPECT_NE(mute(state).status, 0);
    EXPECT_EQ(ReadText(precious), "precious\n");
}

TEST_F(MonitorCommand, BadAlertPolicyOptionsAreUsageErrors) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--alert-after", "0"},
                                                 {"--alert-after", "never"},
                                                 {"--realert-every", "often"},
                                                 {"--realert-every", "100001"}}) {
        std::vector<std::string> all = {Save()};
        all.insert(all.end(), args.begin(), args.end());
        MonitorProcess monitor(m_dir.path(), all);
        EXPECT_EQ(monitor.Wait(10s), 2) << args[0] << " " << args[1];
        EXPECT_NE(monitor.Err().find("--" + args[0].substr(2) + " needs a number of passes"), std::string::npos)
            << monitor.Err();
    }
}

TEST_F(MonitorCommand, SighupWithACorruptFileKeepsTheOldListAndAGoodOneReplacesIt) {
    AddTcp(m_open.Port());
    m_list.m_nPeriod = 1;
    MonitorProcess monitor(m_dir.path(), {Save()}, {{"PULSEWICK_MINUTE_MS", "700"}});
    ASSERT_TRUE(monitor.WaitFor("pass 1: all 1 answered", 20s)) << monitor.Err();

    std::ofstream(m_path, std::ios::trunc) << "garbage";
    monitor.Signal(SIGHUP);
    ASSERT_TRUE(monitor.WaitFor("reload: kept the previous list\n", 20s)) << monitor.Err();
    EXPECT_NE(monitor.Err().find("pulsewick-cli: Error: Load failure.  File may be corrupted.\n"), std::string::npos);
    const std::size_t kept = monitor.Err().size();
    EXPECT_TRUE(monitor.WaitFor("all 1 answered", 20s, kept)) << monitor.Err();

    AddTcp(m_closed.Port());
    Save();
    monitor.Signal(SIGHUP);
    ASSERT_TRUE(monitor.WaitFor("reloaded " + m_path + ": 2 entries, every 1 min\n", 20s)) << monitor.Err();
    EXPECT_TRUE(monitor.WaitFor("1 of 2 did not answer", 20s)) << monitor.Err();
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
}

TEST_F(MonitorCommand, SigtermDuringASilentProbeEndsWithoutWaitingForIt) {
    LoopbackPort silent(LoopbackPort::Kind::stalled); // a connect that is never answered
    AddTcp(silent.Port());
    MonitorProcess monitor(m_dir.path(), {Save()});
    ASSERT_TRUE(monitor.WaitFor("monitoring ", 20s)) << monitor.Err();
    std::this_thread::sleep_for(500ms); // the first pass is now waiting on the probe

    const auto signalled = std::chrono::steady_clock::now();
    monitor.Signal(SIGTERM);
    const std::optional<int> status = monitor.Wait(5s);
    const auto took = std::chrono::steady_clock::now() - signalled;
    EXPECT_EQ(status, 0);
    // Far below the probe's 10 s limit, with room for a sanitizer build's slower exit.
    EXPECT_LT(took, 3s);
    // A cancelled pass reports nothing and raises nothing.
    EXPECT_EQ(monitor.CountLines("pass "), 0) << monitor.Err();
}

TEST_F(MonitorCommand, BadCommandLinesAndFilesGiveTheUsualStatuses) {
    const std::string path = Save();
    const auto run = [&](std::vector<std::string> args) {
        MonitorProcess monitor(m_dir.path(), std::move(args));
        const std::optional<int> status = monitor.Wait(10s);
        return std::make_pair(status, monitor.Err());
    };
    EXPECT_EQ(run({}).first, 2);
    EXPECT_EQ(run({path, path}).first, 2);
    EXPECT_EQ(run({path, "--metrics", "127.0.0.1:notaport"}).first, 2);
    EXPECT_EQ(run({path, "--bogus"}).first, 2);
    const auto missing = run({m_dir.file("missing.pwk").string()});
    EXPECT_EQ(missing.first, 3);
    EXPECT_NE(missing.second.find("failed (returned a 0x2): No such file or directory."), std::string::npos)
        << missing.second;
    // A port that is taken: said, and status 1.
    const auto taken = run({path, "--metrics", "127.0.0.1:" + std::to_string(m_open.Port())});
    EXPECT_EQ(taken.first, 1);
    EXPECT_NE(taken.second.find("cannot serve metrics on 127.0.0.1:"), std::string::npos) << taken.second;
}

TEST_F(MonitorCommand, AReaderOfStandardErrorThatGoesAwayDoesNotEndIt) {
    AddTcp(m_open.Port());
    const std::string path = Save();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::execl(PULSEWICK_CLI, PULSEWICK_CLI, "monitor", path.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    ::close(fds[0]); // every line it writes now fails with EPIPE
    std::this_thread::sleep_for(1500ms);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The e-mail waits for its server off the event loop: while a server never answers, the endpoint
// answers at once, and a stop gives the e-mail up and ends the program with status 0.
TEST_F(MonitorCommand, ASilentMailServerNeitherBlindsTheMetricsNorHoldsAStop) {
    LoopbackPort silent(LoopbackPort::Kind::stalled);
    AddTcp(m_closed.Port());
    EnableMail();
    MonitorProcess monitor(m_dir.path(),
                           {Save(), "--metrics", "127.0.0.1:0", "--smtp-port", std::to_string(silent.Port())});
    ASSERT_TRUE(monitor.WaitFor("pass 1: 1 of 1 did not answer", 20s)) << monitor.Err();
    const std::uint16_t port = monitor.MetricsPort(1s);
    ASSERT_NE(port, 0) << monitor.Err();
    for (int scrape = 0; scrape < 3; ++scrape) {
        std::this_thread::sleep_for(300ms);
        const auto answer = testsupport::HttpRequest(port, "GET", "/metrics", 2000);
        ASSERT_TRUE(answer) << "no answer within 2 s while the e-mail waits";
        EXPECT_EQ(answer->status, 200);
    }
    EXPECT_EQ(monitor.CountLines("e-mail:"), 0) << monitor.Err(); // it is still waiting

    const auto signalled = std::chrono::steady_clock::now();
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
    EXPECT_EQ(monitor.CountLines("e-mail:"), 0) << monitor.Err();
}

// The pager waits for the modem on a thread of its own; a stop meanwhile ends the wait at once,
// sends nothing more, and uses next to no processor time.
TEST_F(MonitorCommand, AStopDuringThePagerWaitEndsItWithoutSpinning) {
    testsupport::FakeModem modem; // never answers
    AddTcp(m_closed.Port());
    m_list.m_bPager = 1;
    m_list.m_nComPort = 1; // COM2
    MonitorProcess monitor(m_dir.path(), {Save()}, {{"PULSEWICK_COM2", modem.SlavePath()}});
    const std::string init = m_list.m_strModemInit + "\r";
    ASSERT_TRUE(modem.WaitForBytes(init.size(), 20000)) << monitor.Err();
    std::this_thread::sleep_for(500ms); // inside the three-second wait for the modem

    const double before = monitor.CpuSeconds();
    const auto signalled = std::chrono::steady_clock::now();
    monitor.Signal(SIGTERM);
    ASSERT_TRUE(monitor.WaitEnded(5s)) << monitor.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
    EXPECT_LT(monitor.CpuSeconds() - before, 0.08) << "the stop must not spin until the program ends";
    EXPECT_EQ(monitor.Wait(1s), 0);
    EXPECT_EQ(modem.Received(), init) << "nothing is sent after the stop";
    EXPECT_EQ(monitor.CountLines("pager:"), 0) << monitor.Err();
}

// Under a service manager (NOTIFY_SOCKET set) the monitor says it is ready once its first pass
// has started, pings the watchdog from its event loop, and says when it stops.
TEST_F(MonitorCommand, TellsAServiceManagerItIsReadyAndPingsItsWatchdog) {
    AddTcp(m_open.Port());
    const std::string socketPath = m_dir.file("notify").string();
    const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(manager, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(manager, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const timeval wait{1, 0};
    ::setsockopt(manager, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    const auto receive = [manager] {
        char message[256];
        const ssize_t n = ::recv(manager, message, sizeof message, 0);
        return n > 0 ? std::string(message, static_cast<std::size_t>(n)) : std::string();
    };

    MonitorProcess monitor(m_dir.path(), {Save()}, {{"NOTIFY_SOCKET", socketPath}, {"WATCHDOG_USEC", "200000"}});
    std::vector<std::string> heard;
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (std::count(heard.begin(), heard.end(), "WATCHDOG=1") < 3 && std::chrono::steady_clock::now() < giveUp) {
        if (std::string message = receive(); !message.empty())
            heard.push_back(message);
    }
    const auto ready = std::find(heard.begin(), heard.end(), "READY=1");
    ASSERT_NE(ready, heard.end()) << monitor.Err();
    EXPECT_GE(std::count(heard.begin(), heard.end(), "WATCHDOG=1"), 3);
    EXPECT_NE(monitor.Err().find("monitoring "), std::string::npos);

    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
    std::string last;
    for (std::string message; !(message = receive()).empty();)
        last = message;
    EXPECT_EQ(last, "STOPPING=1");
    ::close(manager);
}

// The service unit grants the monitor CAP_NET_RAW as an ambient capability, for ICMP. The execute
// alert's command, which runs whatever the list says, gets no capability at all.
TEST_F(MonitorCommand, TheExecuteAlertsCommandGetsNoneOfTheMonitorsCapabilities) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to start the monitor as another user with a capability";
    std::filesystem::permissions(m_dir.path(), std::filesystem::perms::all); // the service's user writes there
    const std::string service = m_dir.file("as-a-service").string();
    std::ofstream(service) << "#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=+net_raw "
                           << "--ambient-caps=+net_raw " << PULSEWICK_CLI << " \"$@\"\n";
    ::chmod(service.c_str(), 0755);
    AddTcp(m_closed.Port());
    m_list.m_nPeriod = 15; // the first pass alone
    const std::string status = m_dir.file("status").string();
    m_list.m_strExecute = "cat /proc/self/status > '" + status + ".part' && mv '" + status + ".part' '" + status + "'";
    MonitorProcess monitor(m_dir.path(), {Save()}, {}, 0, service);
    ASSERT_TRUE(monitor.WaitFor("execute: started", 30s)) << monitor.Err();
    const std::string own = ReadText("/proc/" + std::to_string(monitor.Pid()) + "/status");
    for (int waited = 0; waited < 2000 && !std::filesystem::exists(status); ++waited)
        std::this_thread::sleep_for(10ms);
    const std::string child = ReadText(status);
    ASSERT_NE(own.find("CapAmb:\t0000000000002000"), std::string::npos) << "as under its service unit\n" << own;
    for (const char* none : {"CapAmb:\t0000000000000000", "CapEff:\t0000000000000000", "CapPrm:\t0000000000000000"})
        EXPECT_NE(child.find(none), std::string::npos) << child;
}
