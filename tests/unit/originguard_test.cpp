// How the cross-site guard reads Host and Origin texts and judges each route
// of the table; its answers to whole requests are checked end to end.
#include "apps/web/service/originguard.h"
#include "apps/web/service/routes.h"

#include <gtest/gtest.h>

namespace {

TEST(OriginParsing, HostsCompareByCanonicalHostAndPort) {
    struct Case {
        const char* text;
        const char* host;
        int port;
    };
    for (const Case& c : std::initializer_list<Case>{{"Device.Local.", "device.local", -1},
                                                     {"device:8080", "device", 8080},
                                                     {"device:", "device", -1},
                                                     {"127.0.0.1:80", "127.0.0.1", 80},
                                                     {"10.0.0.1.", "10.0.0.1", -1},
                                                     {"[0:0::1]", "[::1]", -1},
                                                     {"[FE80::A]:443", "[fe80::a]", 443}}) {
        auto parsed = origin::parseHost(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(parsed->host, c.host) << c.text;
        EXPECT_EQ(parsed->port, c.port) << c.text;
    }
    for (const char* bad : {"", ".", "device..:1", "a b", "evil.com:80:80", "device:65536", "device:8o", "[::1",
                            "[::1]x", "[nope]", "::1", "dev/ice", ".device", "device:-1"})
        EXPECT_FALSE(origin::parseHost(bad)) << bad;
}

TEST(OriginParsing, SameOriginHonoursDefaultPorts) {
    auto same = [](const char* originText, const char* hostText) {
        auto parsed = origin::parseOrigin(originText);
        auto host = origin::parseHost(hostText);
        return parsed && host && origin::sameOrigin(*parsed, *host);
    };
    EXPECT_TRUE(same("http://device", "device"));
    EXPECT_TRUE(same("http://device", "device:80"));
    EXPECT_TRUE(same("http://device:80", "device"));
    EXPECT_TRUE(same("HTTPS://DEVICE.", "device:443"));
    EXPECT_TRUE(same("http://[::1]:8080", "[0::1]:8080"));
    EXPECT_FALSE(same("http://device", "device:443"));
    EXPECT_FALSE(same("https://device", "device:80"));
    EXPECT_FALSE(same("http://device:8080", "device"));
    EXPECT_FALSE(same("http://evil.example", "device"));
    for (const char* bad : {"null", "", "device", "ftp://device", "http://device/", "http://user@device",
                            "http://device?x", "http:/device", "http://"})
        EXPECT_FALSE(origin::parseOrigin(bad)) << bad;
}

// Every route of the table: one that changes the device is refused to a
// foreign page, by its Origin or its fetch metadata, and served to the
// device's own page and to clients without either; any other is served to all.
TEST(OriginGuardRoutes, EveryRouteThatChangesTheDeviceIsRefusedCrossSite) {
    using Verdict = OriginGuard::Verdict;
    OriginGuard guard;
    for (const Route& route : routes::table()) {
        std::string method = route.method.empty() ? "GET" : std::string(route.method);
        std::map<std::string, std::string> params{
            {"SCRIPT_NAME", std::string(route.script)}, {"REQUEST_METHOD", method}, {"HTTP_HOST", "10.0.0.5:8080"}};
        std::string path(route.path);
        if (path.ends_with('*')) path.back() = 'x';
        if (!path.empty()) params["PATH_INFO"] = path;
        std::string name = params["REQUEST_METHOD"] + " " + params["SCRIPT_NAME"] + params["PATH_INFO"];
        ASSERT_EQ(routes::find(params), &route) << name;
        auto judged = [&](const char* header, const char* value) {
            auto sent = params;
            sent[header] = value;
            return guard.judge(sent);
        };
        Verdict foreign = route.changes ? Verdict::CrossSite : Verdict::Pass;
        EXPECT_EQ(judged("HTTP_ORIGIN", "http://evil.example"), foreign) << name;
        EXPECT_EQ(judged("HTTP_SEC_FETCH_SITE", "cross-site"), foreign) << name;
        EXPECT_EQ(judged("HTTP_ORIGIN", "http://10.0.0.5:8080"), Verdict::Pass) << name;
        EXPECT_EQ(judged("HTTP_SEC_FETCH_SITE", "same-origin"), Verdict::Pass) << name;
        EXPECT_EQ(guard.judge(params), Verdict::Pass) << name;
    }
}

}  // namespace
