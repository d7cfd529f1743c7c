#include "CliSupport.h"
#include "JsonOutput.h"
#include "ListFile.h"
#include "ListFileSamples.h"
#include "RunProgram.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using samples::Bytes;
using testsupport::ReadFileBytes;
using testsupport::TempDir;
using testsupport::WriteFileBytes;

namespace {

using CliRun = testsupport::ProgramRun;

// Runs pulsewick-cli with args.
CliRun Cli(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), PULSEWICK_CLI);
    return testsupport::RunProgram(dir, std::move(args));
}

const char* const kNewListSettings = R"(  "settings": {
    "popup": 0,
    "soundFile": "",
    "execute": "",
    "pager": 0,
    "period": 15,
    "startAuto": 0,
    "logMode": 0,
    "logFile": "",
    "modemInit": "AT Q0 E0 M0 V0",
    "messageCode": "1",
    "pagerNumber": "5551234",
    "pause": 5,
    "comPort": 1,
    "mail": 0,
    "from": "",
    "server": "127.0.0.1",
    "to": "",
    "subject": ""
  },
)";

TEST(CliEditing, BuildsTheTwoEntryExampleFromCommands) {
    TempDir dir;
    const std::string list = dir.file("two.pwk").string();
    EXPECT_EQ(Cli(dir, {"new", list}).status, 0);
    EXPECT_EQ(ReadFileBytes(list).size(), 94u);
    EXPECT_EQ(Cli(dir, {"add", list, "icmp", "10.0.0.1"}).status, 0);
    EXPECT_EQ(Cli(dir, {"add", list, "tcp", "10.0.0.2", "25"}).status, 0);
    EXPECT_EQ(Cli(dir, {"add", list, "tcp", "10.0.0.3", "443"}).status, 0);
    EXPECT_EQ(Cli(dir, {"remove", list, "3"}).status, 0);

    // Results are written by checks only; patch the first entry's result to match the example.
    Bytes expected = samples::TwoEntryCurrent();
    Bytes bytes = ReadFileBytes(list);
    ASSERT_EQ(bytes.size(), expected.size());
    EXPECT_EQ(bytes[105], 0);
    bytes[105] = 1;
    EXPECT_EQ(bytes, expected);

    const CliRun show = Cli(dir, {"show", list, "--json"});
    EXPECT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out, std::string("{\n") + kNewListSettings +
                            "  \"entries\": [\n"
                            "    {\"result\": 0, \"connect\": 0, \"address\": \"10.0.0.1\", \"port\": 80},\n"
                            "    {\"result\": 0, \"connect\": 1, \"address\": \"10.0.0.2\", \"port\": 25}\n"
                            "  ]\n}\n");
    const CliRun text = Cli(dir, {"show", list});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\"10.0.0.1\"  ICMP   No"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\"10.0.0.2\"  25     No"), std::string::npos) << text.out;
}

