#pragma once
#include <string>

namespace quillet {
class ProfileStore;

// Where the program looks for news of a newer version. The host and page are
// read from the settings file (section "Update", keys "Host" and "Page"); with
// no host configured no request is ever made.
struct UpdateConfig {
    static constexpr const char* kSection = "Update";
    static constexpr const char* kHostKey = "Host";
    static constexpr const char* kPageKey = "Page";
    // The client identifier sent in the User-Agent after the version.
    static constexpr const char* kClientId = "X11; Linux";
    // The check waits this long after the main window has initialised.
    static constexpr int kStartDelayMs = 1000;
    // A whole check (lookup, connect, reply) that takes longer is abandoned,
    // so a server that drips its page or never answers holds nothing open.
    static constexpr int kCheckTimeoutMs = 20000;

    std::string host;        // "name" or "name:port"; empty when none is configured
    std::string page;        // path on that host, without the leading '/'
    std::string versionText; // the running program's version, e.g. "0.1.0.0"
    std::string clientId = kClientId;
    // Why a configured host or page cannot be used (then no request is made);
    // empty when the settings are usable or simply absent.
    std::string problem;
    int startDelayMs = kStartDelayMs;
    int checkTimeoutMs = kCheckTimeoutMs;

    bool configured() const { return !host.empty() && problem.empty(); }
    // The request's URL: host "/" page, without a scheme.
    std::string url() const { return host + "/" + page; }

    // Reads and checks the host and page. A host with a scheme, a path, blanks,
    // control characters or a port outside 1..65535, and a page with blanks or
    // control characters, are refused with a problem text.
    static UpdateConfig fromSettings(const ProfileStore& settings, std::string versionText);
};

} // namespace quillet
