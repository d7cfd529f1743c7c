#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What the command is given besides its command line.
struct CommandInput {
    std::vector<std::string> environment; // "NAME=value" each
    std::string standardInput;            // what it reads on its standard input; empty: nothing
};

// How many more bytes of environment strings the kernel takes when the shell starts commandLine
// with input: the arguments and the whole environment, each string with its zero byte and
// pointer, must fit in a quarter of the stack limit (at least 128 KiB, at most 6 MiB), or the
// command does not start (E2BIG).
std::size_t EnvironmentRoom(const std::string& commandLine, const CommandInput& input);

// Starts the command of the execute alert. Behind an interface so tests can see the request.
class ICommandLauncher {
public:
    virtual ~ICommandLauncher() = default;
    // Starts commandLine as "/bin/sh -c commandLine", detached: it is not waited for and its
    // result is not looked at. input.environment is added to the program's own, replacing
    // variables of the same names; the command reads input.standardInput on its standard input,
    // whatever its size, whenever it reads and whatever the file-size limit. It starts with none
    // of the program's capabilities (unless this program runs as root, whose commands get
    // root's). Returns false only when the shell could not be started.
    virtual bool Launch(const std::string& commandLine, const CommandInput& input) = 0;
    bool Launch(const std::string& commandLine) { return Launch(commandLine, CommandInput{}); }
};

class CShellCommandLauncher final : public ICommandLauncher {
public:
    enum class Started { no, yes, withoutInput };

    using ICommandLauncher::Launch;
    bool Launch(const std::string& commandLine, const CommandInput& input) override {
        return Start(commandLine, input) != Started::no;
    }
    // Launch, telling also whether the command started without its standard input (no descriptor
    // or process to spare for it): it then reads /dev/null.
    Started Start(const std::string& commandLine, const CommandInput& input);
};
