#include "WebConfig.h"

#include "UniqueFd.h"

#include <gnutls/gnutls.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <memory>
#include <set>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <tuple>

namespace cli {

namespace {

// A web configuration, a certificate or a key is a few kilobytes; this bounds a mistaken path
// (a device, a log file).
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

// What is wrong with the file; caught within this file and returned as text.
struct Problem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Version {
    const char* name;
    const char* gnutls;
};
// Oldest first.
constexpr std::array<Version, 4> kVersions = {
    {{"TLS10", "VERS-TLS1.0"}, {"TLS11", "VERS-TLS1.1"}, {"TLS12", "VERS-TLS1.2"}, {"TLS13", "VERS-TLS1.3"}}};

const std::map<std::string, ClientAuth> kClientAuth = {{"NoClientCert", ClientAuth::none},
                                                       {"RequestClientCert", ClientAuth::request},
                                                       {"RequireAnyClientCert", ClientAuth::requireAny},
                                                       {"RequireClientCert", ClientAuth::requireAny},
                                                       {"VerifyClientCertIfGiven", ClientAuth::verifyIfGiven},
                                                       {"RequireAndVerifyClientCert", ClientAuth::requireAndVerify}};

// An empty file or one that is not a regular file (a FIFO, a device) is an error, not "nothing asked":
// a file caught half-written must never turn the passwords and TLS off.
std::string ReadFile(const std::string& path) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat status {};
    if (file && ::fstat(file.Get(), &status) == 0 && !S_ISREG(status.st_mode))
        throw Problem("not a regular file");
    std::string bytes;
    char buffer[16384];
    for (ssize_t n = 0; file;) {
        n = ::read(file.Get(), buffer, sizeof buffer);
        if (n == 0 && bytes.empty())
            throw Problem("the file is empty");
        if (n == 0)
            return bytes;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxFileBytes)
            throw Problem("larger than 1 MiB");
    }
    throw Problem("cannot read it (" + std::system_category().message(errno) + ")");
}

std::string Where(const YAML::Node& node) {
    return "line " + std::to_string(node.Mark().line + 1) + ": ";
}

// The keys of a section, each once, each one the section knows. Those of exporter-toolkit's
// format that this endpoint does not do are refused by name rather than left unheeded.
void CheckKeys(const YAML::Node& section, const std::string& name, const std::set<std::string>& known,
               const std::set<std::string>& notDone) {
    if (!section.IsMap())
        throw Problem(Where(section) + (name.empty() ? "the file" : name) + " must be a mapping");
    const std::string in = name.empty() ? std::string() : name + ": ";
    std::set<std::string> seen;
    for (const auto& entry : section) {
        const std::string key = entry.first.Scalar();
        if (!seen.insert(key).second)
            throw Problem(Where(entry.first) + in + key + " given twice");
        if (notDone.count(key) != 0)
            throw Problem(Where(entry.first) + in + key + " is not supported by pulsewick-cli");
        if (known.count(key) == 0)
            throw Problem(Where(entry.first) + in + "unknown key " + key);
    }
}

// $2a$, $2b$, $2x$ or $2y$, a two-digit cost, then 22 characters of salt and 31 of hash.
bool IsBcryptHash(const std::string& text) {
    static constexpr std::string_view kAlphabet = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    return text.size() == 60 && text.compare(0, 2, "$2") == 0 &&
           std::string_view("abxy").find(text[2]) != std::string_view::npos && text[3] == '$' &&
           std::isdigit(static_cast<unsigned char>(text[4])) && std::isdigit(static_cast<unsigned char>(text[5])) &&
           text[6] == '$' && text.find_first_not_of(kAlphabet, 7) == std::string::npos;
}

// A text value; empty when the key is missing or null.
std::string Text(const YAML::Node& section, const std::string& key) {
    const YAML::Node value = section[key];
    if (!value || value.IsNull())
        return {};
    if (!value.IsScalar())
        throw Problem(Where(value) + key + " must be a text");
    return value.Scalar();
}