TEST(CliEditing, SetChangesOneSettingWithinTheWindowsRanges) {
    TempDir dir;
    const std::string list = dir.file("s.pwk").string();
    ASSERT_EQ(Cli(dir, {"new", list}).status, 0);
    EXPECT_EQ(Cli(dir, {"set", list, "period", "100000"}).status, 0);
    EXPECT_EQ(Cli(dir, {"set", list, "comPort", "-1"}).status, 0);
    EXPECT_EQ(Cli(dir, {"set", list, "subject", "Host down"}).status, 0);
    EXPECT_EQ(Cli(dir, {"set", list, "server", ""}).status, 0);
    const std::string json = Cli(dir, {"show", list, "--json"}).out;
    EXPECT_NE(json.find("\"period\": 100000,"), std::string::npos);
    EXPECT_NE(json.find("\"comPort\": -1,"), std::string::npos);
    EXPECT_NE(json.find("\"subject\": \"Host down\""), std::string::npos);
    EXPECT_NE(json.find("\"server\": \"\","), std::string::npos);

    const Bytes before = ReadFileBytes(list);
    const CliRun range = Cli(dir, {"set", list, "period", "0"});
    EXPECT_EQ(range.status, 2);
    EXPECT_EQ(range.err, "pulsewick-cli: period: Please enter an integer between 1 and 100000.\n");
    const CliRun word = Cli(dir, {"set", list, "pause", "five"});
    EXPECT_EQ(word.status, 2);
    EXPECT_EQ(word.err, "pulsewick-cli: pause: Please enter an integer.\n");
    const CliRun key = Cli(dir, {"set", list, "Period", "5"});
    EXPECT_EQ(key.status, 2);
    EXPECT_NE(key.err.find("unknown key 'Period'"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(list), before) << "a refused change writes nothing";
}

TEST(CliEditing, TwoEditorsAtOnceLoseNoChange) {
    TempDir dir;
    const std::string list = dir.file("shared.pwk").string();
    ASSERT_EQ(Cli(dir, {"new", list}).status, 0);
    // Each editor appends its own entries; an edit made from an older copy would drop some.
    constexpr int kEdits = 50;
    const auto editor = [&](const std::string& name, int& failures) {
        const TempDir out; // the runs' output, apart from the other editor's
        for (int i = 0; i < kEdits; ++i)
            failures += Cli(out, {"add", list, "icmp", name + std::to_string(i)}).status != 0;
    };
    int failuresA = 0, failuresB = 0;
    std::thread a(editor, "a", std::ref(failuresA));
    std::thread b(editor, "b", std::ref(failuresB));
    a.join();
    b.join();
    EXPECT_EQ(failuresA + failuresB, 0);

    const ListFileLoadResult result = LoadListFile(list);
    ASSERT_TRUE(result.HasList()) << result.message;
    std::set<std::string> addresses;
    result.list->ForEach([&](const CItem& item) { addresses.insert(item.m_strAddress); });
    EXPECT_EQ(result.list->GetCount(), 2u * kEdits);
    EXPECT_EQ(addresses.size(), 2u * kEdits);
}

TEST(CliEditing, UsageErrorsExitWithTwo) {
    TempDir dir;
    const std::string list = dir.file("u.pwk").string();
    ASSERT_EQ(Cli(dir, {"new", list}).status, 0);
    EXPECT_EQ(Cli(dir, {}).status, 2);
    EXPECT_EQ(Cli(dir, {"frobnicate"}).status, 2);
    EXPECT_EQ(Cli(dir, {"show"}).status, 2);
    EXPECT_EQ(Cli(dir, {"show", list, "--xml"}).status, 2);
    EXPECT_EQ(Cli(dir, {"add", list, "udp", "h"}).status, 2);
    EXPECT_EQ(Cli(dir, {"add", list, "tcp", "h"}).status, 2);
    EXPECT_EQ(Cli(dir, {"add", list, "tcp", "h", "http"}).status, 2);
    const CliRun row = Cli(dir, {"remove", list, "1"});
    EXPECT_EQ(row.status, 2);
    EXPECT_EQ(row.err, "pulsewick-cli: there is no row 1; the list has 0 entries\n");
    EXPECT_EQ(ReadFileBytes(list).size(), 94u);

    const CliRun help = Cli(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("set LIST KEY VALUE"), std::string::npos);
    const CliRun version = Cli(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("pulsewick-cli ", 0), 0u);
}

// check and monitor take the probe options in the same forms and say the same of a bad one.
TEST(CliArguments, CheckAndMonitorReadProbeOptionsAlike) {
    TempDir dir;
    const std::string list = dir.file("p.pwk").string();
    ASSERT_EQ(Cli(dir, {"new", list}).status, 0);
    const std::vector<std::pair<cli::Args, std::string>> cases = {
        {{"--echoes", "0"}, "--echoes needs a number from 1 to 100: '0'"},
        {{"--echoes", "3", "--echoes", "3"}, "--echoes given more than once"},
        {{"--echoes=3", "--echoes=4"}, "--echoes given more than once"},
        {{"--echoes=3", "--tcp-timeout=0"}, "--tcp-timeout needs seconds from 1 to 600: '0'"},
        {{"--degraded-loss", "100"}, "--degraded-loss needs a percentage from 0 to 99: '100'"},
        {{"--degraded-rtt"}, "--degraded-rtt needs milliseconds from 1 to 600000: ''"},
    };
    for (const char* command : {"check", "monitor"}) {
        for (const auto& [options, message] : cases) {
            cli::Args args = {command, list};
            args.insert(args.end(), options.begin(), options.end());
            const CliRun run = Cli(dir, args);
            EXPECT_EQ(run.status, 2) << testing::PrintToString(args);
            EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), "pulsewick-cli: " + message + "\n")
                << testing::PrintToString(args);
        }
    }
}

