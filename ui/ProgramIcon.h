#pragma once

#include <QIcon>

namespace ui {

// The program icon in every size it is drawn in.
QIcon ProgramIcon();

// Makes the program icon the icon of every window of the application.
void InstallProgramIcon();

} // namespace ui
