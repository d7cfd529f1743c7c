#include "SmtpSink.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

SmtpSink::SmtpSink(const std::filesystem::path& outdir) : SmtpSink(outdir, {}) {}

SmtpSink::SmtpSink(const std::filesystem::path& outdir, const std::vector<std::string>& options) : m_outdir(outdir) {
    const std::string script = std::string(PULSEWICK_TEST_SUPPORT_DIR) + "/smtp_sink.py";
    const std::string python = PULSEWICK_SYSTEM_PYTHON;
    const std::string dir = outdir.string();
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("smtp sink: no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(python.c_str()), const_cast<char*>(script.c_str()),
                            const_cast<char*>(dir.c_str())};
    for (const std::string& option : options)
        argv.push_back(const_cast<char*>(option.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, python.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    if (rc != 0) {
        ::close(out[0]);
        throw std::runtime_error("smtp sink: cannot start " + python);
    }
    // The first line is the port; nothing at all means the server could not start.
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    if (line.empty())
        throw std::runtime_error("smtp sink: server did not start (is python3-aiosmtpd installed?)");
    m_port = static_cast<std::uint16_t>(std::stoi(line));
}

SmtpSink::~SmtpSink() {
    ::close(m_stdin); // the server ends when its input closes
    if (m_pid > 0) {
        int status;
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
                return;
            ::usleep(100000);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
}

std::optional<SmtpSink::Message> SmtpSink::Get(int n) const {
    const auto base = m_outdir / ("message-" + std::to_string(n));
    if (!std::filesystem::exists(base.string() + ".eml"))
        return std::nullopt;
    return Message{ReadText(base.string() + ".envelope"), ReadText(base.string() + ".eml")};
}

std::string SmtpSink::AuthLog() const {
    return ReadText(m_outdir / "auth.log");
}

int SmtpSink::Count() const {
    int n = 0;
    while (std::filesystem::exists(m_outdir / ("message-" + std::to_string(n + 1) + ".eml")))
        ++n;
    return n;
}

} // namespace testsupport
