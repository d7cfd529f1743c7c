#pragma once

#include "CliSupport.h"

#include <QString>
#include <QStringList>

// The alerts program's commands parse their options with Qt; these carry their text to and from
// the byte strings of the list file and of the shared helpers.
namespace cli {

// In the locale's 8-bit encoding, as Qt decodes the program's arguments.
std::string ToBytes(const QString& text);
QStringList ToQStringList(const Args& args);

// Prints "pulsewick-cli: TEXT" on stderr.
void PrintError(const QString& text);

} // namespace cli
