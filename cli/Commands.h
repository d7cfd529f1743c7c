#pragma once

#include "CliSupport.h"

// The sub-commands of pulsewick-cli; each takes the arguments after its name.
namespace cli {

int RunShow(const QStringList& args);
int RunNew(const QStringList& args);
int RunAdd(const QStringList& args);
int RunRemove(const QStringList& args);
int RunSet(const QStringList& args);
int RunCheck(const QStringList& args);
int RunTestMail(const QStringList& args);
int RunTestPager(const QStringList& args);

} // namespace cli
