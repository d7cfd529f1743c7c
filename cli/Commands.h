#pragma once

#include "CliSupport.h"
#include "ProbeOptions.h"

// The sub-commands of pulsewick-cli; each takes the arguments after its name.
namespace cli {

// How each sub-command is called, for --help and for usage errors.
inline constexpr const char* kShowSynopsis = "show LIST [--json] [--state-dir DIR]";
inline constexpr const char* kNewSynopsis = "new [--force] LIST";
inline constexpr const char* kAddSynopsis = "add LIST icmp HOST | add LIST tcp HOST PORT";
inline constexpr const char* kRemoveSynopsis = "remove LIST ROW";
inline constexpr const char* kSetSynopsis = "set LIST KEY VALUE";
// Entries behind a parent, for check and monitor.
#define PULSEWICK_BEHIND_SYNOPSIS "[--behind PARENT=CHILD[,CHILD...]]..."
inline constexpr const char* kCheckSynopsis =
    "check LIST [--json] [--save] " PULSEWICK_BEHIND_SYNOPSIS " " PULSEWICK_PROBE_OPTIONS_SYNOPSIS;
inline constexpr const char* kMuteSynopsis = "mute LIST DURATION [ENTRY...] [--state-dir DIR]";
inline constexpr const char* kUnmuteSynopsis = "unmute LIST [ENTRY...] [--state-dir DIR]";
// The e-mail options of test-mail and monitor (MailOptions.h), a literal to join the synopses.
#define PULSEWICK_MAIL_OPTIONS_SYNOPSIS                                                                                \
    "[--smtp-port N] [--smtp-security none|starttls|tls] [--smtp-user NAME --smtp-password-file PATH] "                \
    "[--smtp-ca-file PATH]"
inline constexpr const char* kTestMailSynopsis = "test-mail LIST " PULSEWICK_MAIL_OPTIONS_SYNOPSIS;
inline constexpr const char* kTestPagerSynopsis = "test-pager LIST";
inline constexpr const char* kMonitorSynopsis =
    "monitor LIST [--metrics HOST[:PORT]] [--web-config FILE] [--metrics-file PATH] [--alert-after N] "
    "[--realert-every K|never] [--notify-recovery] [--uplink HOST] " PULSEWICK_BEHIND_SYNOPSIS
    " [--state-dir DIR] " PULSEWICK_PROBE_OPTIONS_SYNOPSIS " " PULSEWICK_MAIL_OPTIONS_SYNOPSIS;

// Run by pulsewick-cli itself, with the C++ library alone.
int RunShow(const Args& args);
int RunNew(const Args& args);
int RunAdd(const Args& args);
int RunRemove(const Args& args);
int RunSet(const Args& args);
int RunCheck(const Args& args);
int RunMute(const Args& args);
int RunUnmute(const Args& args);

// Run by the alerts program, in a QCoreApplication.
int RunTestMail(const Args& args);
int RunTestPager(const Args& args);
int RunMonitor(const Args& args);

} // namespace cli
