// How the cross-site guard reads Host and Origin texts and which routes it
// counts as changing; its verdicts on whole requests are checked end to end.
#include "apps/web/service/originguard.h"

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

TEST(OriginGuardRoutes, ChangingRoutesWhateverTheMethod) {
    EXPECT_TRUE(OriginGuard::changes("POST", "/api/v1/all.cgi", ""));
    EXPECT_TRUE(OriginGuard::changes("DELETE", "/zelapp/v1", "/device/info"));
    EXPECT_TRUE(OriginGuard::changes("GET", "/api/v1/set.cgi", ""));
    EXPECT_TRUE(OriginGuard::changes("", "/api/v1/premarkeddata.cgi", ""));
    EXPECT_TRUE(OriginGuard::changes("GET", "/zelapp/v1", "/device/update"));
    EXPECT_TRUE(OriginGuard::changes("GET", "/zelapp/v1", "/lenstables/file/a.tab"));
    for (const char* path : {"/device/info", "/device/status", "/setups/list", "/file"})
        EXPECT_FALSE(OriginGuard::changes("GET", "/zelapp/v1", path)) << path;
    for (const char* script : {"/api/v1/all.cgi", "/api/v1/update.cgi", "/api/v1/log.cgi", "/api/v1/screen.cgi"})
        EXPECT_FALSE(OriginGuard::changes("GET", script, "")) << script;
}

}  // namespace
