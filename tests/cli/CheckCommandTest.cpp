#include "CItemList.h"
#include "ListFile.h"
#include "LoopbackPorts.h"
#include "RunProgram.h"
#include "SanitizerBuild.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/capability.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::TempDir;

namespace {

constexpr int kCannotDropPrivilege = 126;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::filesystem::path& path) {
    const auto bytes = testsupport::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs pulsewick-cli with args; returns its exit status.
int Companion(std::vector<std::string> args) {
    args.insert(args.begin(), PULSEWICK_CLI);
    return testsupport::RunProgram(std::move(args));
}

// Runs `pulsewick-cli check ARGS`; a non-empty interruptOnceOut sends SIGINT as soon as the
// output holds that text (the run is under way then, however slowly the program started), after
// beforeInterrupt has run. withoutRawSockets drops the raw-socket capability from the child first;
// env is added to the child's environment.
CliRun Check(const TempDir& dir, std::vector<std::string> args, const std::string& interruptOnceOut = {},
             bool withoutRawSockets = false, const std::function<void()>& beforeInterrupt = {},
             const std::vector<std::pair<std::string, std::string>>& env = {}) {
    args.insert(args.begin(), {PULSEWICK_CLI, "check"});
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    std::filesystem::remove(out); // what an earlier run printed must not pass for this one's
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (withoutRawSockets && ::prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0) != 0)
            ::_exit(kCannotDropPrivilege);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    CliRun run;
    if (pid < 0)
        return run;
    if (!interruptOnceOut.empty()) {
        const auto giveUp = std::chrono::steady_clock::now() + 20s;
        const auto printed = [&] { // the child may not have created the file yet
            std::ifstream file(out, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(file), {}).find(interruptOnceOut) != std::string::npos;
        };
        while (!printed() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(10ms);
        if (beforeInterrupt)
            beforeInterrupt();
        ::kill(pid, SIGINT);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

class CheckCommand : public ::testing::Test {
protected:
    void Add(std::int32_t connect, std::uint16_t port, const std::string& address = "127.0.0.1") {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = connect;
        item->m_strAddress = address;
        item->m_nPort = port;
        m_list.AddTail(std::move(item));
    }
    std::string Save() {
        const std::string path = m_dir.file("list.pwk").string();
        EXPECT_TRUE(SaveListFile(m_list, path).Succeeded());
        return path;
    }

    TempDir m_dir;
    CItemList m_list;
    LoopbackPort m_open{LoopbackPort::Kind::listening};
    LoopbackPort m_closed{LoopbackPort::Kind::closed};
};

} // namespace

TEST_F(CheckCommand, AllAnsweringSavesResultsAndLogs) {
    Add(1, m_open.Port());
    Add(1, m_open.Port());
    m_list.m_nLogMode = 2;
    m_list.m_strLogFile = m_dir.file("check.log").string();
    const std::string path = Save();

    const CliRun run = Check(m_dir, {path, "--save"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("  1     \"127.0.0.1\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" Yes "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" ms\n"), std::string::npos) << run.out;
    EXPECT_EQ(ReadText(m_list.m_strLogFile).size() > 0, true);

    const auto loaded = LoadListFile(path);
    ASSERT_TRUE(loaded.list);
    EXPECT_EQ(loaded.list->GetAt(0).m_bResult, 1);
    EXPECT_EQ(loaded.list->GetAt(1).m_bResult, 1);
}

TEST_F(CheckCommand, FailureGivesStatusOneAndWithoutSaveLeavesTheFile) {
    Add(1, m_closed.Port());
    Add(1, m_open.Port());
    const std::string path = Save();
    const auto before = testsupport::ReadFileBytes(path);

    const CliRun run = Check(m_dir, {path, "--json"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find("\"result\": 0"), std::string::npos) << run.out;
    EXPECT_NE(
        run.out.find(
            "\"row\": 1, \"address\": \"127.0.0.1\", \"kind\": \"tcp\", \"port\": " + std::to_string(m_closed.Port()) +
            ", \"probed\": true, \"ok\": false, \"roundTripMs\": null, \"reason\": \"connection refused\"}"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"ok\": true, \"roundTripMs\": "), std::string::npos) << run.out;
    EXPECT_EQ(testsupport::ReadFileBytes(path), before);
}

// An allocator that neither caches nor keeps freed bytes: a result read after its probe was freed
// would read "Yes" for every row.
TEST_F(CheckCommand, RefusedPortsReadNoWhateverTheAllocatorDoesWithFreedMemory) {
    Add(0, 0);
    Add(1, m_closed.Port());
    Add(1, m_closed.Port(), "localhost");
    const std::string path = Save();

    const CliRun run = Check(m_dir, {path, "--json"}, {}, false, {},
                             {{"GLIBC_TUNABLES", "glibc.malloc.tcache_count=0"}, {"MALLOC_PERTURB_", "165"}});
    EXPECT_EQ(run.status, 1) << run.err;
    for (const char* address : {"\"127.0.0.1\"", "\"localhost\""}) {
        EXPECT_NE(run.out.find(std::string("\"address\": ") + address + ", \"kind\": \"tcp\", \"port\": " +
                               std::to_string(m_closed.Port()) + ", \"probed\": true, \"ok\": false"),
                  std::string::npos)
            << run.out;
    }
}

TEST_F(CheckCommand, CtrlCStopsTheRunAndListsEveryRowInOrder) {
    LoopbackPort stalled(LoopbackPort::Kind::stalled);
    Add(1, m_open.Port());
    Add(1, stalled.Port());
    Add(1, m_open.Port());
    const std::string path = Save();

    const auto start = std::chrono::steady_clock::now();
    const CliRun run = Check(m_dir, {path}, " Yes ");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_EQ(run.status, 1) << run.err;
    const auto row2 = run.out.find("\n  2     \"127.0.0.1\"");
    ASSERT_NE(row2, std::string::npos) << run.out;
    const std::string line = run.out.substr(row2 + 1, run.out.find('\n', row2 + 1) - row2 - 1);
    EXPECT_NE(line.find(std::to_string(stalled.Port()) + "  not probed"), std::string::npos) << line;
    // Row 3 ended before the interruption or not; either way it comes after row 2.
    const auto row3 = run.out.find("\n  3     \"127.0.0.1\"");
    EXPECT_NE(row3, std::string::npos) << run.out;
    EXPECT_GT(row3, row2) << run.out;
    EXPECT_NE(run.err.find("interrupted"), std::string::npos) << run.err;
}

// Each entry as "tcp HOST:PORT=RESULT" or "icmp HOST=RESULT".
std::vector<std::string> Rows(const CItemList& list) {
    std::vector<std::string> rows;
    for (std::size_t row = 0; row < list.GetCount(); ++row) {
        const CItem& item = list.GetAt(row);
        rows.push_back((item.m_bConnect ? "tcp " + item.m_strAddress + ":" + std::to_string(item.m_nPort)
                                        : "icmp " + item.m_strAddress) +
                       "=" + std::to_string(item.m_bResult));
    }
    return rows;
}

// A check takes no lock while it probes, so other editors change the list meanwhile; its save
// then records only its results, and only for the entries it probed.
TEST_F(CheckCommand, SaveKeepsWhatAnotherEditorChangedDuringThePass) {
    struct Case {
        std::vector<std::string> edit; // the list's path goes after the command
        std::vector<std::string> rows; // R, O and S stand for the refused, open and stalled entries
        std::int32_t period;
    };
    const Case cases[] = {
        {{"add", "icmp", "127.0.0.9"}, {"R=0", "O=1", "S=0", "icmp 127.0.0.9=0"}, 15},
        {{"set", "period", "7"}, {"R=0", "O=1", "S=0"}, 7},
        {{"remove", "1"}, {"O=1", "S=0"}, 15}, // moved up: still its own result
        {{"remove", "2"}, {"R=0", "S=0"}, 15}, // never another entry's result
    };
    for (const Case& c : cases) {
        LoopbackPort stalled(LoopbackPort::Kind::stalled); // one connection each: the queue stays full
        const std::map<char, std::string> entries{{'R', "tcp 127.0.0.1:" + std::to_string(m_closed.Port())},
                                                  {'O', "tcp 127.0.0.1:" + std::to_string(m_open.Port())},
                                                  {'S', "tcp 127.0.0.1:" + std::to_string(stalled.Port())}};
        std::vector<std::string> rows = c.rows;
        for (std::string& row : rows) {
            if (entries.count(row[0]))
                row.replace(0, 1, entries.at(row[0]));
        }
        m_list.RemoveAll();
        Add(1, m_closed.Port());
        m_list.GetAt(0).m_bResult = 1; // results on disk that the pass turns round
        Add(1, m_open.Port());
        Add(1, stalled.Port());
        const std::string path = Save();
        std::vector<std::string> edit = c.edit;
        edit.insert(edit.begin() + 1, path);

        // " Yes " is row 2: rows 1 and 2 are probed, row 3 waits until the interruption.
        const CliRun run = Check(m_dir, {path, "--save"}, " Yes ", false, [&] { EXPECT_EQ(Companion(edit), 0); });
        EXPECT_EQ(run.status, 1) << run.err;
        const ListFileLoadResult saved = LoadListFile(path);
        ASSERT_TRUE(saved.HasList()) << c.edit[0];
        EXPECT_EQ(Rows(*saved.list), rows) << c.edit[0];
        EXPECT_EQ(saved.list->m_nPeriod, c.period) << c.edit[0];
    }
}

TEST_F(CheckCommand, ExplainsOnceHowToGrantIcmp) {
    const int ping = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (ping >= 0) {
        ::close(ping);
        GTEST_SKIP() << "ping sockets are open to everyone here";
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to take the privilege away";
    Add(0, 0);
    Add(0, 0);
    const CliRun run = Check(m_dir, {Save()}, {}, /*withoutRawSockets=*/true);
    if (run.status == kCannotDropPrivilege)
        GTEST_SKIP() << "cannot take the privilege away here";
    EXPECT_EQ(run.status, 1);
    const auto first = run.err.find("cap_net_raw");
    ASSERT_NE(first, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("cap_net_raw", first + 1), std::string::npos) << "once: " << run.err;
    EXPECT_NE(run.err.find("ping_group_range"), std::string::npos);
}

TEST_F(CheckCommand, ColumnsLineUpForAnyAddress) {
    // A port no TCP connect can use fails at once, before any name lookup.
    Add(1, m_open.Port());
    auto item = std::make_unique<CItem>();
    item->m_strAddress = "h\xC3\xB4te";
    item->m_nPort = 70000;
    m_list.AddTail(std::move(item));

    const CliRun run = Check(m_dir, {Save()});
    EXPECT_EQ(run.status, 1) << run.err;
    const auto portColumn = [](const std::string& line, const std::string& port) {
        std::size_t characters = 0;
        for (std::size_t i = 0; i < std::min(line.find(port), line.size()); ++i)
            characters += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        return characters;
    };
    std::istringstream lines(run.out);
    std::string header, first, second;
    std::getline(lines, header);
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(portColumn(header, "Port"), portColumn(first, std::to_string(m_open.Port()))) << run.out;
    EXPECT_EQ(portColumn(header, "Port"), portColumn(second, "70000")) << run.out;
    EXPECT_NE(second.find("70000  No           port out of range"), std::string::npos) << run.out;
}

TEST_F(CheckCommand, UsageErrors) {
    EXPECT_EQ(Check(m_dir, {}).status, 2);
    EXPECT_EQ(Check(m_dir, {"a.pwk", "--bogus"}).status, 2);
    EXPECT_EQ(Check(m_dir, {m_dir.file("missing.pwk").string()}).status, 3);
}

// Under a file-size limit (100 bytes) a write past it fails instead of ending the program, the
// window included: the check log keeps whole lines, a list or metrics file stays as it was.
TEST_F(CheckCommand, EveryProgramOutlivesAWritePastTheFileSizeLimit) {
    const std::string log = m_dir.file("log"), metrics = m_dir.file("metrics"), ran = m_dir.file("ran");
    Add(1, m_closed.Port());
    m_list.m_strExecute = "touch " + ran; // after the failed pass, so after its log lines
    m_list.m_strLogFile = log;
    m_list.m_nLogMode = 2;
    m_list.m_bStartAuto = 1;
    const std::string list = Save();
    const auto saved = testsupport::ReadFileBytes(list); // longer than the limit, as are the metrics
    const std::vector<unsigned char> lines(90, '\n');    // whole lines, 10 bytes short of the limit
    testsupport::WriteFileBytes(metrics, {});
    const std::pair<std::vector<std::string>, int> runs[] = {
        {{PULSEWICK_CLI, "check", list}, 1},
        {{PULSEWICK_CLI, "set", list, "period", "5"}, 3},
        {{PULSEWICK_CLI, "monitor", list, "--metrics-file", metrics}, 0},
        {{PULSEWICK_APP, list}, 128 + SIGTERM}};
    for (auto [args, status] : runs) {
        if (args[0] == PULSEWICK_APP && testsupport::kThreadSanitizer)
            continue; // the window's Qt D-Bus thread trips ThreadSanitizer; the window has no such run
        testsupport::WriteFileBytes(log, lines);
        std::filesystem::remove(ran);
        // Until it ends, or until its command has run and SIGTERM ends it.
        args.insert(args.begin(), {"/bin/sh", "-c",
                                   "prlimit --fsize=100 \"$@\" >/dev/null & p=$!; (until [ -e " + ran +
                                       " ]; do sleep 0.05; done; kill $p) & w=$!; wait $p; s=$?; kill $w; exit $s",
                                   "sh"});
        const auto run = testsupport::RunProgram(m_dir, args, {{"HOME", m_dir.path()}});
        EXPECT_EQ(run.status, status) << args[5] << run.err;
        EXPECT_EQ(testsupport::ReadFileBytes(log), lines) << args[5];
    }
    EXPECT_EQ(testsupport::ReadFileBytes(list), saved);
    EXPECT_TRUE(std::filesystem::is_empty(metrics));
}
