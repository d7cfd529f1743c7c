#pragma once

#include <string>

// The application: takes the command-line tail and runs the main window modally; the program
// ends when that window closes. Nothing is saved on the way out.
class CMonitorApp {
public:
    // The arguments after the program name joined with single blanks, otherwise unchanged (no
    // quotes removed). Taken before QApplication consumes the options it knows.
    static std::string CommandLineTail(int argc, const char* const* argv);

    explicit CMonitorApp(std::string commandLineTail) : m_lpCmdLine(std::move(commandLineTail)) {}

    // Runs the main window; returns the process exit status.
    int InitInstance();

    const std::string m_lpCmdLine;
};
