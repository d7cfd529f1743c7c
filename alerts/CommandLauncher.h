#pragma once

#include <string>
#include <vector>

// Starts the command of the execute alert. Behind an interface so tests can see the request.
class ICommandLauncher {
public:
    virtual ~ICommandLauncher() = default;
    // Starts commandLine as "/bin/sh -c commandLine", detached: it is not waited for and its
    // result is not looked at. environment ("NAME=value" each) is added to the program's own,
    // replacing variables of the same names. Returns false only when the shell could not be
    // started.
    virtual bool Launch(const std::string& commandLine, const std::vector<std::string>& environment) = 0;
    bool Launch(const std::string& commandLine) { return Launch(commandLine, {}); }
};

class CShellCommandLauncher final : public ICommandLauncher {
public:
    using ICommandLauncher::Launch;
    bool Launch(const std::string& commandLine, const std::vector<std::string>& environment) override;
};
