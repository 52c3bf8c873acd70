// Host and Origin texts of any bytes (input: host, a line feed, origin): the
// parsers read nothing outside the text, what they accept compares the same
// written back, in other letter case and, for a name, with a trailing dot, and
// an origin built from an accepted host is its own page.
#include "apps/web/service/originguard.h"
#include "fuzz/support/target.h"

#include <string>

namespace {

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string written(const origin::Authority& authority) {
    return authority.port == origin::Authority::NO_PORT ? authority.host
                                                         : authority.host + ":" + std::to_string(authority.port);
}

void checkHost(std::string_view text) {
    auto parsed = origin::parseHost(text);
    FUZZ_EXPECT(origin::parseHost(upper(text)) == parsed, "letter case changed the verdict");
    if (!parsed) return;
    FUZZ_EXPECT(parsed->host.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos,
                "a host kept upper case");
    FUZZ_EXPECT(parsed->port >= origin::Authority::NO_PORT && parsed->port <= 65535, "port out of range");
    FUZZ_EXPECT(origin::parseHost(written(*parsed)) == parsed, "written back, it parses differently");
    if (!parsed->literal && text.find(':') == std::string_view::npos && !text.ends_with('.'))
        FUZZ_EXPECT(origin::parseHost(std::string(text) + ".") == parsed, "a trailing dot changed the name");
    if (text.find_first_of("/?#@") != std::string_view::npos) return;
    for (const char* scheme : {"http://", "HTTPS://"}) {
        auto page = origin::parseOrigin(scheme + std::string(text));
        FUZZ_EXPECT(page && origin::sameOrigin(*page, *parsed), "a host's own origin is not its page");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    std::string_view host = input.substr(0, split);
    std::string_view originText = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    checkHost(host);
    auto page = origin::parseOrigin(originText);
    auto parsedHost = origin::parseHost(host);
    bool samePage = page && parsedHost && origin::sameOrigin(*page, *parsedHost);
    OriginGuard guard("/nonexistent/allowed-hosts");
    OriginGuard::Verdict verdict = guard.judge({{"SCRIPT_NAME", "/api/v1/set.cgi"},
                                                {"REQUEST_METHOD", "POST"},
                                                {"HTTP_HOST", std::string(host)},
                                                {"HTTP_ORIGIN", std::string(originText)}});
    if (verdict == OriginGuard::Verdict::Pass) FUZZ_EXPECT(samePage, "a write passed from another origin");
    if (samePage && parsedHost->literal)
        FUZZ_EXPECT(verdict == OriginGuard::Verdict::Pass, "a page of the device's address was refused");
    return 0;
}