// A path as exporter-toolkit takes it: relative ones from the configuration file's folder.
std::string Resolve(const std::string& path, const std::string& configPath) {
    const std::size_t slash = configPath.rfind('/');
    if (path.empty() || path.front() == '/' || slash == std::string::npos)
        return path;
    return configPath.substr(0, slash + 1) + path;
}

std::size_t VersionIndex(const std::string& name, const std::string& key, std::size_t fallback) {
    if (name.empty())
        return fallback;
    for (std::size_t i = 0; i < kVersions.size(); ++i)
        if (name == kVersions[i].name)
            return i;
    throw Problem("tls_server_config: " + key + " " + name + " is not one of TLS10, TLS11, TLS12, TLS13");
}

gnutls_datum_t Datum(const std::string& text) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())), static_cast<unsigned>(text.size())};
}

// Refuses a certificate and key that do not belong together, or a client CA file without a
// certificate, with the library's reason, before the daemon would refuse them without one.
void CheckTlsMaterial(const TlsSettings& tls) {
    gnutls_certificate_credentials_t raw = nullptr;
    if (gnutls_certificate_allocate_credentials(&raw) < 0)
        throw Problem("tls_server_config: the TLS library cannot start");
    const std::unique_ptr<gnutls_certificate_credentials_st, decltype(&gnutls_certificate_free_credentials)>
        credentials(raw, &gnutls_certificate_free_credentials);
    const gnutls_datum_t certificate = Datum(tls.certificate);
    const gnutls_datum_t key = Datum(tls.key);
    if (const int error = gnutls_certificate_set_x509_key_mem(raw, &certificate, &key, GNUTLS_X509_FMT_PEM); error < 0)
        throw Problem(std::string("tls_server_config: cert_file and key_file do not hold a certificate and its key (") +
                      gnutls_strerror(error) + ")");
    if (tls.clientCa.empty())
        return;
    const gnutls_datum_t authorities = Datum(tls.clientCa);
    const int count = gnutls_certificate_set_x509_trust_mem(raw, &authorities, GNUTLS_X509_FMT_PEM);
    if (count <= 0)
        throw Problem(std::string("tls_server_config: client_ca_file holds no certificate") +
                      (count < 0 ? std::string(" (") + gnutls_strerror(count) + ")" : std::string()));
}

std::optional<TlsSettings> ReadTls(const YAML::Node& section, const std::string& configPath,
                                   std::vector<FileStamp>& sources) {
    if (!section || section.IsNull())
        return std::nullopt;
    CheckKeys(section, "tls_server_config",
              {"cert_file", "key_file", "client_ca_file", "client_auth_type", "min_version", "max_version"},
              {"cert", "key", "client_ca", "client_allowed_sans", "cipher_suites", "curve_preferences",
               "prefer_server_cipher_suites"});
    const std::string certFile = Resolve(Text(section, "cert_file"), configPath);
    const std::string keyFile = Resolve(Text(section, "key_file"), configPath);
    const std::string caFile = Resolve(Text(section, "client_ca_file"), configPath);
    if (certFile.empty() && keyFile.empty() && section.size() == 0)
        return std::nullopt;
    if (certFile.empty() || keyFile.empty())
        throw Problem("tls_server_config needs both cert_file and key_file");

    TlsSettings tls;
    const std::string authName = Text(section, "client_auth_type");
    if (!authName.empty()) {
        const auto auth = kClientAuth.find(authName);
        if (auth == kClientAuth.end())
            throw Problem("tls_server_config: client_auth_type " + authName +
                          " is not one of NoClientCert, RequestClientCert, RequireAnyClientCert, "
                          "RequireClientCert, VerifyClientCertIfGiven, RequireAndVerifyClientCert");
        tls.clientAuth = auth->second;
    }
    const bool verifies = tls.clientAuth == ClientAuth::verifyIfGiven || tls.clientAuth == ClientAuth::requireAndVerify;
    if (verifies && caFile.empty())
        throw Problem("tls_server_config: client_auth_type " + authName + " needs client_ca_file");
    // As exporter-toolkit, a client_ca_file with a mode that checks nothing is taken (and unused but
    // for naming the authorities to the client); without any client_auth_type it says nothing.
    if (!caFile.empty() && tls.clientAuth == ClientAuth::none)
        throw Problem("tls_server_config: client_ca_file needs a client_auth_type");

    const std::size_t oldest = VersionIndex(Text(section, "min_version"), "min_version", 2);
    const std::size_t newest = VersionIndex(Text(section, "max_version"), "max_version", kVersions.size() - 1);
    if (oldest > newest)
        throw Problem("tls_server_config: min_version is above max_version");
    tls.priorities = "NORMAL:-VERS-ALL";
    for (std::size_t i = newest + 1; i-- > oldest;)
        tls.priorities += std::string(":+") + kVersions[i].gnutls;

    for (const auto& [file, text, key] : {std::tuple{&certFile, &tls.certificate, "cert_file"},
                                          {&keyFile, &tls.key, "key_file"},
                                          {&caFile, &tls.clientCa, "client_ca_file"}}) {
        if (file->empty())
            continue;
        sources.push_back(FileStamp::Of(*file));
        try {
            *text = ReadFile(*file);
        } catch (const Problem& problem) {
            throw Problem(std::string("tls_server_config: ") + key + " " + *file + ": " + problem.what());
        }
    }
    CheckTlsMaterial(tls);
    return tls;
}

