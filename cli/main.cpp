#include "AlertsProgram.h"
#include "Commands.h"
#include "FileSizeLimit.h"

#include <cstdio>
#include <cstring>

namespace {

// The commands whose run is null need the alerts program: main hands them over to it.
const cli::Command kCommands[] = {
    {"show", cli::kShowSynopsis,
     "Print the settings and the entries of a list file, and what of it is muted until when.", cli::RunShow},
    {"new", cli::kNewSynopsis, "Write a new list with the default settings (--force replaces a file).", cli::RunNew},
    {"add", cli::kAddSynopsis, "Append an entry to a list file.", cli::RunAdd},
    {"remove", cli::kRemoveSynopsis, "Remove the entry in row ROW (counting from 1).", cli::RunRemove},
    {"set", cli::kSetSynopsis, "Change one setting of a list file.", cli::RunSet},
    {"check", cli::kCheckSynopsis,
     "Probe every entry once, as \"Ping Now\" does (log lines as the list asks, no alert); Ctrl-C stops.\n"
     "      Exit status 0 when every entry answered. --save writes the results back into LIST.\n"
     "      --echoes N sends 1 to 100 echoes (or connects) to each entry, --echo-interval MS apart (default\n"
     "      1000, at least 200 without root); the attempts of all entries interleave. An entry answers when\n"
     "      one attempt does; its round trip is the median, shown with the loss (JSON: sent, received,\n"
     "      lossRatio, min/maxRoundTripMs, jitterMs, degraded). --degraded-loss PERCENT and --degraded-rtt MS\n"
     "      mark an entry that answered but lost more, or took longer (median), as degraded: not failed.\n"
     "      --tcp-timeout SECONDS gives up a TCP connect then (\"no answer within N s\"; default: the kernel's).\n"
     "      --behind PARENT=CHILD,... declares entries behind another (its router): a child that fails while\n"
     "      its parent fails too is \"unreachable: PARENT is down\" (JSON: behind). Entries are named as\n"
     "      ADDRESS, ADDRESS:PORT or ADDRESS:ICMP.",
     cli::RunCheck},
    {"mute", cli::kMuteSynopsis,
     "Hold the alerts of the whole list, or of the entries named, for DURATION (90m, 2h, 1d, 1h30m; 1m\n"
     "      to 365d); probes, logs and metrics go on. A running monitor or window of the list heeds it\n"
     "      from its next pass. The state lives in $XDG_STATE_HOME/pulsewick, or in --state-dir DIR (a\n"
     "      service's: /var/lib/pulsewick); an entry still failing when the mute ends alerts as usual.",
     cli::RunMute},
    {"unmute", cli::kUnmuteSynopsis, "End the mute of the whole list (and of its entries), or of the entries named.",
     cli::RunUnmute},
    {"test-mail", cli::kTestMailSynopsis,
     "Send the alert e-mail for the list's current results now and print how the server took it.", nullptr},
    {"test-pager", cli::kTestPagerSynopsis, "Call the pager of a list through its modem now and show what happened.",
     nullptr},
    {"monitor", cli::kMonitorSynopsis,
     "Monitor as the window's Start does: a pass at once, then one every period of the list, the list's\n"
     "      check log, and after a failed pass its enabled alerts (the pop-up and the outcome of each alert\n"
     "      as lines on standard error). SIGTERM or SIGINT stops (status 0), SIGHUP reads LIST again.\n"
     "      --alert-after N alerts once an entry has failed N scheduled passes in a row (default 1);\n"
     "      --realert-every K alerts again every K passes while it still fails (default 1; never: not again);\n"
     "      --notify-recovery tells the execute alert (PULSEWICK_EVENT=recovered) and the e-mail alert when\n"
     "      every entry alerted about answers again.\n"
     "      --uplink HOST echoes HOST with every pass: a pass in which it does not answer is cut off (no\n"
     "      entry alert, nothing counted; one line per spell). --behind as for check: an unreachable entry\n"
     "      is not alerted on its own, and its parent's alert says how many are behind it. Mutes (see mute,\n"
     "      in --state-dir DIR) are read at every pass.\n"
     "      The probe options are check's; degraded entries are counted in each pass's line, and told when\n"
     "      they become degraded and when they no longer are.\n"
     "      --metrics serves Prometheus metrics at http://HOST:PORT/metrics (HOST 127.0.0.1 and PORT 7979 when\n"
     "      left out), with a page at / that links to them; a socket from systemd (pulsewick-monitor@NAME.socket)\n"
     "      serves the same. --web-config FILE adds TLS and basic authentication, in the web configuration\n"
     "      format of Prometheus' exporters (tls_server_config, basic_auth_users with bcrypt hashes); the file\n"
     "      is read again when it changes and on SIGHUP, and a bad one keeps the last good one.\n"
     "      --metrics-file writes the same text to PATH after every pass (node_exporter's textfile collector).\n"
     "      Metrics: pulsewick_probe_success and pulsewick_probe_round_trip_seconds per entry (labels row,\n"
     "      address, kind, port), pulsewick_last_pass_duration_seconds, pulsewick_last_pass_timestamp_seconds,\n"
     "      pulsewick_period_seconds, pulsewick_start_time_seconds, pulsewick_passes_total,\n"
     "      pulsewick_failed_passes_total, pulsewick_alerts_total{kind,outcome}; pulsewick_uplink_up with\n"
     "      --uplink, pulsewick_probe_unreachable{...,parent} per entry behind a parent, and\n"
     "      pulsewick_muted_until_timestamp_seconds per muted entry; with --echoes above 1 or a\n"
     "      degraded threshold also pulsewick_probe_attempts_total, pulsewick_probe_loss_ratio,\n"
     "      pulsewick_probe_jitter_seconds and the histogram pulsewick_probe_attempt_round_trip_seconds.\n"
     "      As a service: systemctl enable --now pulsewick-monitor@NAME monitors /etc/pulsewick/NAME.pwk.",
     nullptr},
};

void PrintUsage(FILE* to) {
    std::fputs("Usage: pulsewick-cli COMMAND [ARGUMENTS]\n"
               "Watches network hosts without a window: edits and checks Pulsewick list files (.pwk).\n\n"
               "Commands:\n",
               to);
    for (const auto& command : kCommands)
        std::fprintf(to, "  %s\n      %s\n", command.synopsis, command.summary);
    std::fputs("\nOptions:\n"
               "  -h, --help     Show this help.\n"
               "  -v, --version  Show the version.\n"
               "\nExit status: 0 success, 1 a check or alert failed, 2 usage error, 3 file error,\n"
               "4 corrupt list file.\n",
               to);
}

bool Is(const char* text, std::initializer_list<const char*> spellings) {
    for (const char* spelling : spellings)
        if (std::strcmp(text, spelling) == 0)
            return true;
    return false;
}

int Run(int argc, char* argv[]) {
    if (argc < 2) {
        PrintUsage(stderr);
        return cli::kExitUsage;
    }
    // Only the first argument is the program's own: everything after a command is that
    // command's, "--help" included.
    const char* name = argv[1];
    if (Is(name, {"-h", "--help", "help"})) {
        PrintUsage(stdout);
        return cli::kExitOk;
    }
    if (Is(name, {"-v", "--version"})) {
        std::puts("pulsewick-cli " PULSEWICK_VERSION);
        return cli::kExitOk;
    }
    for (const auto& command : kCommands) {
        if (std::strcmp(name, command.name) == 0)
            return command.run ? command.run(cli::Args(argv + 2, argv + argc)) : cli::RunAlertsProgram(argv);
    }
    cli::PrintError(std::string("unknown command '") + name + "'; try --help");
    return cli::kExitUsage;
}

} // namespace

int main(int argc, char* argv[]) {
    OutliveFileSizeLimit();
    return cli::FinishOutput(Run(argc, argv));
}
