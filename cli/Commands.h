#pragma once

#include "CliSupport.h"

// The sub-commands of pulsewick-cli; each takes the arguments after its name.
namespace cli {

// How each sub-command is called, for --help and for usage errors.
inline constexpr const char* kShowSynopsis = "show LIST [--json]";
inline constexpr const char* kNewSynopsis = "new [--force] LIST";
inline constexpr const char* kAddSynopsis = "add LIST icmp HOST | add LIST tcp HOST PORT";
inline constexpr const char* kRemoveSynopsis = "remove LIST ROW";
inline constexpr const char* kSetSynopsis = "set LIST KEY VALUE";
inline constexpr const char* kCheckSynopsis = "check LIST [--json] [--save]";
inline constexpr const char* kTestMailSynopsis = "test-mail LIST";
inline constexpr const char* kTestPagerSynopsis = "test-pager LIST";
inline constexpr const char* kMonitorSynopsis =
    "monitor LIST [--metrics HOST:PORT] [--metrics-file PATH] [--alert-after N] [--realert-every K|never] "
    "[--notify-recovery]";

int RunShow(const QStringList& args);
int RunNew(const QStringList& args);
int RunAdd(const QStringList& args);
int RunRemove(const QStringList& args);
int RunSet(const QStringList& args);
int RunCheck(const QStringList& args);
int RunTestMail(const QStringList& args);
int RunTestPager(const QStringList& args);
int RunMonitor(const QStringList& args);

} // namespace cli
