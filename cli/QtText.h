#pragma once

#include "CliSupport.h"

#include <QString>
#include <QStringList>

// The alerts program's commands parse their options with Qt, which reads only the ASCII names of
// the options. Every other byte of an argument rides through the parser as the Latin-1 character
// of the same number, so a path or a name comes back byte for byte, whether or not it is valid
// in the locale's encoding. Such a QString holds bytes, not text: it goes back to bytes before it
// reaches a file, the environment or standard error, and never to Qt's file classes.
namespace cli {

std::string ToBytes(const QString& carried);
QStringList ToQStringList(const Args& args);

// Prints "pulsewick-cli: TEXT" on stderr, with the bytes TEXT carries.
void PrintError(const QString& text);

} // namespace cli