TEST(CliFiles, FileErrorsExitWithThreeAndCorruptListsWithFour) {
    TempDir dir;
    const std::string missing = dir.file("missing.pwk").string();
    const CliRun gone = Cli(dir, {"show", missing});
    EXPECT_EQ(gone.status, 3);
    EXPECT_EQ(gone.err, "pulsewick-cli: Loading " + missing + " failed (returned a 0x2): No such file or directory.\n");
    EXPECT_EQ(Cli(dir, {"add", missing, "icmp", "h"}).status, 3);
    EXPECT_FALSE(std::filesystem::exists(missing)) << "editing does not create a list";

    const std::string cut = dir.file("cut.pwk").string();
    Bytes bytes = samples::TwoEntryCurrent();
    bytes.resize(120);
    WriteFileBytes(cut, bytes);
    for (const char* command : {"show", "set"}) {
        const CliRun corrupt =
            command == std::string("show") ? Cli(dir, {"show", cut}) : Cli(dir, {"set", cut, "popup", "1"});
        EXPECT_EQ(corrupt.status, 4);
        EXPECT_EQ(corrupt.err, "pulsewick-cli: Error: Load failure.  File may be corrupted.\n"
                               "pulsewick-cli: An attempt was made to access an unnamed file past its end.\n");
    }
    EXPECT_EQ(ReadFileBytes(cut), bytes);

    const std::string existing = dir.file("existing.pwk").string();
    WriteFileBytes(existing, samples::TwoEntryCurrent());
    EXPECT_EQ(Cli(dir, {"new", existing}).status, 3);
    EXPECT_EQ(ReadFileBytes(existing), samples::TwoEntryCurrent());
    EXPECT_EQ(Cli(dir, {"new", "--force", existing}).status, 0);
    EXPECT_EQ(ReadFileBytes(existing).size(), 94u);

    // Output that cannot be written whole (a full disk), by either program.
    const std::string two = dir.file("two.pwk").string();
    WriteFileBytes(two, samples::TwoEntryCurrent());
    for (const std::string command : {"\"$0\" show \"$1\" --json", "\"$0\" test-mail \"$1\" --smtp-port 1"}) {
        const CliRun full =
            testsupport::RunProgram(dir, {"/bin/sh", "-c", command + " > /dev/full", PULSEWICK_CLI, two});
        EXPECT_EQ(full.status, 3) << command;
        EXPECT_EQ(full.err, "pulsewick-cli: cannot write to standard output: No space left on device\n");
    }

    ASSERT_EQ(::chmod(existing.c_str(), 0444), 0);
    const CliRun readOnly = Cli(dir, {"set", existing, "popup", "1"});
    EXPECT_EQ(readOnly.status, 3);
    EXPECT_EQ(readOnly.err, "pulsewick-cli: Opening " + existing + " failed (returned a 0xd): Permission denied.\n");
}

