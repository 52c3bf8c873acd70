#include "apps/web/service/originguard.h"

#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"
#include "apps/web/service/routes.h"

#include <arpa/inet.h>
#include <climits>
#include <fstream>
#include <unistd.h>

namespace origin {
namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = lower(c);
    return result;
}

// The text of a name as compared: lower case, one trailing dot dropped.
std::string normalName(std::string_view name) {
    if (name.ends_with('.')) name.remove_suffix(1);
    return lowered(name);
}

bool nameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

std::optional<std::string> canonicalAddress(int family, const std::string& text) {
    unsigned char address[16];
    char canonical[INET6_ADDRSTRLEN];
    if (inet_pton(family, text.c_str(), address) != 1) return std::nullopt;
    if (inet_ntop(family, address, canonical, sizeof canonical) == nullptr) return std::nullopt;
    return family == AF_INET6 ? "[" + std::string(canonical) + "]" : std::string(canonical);
}

// Digits only, at most 65535; an empty port is as good as none.
std::optional<int> parsePort(std::string_view text) {
    if (text.empty()) return Authority::NO_PORT;
    if (text.size() > 5) return std::nullopt;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port > 65535) return std::nullopt;
    return port;
}

}  // namespace

std::optional<Authority> parseHost(std::string_view text) {
    Authority authority;
    std::string_view host = text, port;
    if (text.starts_with('[')) {
        size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = text.substr(1, close - 1);
        std::string_view after = text.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) return std::nullopt;
        if (!after.empty()) port = after.substr(1);
        auto address = canonicalAddress(AF_INET6, std::string(host));
        if (!address) return std::nullopt;
        authority.host = *address;
        authority.literal = true;
    } else {
        if (size_t colon = text.find(':'); colon != std::string_view::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
        }
        // One trailing dot is dropped from an address as from a name, as a browser does.
        if (host.ends_with('.')) host.remove_suffix(1);
        if (auto address = canonicalAddress(AF_INET, std::string(host))) {
            authority.host = *address;
            authority.literal = true;
        } else {
            authority.host = lowered(host);
            // Empty labels: no name, and not one the browser would send.
            const std::string& name = authority.host;
            if (name.empty() || name.starts_with('.') || name.ends_with('.') || name.find("..") != std::string::npos)
                return std::nullopt;
            for (char c : authority.host)
                if (!nameCharacter(c)) return std::nullopt;
        }
    }
    auto number = parsePort(port);
    if (!number) return std::nullopt;
    authority.port = *number;
    return authority;
}

std::optional<Origin> parseOrigin(std::string_view text) {
    size_t separator = text.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    std::string scheme = lowered(text.substr(0, separator));
    std::string_view rest = text.substr(separator + 3);
    // An origin is scheme and authority only: no user, path, query or fragment.
    if (rest.find_first_of("/?#@") != std::string_view::npos) return std::nullopt;
    Origin parsed;
    if (scheme == "http")
        parsed.schemePort = 80;
    else if (scheme == "https")
        parsed.schemePort = 443;
    else
        return std::nullopt;
    auto authority = parseHost(rest);
    if (!authority) return std::nullopt;
    parsed.authority = *authority;
    return parsed;
}

bool sameOrigin(const Origin& origin, const Authority& host) {
    auto effective = [&](int port) { return port == Authority::NO_PORT ? origin.schemePort : port; };
    return origin.authority.host == host.host && effective(origin.authority.port) == effective(host.port);
}

}  // namespace origin

namespace {

using routes::param;
using routes::paramOrEmpty;

std::string deviceName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace

OriginGuard::OriginGuard(std::string allowedNamesFile) : allowedNamesFile(std::move(allowedNamesFile)) {}

bool OriginGuard::nameAllowed(const std::string& name) const {
    std::string own = origin::normalName(deviceName());
    if (name == "localhost" || (!own.empty() && (name == own || name == own + ".local"))) return true;
    std::ifstream file(allowedNamesFile);
    for (std::string line; std::getline(file, line);) {
        size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#') continue;
        size_t end = line.find_last_not_of(" \t\r");
        if (origin::normalName(std::string_view(line).substr(start, end + 1 - start)) == name) return true;
    }
    return false;
}

OriginGuard::Verdict OriginGuard::judge(const std::map<std::string, std::string>& params) const {
    std::optional<origin::Authority> host;
    if (const std::string* hostText = param(params, "HTTP_HOST"); hostText && !hostText->empty()) {
        host = origin::parseHost(*hostText);
        if (!host || (!host->literal && !nameAllowed(host->host))) return Verdict::ForeignHost;
    }
    if (!routes::changes(params)) return Verdict::Pass;
    // A browser says where a request comes from, with or without an Origin;
    // clients without fetch metadata are judged by their Origin alone.
    if (paramOrEmpty(params, "HTTP_SEC_FETCH_SITE") == "cross-site") return Verdict::CrossSite;
    const std::string* originText = param(params, "HTTP_ORIGIN");
    if (originText == nullptr) return Verdict::Pass;
    auto parsed = origin::parseOrigin(*originText);
    return parsed && host && origin::sameOrigin(*parsed, *host) ? Verdict::Pass : Verdict::CrossSite;
}

bool OriginGuard::admit(Request& request) {
    Verdict verdict = judge(request.params);
    if (verdict == Verdict::Pass) return true;
    logRefusal(verdict, request.params);
    routes::refuse(request, "403 Forbidden", REFUSAL_TEXT);
    return false;
}

void OriginGuard::logRefusal(Verdict verdict, const std::map<std::string, std::string>& params) {
    auto now = std::chrono::steady_clock::now();
    if (now - logWindow >= std::chrono::seconds(1)) {
        logWindow = now;
        loggedInWindow = 0;
    }
    if (loggedInWindow >= LOG_LINES_PER_SECOND) {
        ++unlogged;
        return;
    }
    ++loggedInWindow;
    std::string script =
        loggable(std::string(paramOrEmpty(params, "SCRIPT_NAME")).append(paramOrEmpty(params, "PATH_INFO")));
    std::string host = loggable(paramOrEmpty(params, "HTTP_HOST"));
    std::string skipped = unlogged > 0 ? " (" + std::to_string(unlogged) + " more refused, not logged)" : "";
    unlogged = 0;
    if (verdict == Verdict::ForeignHost)
        LOG(Warn, "Refused %s for the foreign Host '%s'%s", script.c_str(), host.c_str(), skipped.c_str());
    else
        LOG(Warn, "Refused cross-site %s from Origin '%s' for Host '%s'%s", script.c_str(),
            loggable(paramOrEmpty(params, "HTTP_ORIGIN")).c_str(), host.c_str(), skipped.c_str());
}
