#pragma once

#include "UserPrompts.h"

#include <optional>
#include <string>

namespace ui {

// The bytes of a path chosen in a file dialog. The dialog shows names decoded from the locale's
// encoding, and a name that is not valid text there comes back with U+FFFD for its bad bytes:
// such a component is the one entry of its folder that reads the same. Nothing when that cannot
// be told (several entries read the same), so that nothing is written anywhere but where the user chose.
std::optional<std::string> ChosenPath(const QString& chosen);

// Asks for a file through Prompts(); the bytes of the path chosen, or empty when the user cancelled
// or the name cannot be told apart from another (which is said in a message box).
std::string AskForFile(QWidget* parent, const FileDialogRequest& request);

} // namespace ui
