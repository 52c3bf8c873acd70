#pragma once
// Keeps foreign web pages from using a crew member's browser against the
// device: a write sent from another origin (cross-site request, told by its
// Origin or by the browser's Sec-Fetch-Site) and any
// request under a name the device does not go by (DNS rebinding) are refused
// with 403. Decided from the parameters alone, so that a request is refused
// before any of its body is used.
#include "apps/web/service/request.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace origin {

// Host and port as they are compared: an IP literal in its canonical text
// (IPv6 in brackets), a name in lower case without one trailing dot.
struct Authority {
    static constexpr int NO_PORT = -1;
    std::string host;
    int port = NO_PORT;
    bool literal = false;  // an IPv4 or IPv6 address rather than a name

    bool operator==(const Authority&) const = default;
};

// A Host header: host[:port] or [IPv6][:port]. Nothing for text that is
// neither an IP literal nor a plausible name.
std::optional<Authority> parseHost(std::string_view text);
struct Origin {
    Authority authority;
    int schemePort = 0;  // the port a missing one stands for: 80 or 443
};

// An Origin header: http(s)://host[:port]. Nothing for "null", other
// schemes and anything malformed.
std::optional<Origin> parseOrigin(std::string_view text);
// Whether a page of this origin is the one the Host names. A Host without a
// port stands for the origin scheme's default port: the front server knows
// the scheme, the service does not.
bool sameOrigin(const Origin& origin, const Authority& host);

}  // namespace origin

class OriginGuard {
public:
    enum class Verdict { Pass, ForeignHost, CrossSite };

    // Names the device answers to besides its own, one a line; read at each
    // use, so an edit takes effect at once.
    static constexpr const char* ALLOWED_NAMES_FILE = "/etc/webservice/allowed-hosts";
    static constexpr const char* REFUSAL_TEXT = "Cross-site request refused";
    static constexpr int LOG_LINES_PER_SECOND = 5;

    explicit OriginGuard(std::string allowedNamesFile = ALLOWED_NAMES_FILE);

    Verdict judge(const std::map<std::string, std::string>& params) const;
    // True when the request may be routed; a refused one is answered here.
    bool admit(Request& request);

private:
    bool nameAllowed(const std::string& name) const;
    void logRefusal(Verdict verdict, const std::map<std::string, std::string>& params);

    std::string allowedNamesFile;
    // A flood of refusals must not flood the kernel log: at most a few lines
    // a second, the rest counted into the next line.
    std::chrono::steady_clock::time_point logWindow;
    int loggedInWindow = 0;
    unsigned long unlogged = 0;
};