TEST(CliFiles, AFileWithNoListShowsAndEditsTheNewList) {
    TempDir dir;
    const std::string empty = dir.file("none.pwk").string();
    WriteFileBytes(empty, {0x00, 0x00});
    const CliRun show = Cli(dir, {"show", empty, "--json"});
    EXPECT_EQ(show.status, 0);
    EXPECT_EQ(show.out, std::string("{\n") + kNewListSettings + "  \"entries\": []\n}\n");
    EXPECT_EQ(Cli(dir, {"set", empty, "period", "30"}).status, 0);
    const Bytes saved = ReadFileBytes(empty);
    EXPECT_EQ(saved.size(), 94u);
    EXPECT_EQ(saved[25], 30);
}

// The command line is read byte for byte, as the window's fields read numbers: a sign, digits,
// nothing around them; a list path and long switches only, in any order.
TEST(CliArguments, NumbersPathsAndSwitchesAreReadStrictly) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> numbers = {
        {"42", 42},
        {"+7", 7},
        {"-0", 0},
        {"-2147483648", INT32_MIN},
        {"2147483647", INT32_MAX},
        {"2147483648", std::nullopt},
        {"+-1", std::nullopt},
        {" 7", std::nullopt},
        {"7 ", std::nullopt},
        {"0x10", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"1e3", std::nullopt},
    };
    for (const auto& [text, value] : numbers)
        EXPECT_EQ(cli::ParseInt32(text), value) << "'" << text << "'";

    const std::vector<std::pair<cli::Args, std::optional<std::string>>> lines = {
        {{"a.pwk"}, "a.pwk"},
        {{"--json", "a.pwk"}, "a.pwk"},
        {{"-"}, "-"},
        {{}, std::nullopt},
        {{"a", "b"}, std::nullopt},
        {{"a", "--"}, std::nullopt},
        {{"a", "-json"}, std::nullopt},
        {{"a", "--json=1"}, std::nullopt},
        {{"a", "--save"}, std::nullopt},
    };
    for (const auto& [args, path] : lines) {
        bool json = false;
        EXPECT_EQ(cli::ListAndSwitches(args, {{"--json", &json}}), path) << testing::PrintToString(args);
        EXPECT_EQ(json, path && args.front() == "--json");
    }
}

