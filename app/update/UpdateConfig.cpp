#include "app/update/UpdateConfig.h"

#include <cstdint>

#include "app/update/HttpGetRequest.h"
#include "base/ProfileStore.h"

namespace quillet {
namespace {

bool isHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// Why a host setting cannot be used, or empty when it can.
std::string hostProblem(const std::string& host)
{
    if (host.find("://") != std::string::npos)
        return "the host \"" + host + "\" has a scheme; give only the name (and \":port\")";
    const size_t colon = host.find(':');
    const std::string name = host.substr(0, colon);
    if (name.empty())
        return "the host \"" + host + "\" has no name";
    for (char c : name)
        if (!isHostChar(c))
            return "the host \"" + host + "\" may hold only letters, digits, '.' and '-' before its port";
    if (host.size() < HttpGetRequest::kMinHostLength)
        return "the host \"" + host + "\" is shorter than 7 characters (add its \":80\" port)";
    return {};
}

} // namespace

UpdateConfig UpdateConfig::fromSettings(const ProfileStore& settings, std::string versionText)
{
    UpdateConfig c;
    c.versionText = std::move(versionText);
    c.host = settings.getString(kSection, kHostKey, "");
    c.page = settings.getString(kSection, kPageKey, "");
    while (!c.page.empty() && c.page.front() == '/')
        c.page.erase(0, 1);
    if (c.host.empty())
        return c;
    c.problem = hostProblem(c.host);
    if (!c.problem.empty())
        return c;
    // The request itself refuses what could change its meaning (blanks and
    // control characters, a port out of range); say which setting it was.
    std::string h, p;
    uint16_t port = 0;
    if (!HttpGetRequest::splitUrl(c.host + "/", &h, &port, &p))
        c.problem = "the host \"" + c.host + "\" has a port outside 1..65535";
    else if (!HttpGetRequest::splitUrl(c.url(), &h, &port, &p))
        c.problem = "the page \"" + c.page + "\" holds blanks or control characters";
    return c;
}

} // namespace quillet
