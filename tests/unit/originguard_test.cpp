// The cross-site and rebinding guard's decisions from parameters alone:
// how Host and Origin texts compare, which routes count as changing, and
// which names the device answers to.
#include "apps/web/service/originguard.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {
using Verdict = OriginGuard::Verdict;
using Params = std::map<std::string, std::string>;

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

class OriginGuardTest : public testing::Test {
protected:
    void SetUp() override {
        char name[HOST_NAME_MAX + 1] = {};
        gethostname(name, sizeof name - 1);
        deviceName = name;
        std::ofstream(allowedFile) << "# names of the set\n  Camera-Cart.example.  \n\n";
    }
    void TearDown() override { std::remove(allowedFile.c_str()); }

    Verdict judge(Params params) const { return OriginGuard(allowedFile).judge(params); }

    std::string deviceName;
    std::string allowedFile = testing::TempDir() + "allowed-hosts";
};

TEST_F(OriginGuardTest, ServesOnlyTheDevicesNamesAndAddresses) {
    for (const std::string& host : {std::string("LOCALHOST.:8080"), deviceName, deviceName + ".local.",
                                    std::string("camera-cart.EXAMPLE"), std::string("10.1.2.3:99"),
                                    std::string("[::1]"), std::string("")})
        EXPECT_EQ(judge({{"SCRIPT_NAME", "/api/v1/all.cgi"}, {"HTTP_HOST", host}}), Verdict::Pass) << host;
    EXPECT_EQ(judge({{"SCRIPT_NAME", "/api/v1/all.cgi"}}), Verdict::Pass);
    for (const std::string& host : {std::string("evil.example"), deviceName + ".evil.example",
                                    std::string("localhost.localdomain"), std::string("bad host")})
        EXPECT_EQ(judge({{"SCRIPT_NAME", "/api/v1/log.cgi"}, {"HTTP_HOST", host}}), Verdict::ForeignHost) << host;
    EXPECT_EQ(OriginGuard("/nonexistent/allowed").judge({{"HTTP_HOST", "camera-cart.example"}}),
              Verdict::ForeignHost);
}

TEST_F(OriginGuardTest, RefusesForeignOriginsOnlyForChanges) {
    Params write = {{"SCRIPT_NAME", "/api/v1/set.cgi"}, {"REQUEST_METHOD", "POST"}, {"HTTP_HOST", "10.0.0.5"}};
    EXPECT_EQ(judge(write), Verdict::Pass);
    for (const char* same : {"http://10.0.0.5", "http://10.0.0.5:80"}) {
        write["HTTP_ORIGIN"] = same;
        EXPECT_EQ(judge(write), Verdict::Pass) << same;
    }
    for (const char* foreign : {"http://evil.example", "null", "", "http://10.0.0.5:8080", "https://10.0.0.5:80"}) {
        write["HTTP_ORIGIN"] = foreign;
        EXPECT_EQ(judge(write), Verdict::CrossSite) << foreign;
    }
    Params read = {{"SCRIPT_NAME", "/api/v1/all.cgi"}, {"REQUEST_METHOD", "GET"}, {"HTTP_HOST", "10.0.0.5"},
                   {"HTTP_ORIGIN", "null"}};
    EXPECT_EQ(judge(read), Verdict::Pass);
    // An origin cannot be compared with a Host that is not there.
    EXPECT_EQ(judge({{"SCRIPT_NAME", "/api/v1/set.cgi"}, {"HTTP_ORIGIN", "http://10.0.0.5"}}), Verdict::CrossSite);
}

}  // namespace
