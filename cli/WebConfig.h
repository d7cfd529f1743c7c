#pragma once

#include "CHttpDaemon.h"

#include <sys/stat.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// A file as it was when it was read, to tell later whether it changed (or came or went).
struct FileStamp {
    std::string path;
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileStamp Of(const std::string& path);
    bool Same(const FileStamp& other) const;
};

// The endpoint's TLS and basic authentication, read from a file in exporter-toolkit's format (what
// node_exporter and Prometheus read with --web.config.file), so one file serves them all.
struct WebConfig {
    std::optional<TlsSettings> tls;
    std::map<std::string, std::string> users; // name -> bcrypt hash; none: no login asked
};

// The costs bcrypt takes (2^cost rounds).
constexpr int kMinBcryptCost = 4;
constexpr int kMaxBcryptCost = 31;
// The cost written in a hash that ReadWebConfig took.
int BcryptCost(const std::string& hash);

// Whether any of the files is no longer as stamped.
bool AnyChanged(const std::vector<FileStamp>& stamps);

struct WebConfigRead {
    std::optional<WebConfig> config;
    std::string error; // what is wrong with the file, naming the key or the file it names
    // The file and those it names, as they were when read (also when one of them was wrong): a
    // change in any means reading it again.
    std::vector<FileStamp> sources;
};

WebConfigRead ReadWebConfig(const std::string& path);

} // namespace cli