std::map<std::string, std::string> ReadUsers(const YAML::Node& section) {
    std::map<std::string, std::string> users;
    if (!section || section.IsNull())
        return users;
    if (!section.IsMap())
        throw Problem(Where(section) + "basic_auth_users must be a mapping of names to bcrypt hashes");
    for (const auto& entry : section) {
        const std::string name = entry.first.Scalar();
        if (name.find(':') != std::string::npos)
            throw Problem(Where(entry.first) + "basic_auth_users: a user name cannot hold ':': " + name);
        if (!entry.second.IsScalar() || !IsBcryptHash(entry.second.Scalar()))
            throw Problem(Where(entry.second) + "basic_auth_users: the password of " + name + " is not a bcrypt hash");
        if (const int cost = BcryptCost(entry.second.Scalar()); cost < kMinBcryptCost || cost > kMaxBcryptCost)
            throw Problem(Where(entry.second) + "basic_auth_users: the bcrypt cost of " + name + " is " +
                          std::to_string(cost) + ", not between 4 and 31");
        if (!users.emplace(name, entry.second.Scalar()).second)
            throw Problem(Where(entry.first) + "basic_auth_users: " + name + " given twice");
    }
    return users;
}

} // namespace

int BcryptCost(const std::string& hash) {
    return (hash[4] - '0') * 10 + (hash[5] - '0');
}

FileStamp FileStamp::Of(const std::string& path) {
    FileStamp stamp;
    stamp.path = path;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = status.st_dev;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modified = status.st_mtim;
    stamp.changed = status.st_ctim;
    return stamp;
}

bool FileStamp::Same(const FileStamp& other) const {
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

bool AnyChanged(const std::vector<FileStamp>& stamps) {
    return std::any_of(stamps.begin(), stamps.end(),
                       [](const FileStamp& stamp) { return !stamp.Same(FileStamp::Of(stamp.path)); });
}

WebConfigRead ReadWebConfig(const std::string& path) {
    WebConfigRead read;
    WebConfig config;
    // Stamped before it is read: a change while it is read shows at the next look.
    read.sources.push_back(FileStamp::Of(path));
    try {
        const YAML::Node root = YAML::Load(ReadFile(path));
        // Comments alone are as likely a file caught half-written as one meant to ask for nothing.
        if (root.IsNull())
            throw Problem("the file holds no settings");
        CheckKeys(root, "", {"tls_server_config", "basic_auth_users"}, {"http_server_config", "rate_limit"});
        config.tls = ReadTls(root["tls_server_config"], path, read.sources);
        config.users = ReadUsers(root["basic_auth_users"]);
    } catch (const YAML::Exception& error) {
        read.error =
            (error.mark.is_null() ? std::string() : "line " + std::to_string(error.mark.line + 1) + ": ") + error.msg;
        return read;
    } catch (const Problem& problem) {
        read.error = problem.what();
        return read;
    }
    read.config = std::move(config);
    return read;
}

} // namespace cli