TEST(CliJson, BytesThatAreNotUtf8AreEscaped) {
    EXPECT_EQ(cli::JsonQuote("plain"), "\"plain\"");
    EXPECT_EQ(cli::JsonQuote("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\"");
    EXPECT_EQ(cli::JsonQuote("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
    EXPECT_EQ(cli::JsonQuote("\xFF\xE9t\xC3"), "\"\\u00ff\\u00e9t\\u00c3\"");
    EXPECT_EQ(cli::JsonQuote("\xC0\xAF"), "\"\\u00c0\\u00af\"");            // overlong
    EXPECT_EQ(cli::JsonQuote("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\""); // surrogate
    EXPECT_EQ(cli::JsonQuote(std::string("\0", 1)), "\"\\u0000\"");

    TempDir dir;
    const std::string list = dir.file("latin1.pwk").string();
    ASSERT_EQ(Cli(dir, {"new", list}).status, 0);
    ASSERT_EQ(Cli(dir, {"add", list, "icmp", "placeholder"}).status, 0);
    // A list written elsewhere in Latin-1: patch the address bytes to "Gr\xFC\xDF" + padding.
    Bytes bytes = ReadFileBytes(list);
    const std::string latin1 = "Gr\xFC\xDFxxxxxxx";
    std::copy(latin1.begin(), latin1.end(), bytes.end() - 4 - 11);
    WriteFileBytes(list, bytes);
    const CliRun show = Cli(dir, {"show", list, "--json"});
    EXPECT_NE(show.out.find("\"address\": \"Gr\\u00fc\\u00dfxxxxxxx\""), std::string::npos) << show.out;
}

} // namespace

// The commands that only read, edit and check a list start with no Qt at all; the alert
// commands are handed to the alerts program with their exit status. The dynamic loader lists
// every object it maps, those opened later included.
TEST(CliStart, ListCommandsLoadNoQtLibrary) {
    TempDir dir;
    const std::string list = dir.file("lean.pwk").string();
    const std::vector<std::pair<std::vector<std::string>, int>> commands = {
        {{"new", list}, 0},
        {{"add", list, "icmp", "127.0.0.1"}, 0},
        {{"add", list, "tcp", "127.0.0.1", "1"}, 0},
        {{"set", list, "period", "5"}, 0},
        {{"remove", list, "2"}, 0},
        {{"show", list}, 0},
        {{"check", list}, 0},
        {{"check", list, "--json"}, 0},
        {{"--help"}, 0},
    };
    ::setenv("LD_DEBUG", "files", 1);
    for (const auto& [args, status] : commands) {
        const CliRun run = Cli(dir, args);
        EXPECT_EQ(run.status, status) << args.front() << ": " << run.err;
        EXPECT_NE(run.err.find("libc.so"), std::string::npos) << "the loader's list is there";
        EXPECT_EQ(run.err.find("libQt6"), std::string::npos) << args.front() << " loads Qt";
    }
    const CliRun monitor = Cli(dir, {"monitor"});
    ::unsetenv("LD_DEBUG");
    EXPECT_EQ(monitor.status, 2);
    EXPECT_NE(monitor.err.find("libQt6Core.so"), std::string::npos) << "monitor runs in the alerts program";
    for (const char* heavy : {"Network", "HttpServer", "WebSockets"})
        EXPECT_EQ(monitor.err.find(std::string("libQt6") + heavy), std::string::npos) << "monitor loads " << heavy;
    EXPECT_NE(monitor.err.find("usage: pulsewick-cli monitor"), std::string::npos);
}

// Without /proc the program cannot find itself; it must not then run an alerts program of that
// name from the current directory, where anyone may have put one.
TEST(CliStart, WithoutProcNoAlertsProgramOfTheCurrentDirectoryRuns) {
    TempDir dir;
    std::ofstream(dir.file("pulsewick-cli-alerts")) << "#!/bin/sh\ntouch ran\n";
    std::filesystem::permissions(dir.file("pulsewick-cli-alerts"), std::filesystem::perms::owner_all);
    const std::string list = dir.file("list.pwk").string();
    for (const std::vector<std::string>& edit : {std::vector<std::string>{"new", list},
                                                 {"add", list, "tcp", "127.0.0.1", "1"},
                                                 {"set", list, "soundFile", "alarm.wav"}})
        ASSERT_EQ(Cli(dir, edit).status, 0);
    // A mount namespace of its own (private: nothing reaches the machine's mounts) with /proc
    // hidden; the alerts program's monitor runs until its sound alert has said why it failed.
    const CliRun run = testsupport::RunProgram(
        dir,
        {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
         "mount -t tmpfs none /proc || exit 77; cd \"$0\" && \"$1\" monitor list.pwk; \"$2\" monitor list.pwk 2>err & "
         "until grep -q sound: err || [ $((i += 1)) -gt 600 ]; do sleep 0.1; done; kill $!; cat err >&2",
         dir.path(), PULSEWICK_CLI, PULSEWICK_CLI_ALERTS});
    if (run.status == 77 || run.status == -1)
        GTEST_SKIP() << "no mount namespace of our own here (needs root): " << run.err;
    EXPECT_NE(run.err.find("sound: failed, no sound module (this program cannot find its"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("ran"))) << run.err;
}

// Mutes live in a state folder beside the list, never in it: what mute takes and refuses, what
// show and unmute make of it, and parents that check refuses before it probes anything.
TEST(CliMute, MuteUnmuteAndShowKeepTheStateOutsideTheList) {
    TempDir dir;
    const std::string list = dir.file("office.pwk").string();
    const std::string state = dir.file("state").string();
    std::filesystem::create_directory(state);
    for (const std::vector<std::string>& edit : {std::vector<std::string>{"new", list},
                                                 {"add", list, "icmp", "127.0.0.2"},
                                                 {"add", list, "tcp", "127.0.0.2", "25"},
                                                 {"add", list, "tcp", "127.0.0.3", "25"}})
        ASSERT_EQ(Cli(dir, edit).status, 0);
    const Bytes before = ReadFileBytes(list);

    struct Case {
        std::vector<std::string> args; // after "mute LIST"
        int status;
        std::string said; // in the output, or in the error when refused
    };
    const Case cases[] = {
        {{"90m"}, 0, "office.pwk: alerts muted until "},
        {{"1d12h", "127.0.0.2"}, 0, "127.0.0.2:ICMP: alerts muted until "},
        {{"2h", "127.0.0.3:25"}, 0, "127.0.0.3:25: alerts muted until "},
        {{"30s"}, 2, "not a DURATION: '30s'"},
        {{"366d"}, 2, "not a DURATION: '366d'"},
        {{"2h30"}, 2, "not a DURATION: '2h30'"},
        {{"30m2h"}, 2, "not a DURATION: '30m2h'"},
        {{"1h", "127.0.0.9"}, 2, "no entry '127.0.0.9' in "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"mute", list, "--state-dir", state};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun run = Cli(dir, args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << ": " << run.err;
        EXPECT_NE((c.status == 0 ? run.out : run.err).find(c.said), std::string::npos) << run.out << run.err;
    }
    EXPECT_EQ(ReadFileBytes(list), before) << "nothing of a mute goes into the list";

    const CliRun shown = Cli(dir, {"show", list, "--json", "--state-dir", state});
    EXPECT_EQ(shown.status, 0) << shown.err;
    for (const char* muted : {"{\"entry\": null, \"until\": ", "{\"entry\": \"127.0.0.2:ICMP\", \"until\": ",
                              "{\"entry\": \"127.0.0.2:25\", \"until\": ", "{\"entry\": \"127.0.0.3:25\", \"until\": "})
        EXPECT_NE(shown.out.find(muted), std::string::npos) << muted << shown.out;

    const CliRun one = Cli(dir, {"unmute", list, "127.0.0.3:25", "--state-dir", state});
    EXPECT_EQ(one.out, "127.0.0.3:25: alerts resume\n" + list + ": the whole list stays muted " +
                           one.out.substr(one.out.find("until ")));
    EXPECT_EQ(Cli(dir, {"unmute", list, "--state-dir", state}).status, 0);
    EXPECT_TRUE(std::filesystem::is_empty(state)) << "nothing muted leaves no file";
    EXPECT_EQ(Cli(dir, {"show", list, "--state-dir", state}).out.find("Muted"), std::string::npos);

    const std::pair<std::vector<std::string>, std::string> parents[] = {
        {{"127.0.0.2:25=127.0.0.3", "127.0.0.3=127.0.0.2:25"}, "a cycle: "},
        {{"127.0.0.2=127.0.0.3"}, "'127.0.0.2' names 2 entries"},
        {{"127.0.0.2:25=127.0.0.3", "127.0.0.2:ICMP=127.0.0.3"}, "127.0.0.3:25 is behind both "},
        {{"127.0.0.2:25=nowhere"}, "no entry 'nowhere' in the list"},
        {{"127.0.0.2:25"}, "not PARENT=CHILD[,CHILD...]"},
    };
    for (const auto& [declarations, said] : parents) {
        std::vector<std::string> args{"check", list};
        for (const std::string& declaration : declarations)
            args.insert(args.end(), {"--behind", declaration});
        const CliRun run = Cli(dir, args);
        EXPECT_EQ(run.status, 2) << said;
        EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << "refused before probing";
    }
}
