#pragma once

#include <string>
#include <vector>

// What the command is given besides its command line.
struct CommandInput {
    std::vector<std::string> environment; // "NAME=value" each
    std::string standardInput;            // what it reads on its standard input; empty: nothing
};

// Starts the command of the execute alert. Behind an interface so tests can see the request.
class ICommandLauncher {
public:
    virtual ~ICommandLauncher() = default;
    // Starts commandLine as "/bin/sh -c commandLine", detached: it is not waited for and its
    // result is not looked at. input.environment is added to the program's own, replacing
    // variables of the same names; the command reads input.standardInput on its standard input,
    // whatever its size and whenever it reads. It starts with none of the program's
    // capabilities. Returns false only when the shell could not be started.
    virtual bool Launch(const std::string& commandLine, const CommandInput& input) = 0;
    bool Launch(const std::string& commandLine) { return Launch(commandLine, CommandInput{}); }
};

class CShellCommandLauncher final : public ICommandLauncher {
public:
    using ICommandLauncher::Launch;
    bool Launch(const std::string& commandLine, const CommandInput& input) override;
};
