#pragma once

#include <QSize>

// Runs the tests of this executable against the real window system: a private X server (Xvfb)
// of the given screen size with the openbox window manager and, where installed, a tint2 panel
// with a system tray. Returns the tests' status, or 77 (skipped) when Xvfb, openbox or xprop
// cannot be found.
int RunTestsUnderX11(int argc, char* argv[], QSize screen);
