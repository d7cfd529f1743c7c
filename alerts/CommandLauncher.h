#pragma once

#include <string>

// Starts the command of the execute alert. Behind an interface so tests can see the request.
class ICommandLauncher {
public:
    virtual ~ICommandLauncher() = default;
    // Starts commandLine as "/bin/sh -c commandLine", detached: it is not waited for and its
    // result is not looked at. Returns false only when the shell could not be started.
    virtual bool Launch(const std::string& commandLine) = 0;
};

class CShellCommandLauncher final : public ICommandLauncher {
public:
    bool Launch(const std::string& commandLine) override;
};
