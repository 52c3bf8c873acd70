// The app routes against a real store and broker: bounded texts of the device
// description, the status progress and its start hand-over, the serial of an
// accessory upload, and names that must not reach outside the folders.
#include "apps/common/constants/constants.h"
#include "apps/web/service/appvariables.h"
#include "apps/web/service/zelapp.h"
#include "broker_harness.h"
#include "hwstandins.h"
#include "values_support.h"
#include "apps/common/sharedmemory/sharedmemory.h"

#include <climits>
#include <optional>

namespace {
using brokertest::BrokerProcess;
using brokertest::Collector;

class AppTest : public HardwareStandIns {
protected:
    void SetUp() override {
        HardwareStandIns::SetUp();
        ASSERT_EQ(system("BUILD_DIR=" BINARY_DIR " " SOURCE_DIR "/scripts/hw-standins serial=1234 board=B1"), 0);
        broker.emplace();
        createAreas();
        poster.emplace(poll);
        gServerConnection = &*poster;
        watcher.emplace(poll);
        watcher->handler = &collector;
        const AppVariables& variables = appVariables();
        for (const SharedVariable* watched :
             {&variables.hostUpdateStart, &variables.tlxUpdateStart, &variables.tlxUpdateState,
              &variables.tlxUpdateProgress, &variables.tlxUpdateFileName, &variables.tlxUpdateDeviceSerial,
              &variables.tlxUpdateDeviceName, &variables.hostUpdateFileName})
            watcher->subscribe(watched->event());
        // The broker may take the poster before the watcher: a probe that
        // comes through shows the watcher's subscriptions are in place.
        probe = SharedVariable("MemPersistent", "ProductName").event();
        watcher->subscribe(probe);
        ASSERT_TRUE(pumpUntil(poll, [&] {
            postEvent(probe);
            poll.wait(20, true);
            return collector.has(probe);
        }));
        app.emplace();
    }

    void TearDown() override { gServerConnection = nullptr; }

    // What a route wrote after the default header.
    std::string answer(void (ZelApp::*route)(Request*)) {
        Request request(nullptr, -1, 0);
        (*app.*route)(&request);
        return written(request);
    }

    static std::string written(const Request& request) {
        return request.out.str().substr(std::char_traits<char>::length(Request::DEFAULT_HEADER));
    }

    // Names of the watched events `action` posted: the broker relays in
    // order, so they have all come once a probe posted after them has.
    template <class Action>
    std::vector<std::string> eventsOf(Action action) {
        collector.received.clear();
        action();
        postEvent(probe);
        EXPECT_TRUE(pumpUntil(poll, [&] { return collector.has(probe); }));
        std::vector<std::string> names;
        for (const Notify& event : collector.received)
            if (!(event == probe)) names.push_back(eventName(event));
        return names;
    }

    std::string status() { return answer(&ZelApp::updateStatus); }

    // The answer to an upload whose file holds "image".
    std::string upload(const std::string& deviceId) {
        Request request(nullptr, -1, 0);
        request.params["CONTENT_TYPE"] = "multipart/form-data; boundary=b";
        request.consumer = ZelApp::updateBody(request);
        request.consumer->take("--b\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\n" + deviceId +
                               "\r\n--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nimage\r\n--b--\r\n");
        app->update(&request);
        return written(request);
    }

    EventPoll poll;
    std::optional<BrokerProcess> broker;
    std::optional<ServerConnection> poster;
    std::optional<ServerConnection> watcher;
    Collector collector;
    Notify probe{};
    std::optional<ZelApp> app;
};

std::string statusText(const char* state, long long progress) {
    return std::string("{\"status\": \"") + state + "\", \"progress\": " + std::to_string(progress) + " }";
}
}  // namespace

TEST_F(AppTest, DeviceInfoReadsTextsOnlyUpToTheirFields) {
    auto& devices = gen::memExternalDevices().TlxDeviceList;
    for (auto& device : devices) device.TlxDeviceConnected = false;
    EXPECT_NE(answer(&ZelApp::deviceInfo).find("  \"devices\": [\r\n\r\n  ]\r\n}\r\n"), std::string::npos);
    // Fields another process left without a terminator end where the field ends.
    devices[3] = {true, 1, 7, "", "", "", ""};
    memset(devices[3].TlxDeviceName, 'n', sizeof devices[3].TlxDeviceName + sizeof devices[3].TlxBootSwBootVersion);
    memset(devices[3].TlxMainSwVersion, 'v', sizeof devices[3].TlxMainSwVersion + sizeof devices[3].TlxAppSwVersion);
    std::string name(50, 'n');
    EXPECT_NE(answer(&ZelApp::deviceInfo).find("      \"_id\": \"" + name + "-7\",\r\n      \"name\": \"" + name +
                                               "\",\r\n      \"serialnumber\": \"7\",\r\n      \"firmwareversion\": \"" +
                                               std::string(50, 'v') + "\"\r\n    }\r\n  ]"),
              std::string::npos);
}

TEST_F(AppTest, StatusProgressNeverOverflowsOrTraps) {
    auto& external = gen::memExternalDevices();
    external.TlxUpdateState = gen::UpdateState::InProgress;
    struct Case {
        int32_t progress, index, count;
        long long expected;
    };
    for (Case c : {Case{50, 1, 2, 75}, Case{45, 0, 1, 45}, Case{70, 3, 0, 0}, Case{-50, 0, 3, -16},
                   Case{5, 0, -1, -5}, Case{INT_MIN, 0, -1, 2147483648LL},
                   Case{INT_MAX, INT_MAX, 1, 2147483647LL * 101}, Case{INT_MIN, INT_MIN, -1, 2147483648LL * 101},
                   Case{INT_MAX, INT_MAX, INT_MIN, -100}}) {
        external.TlxUpdateProgress = c.progress;
        external.TlxUpdateIndex = c.index;
        external.TlxUpdateCount = c.count;
        EXPECT_EQ(status(), statusText("InProgress", c.expected)) << c.progress << " " << c.index << " " << c.count;
    }
}

TEST_F(AppTest, StatusNamesOnlyStatesOfTheEnumeration) {
    auto& external = gen::memExternalDevices();
    external.TlxUpdateCount = 0;
    for (auto [value, name] : {std::pair{0, "NoFileSelected"}, std::pair{13, "InProgress"}, std::pair{14, "Unknown"},
                               std::pair{-1, "Unknown"}, std::pair{INT_MIN, "Unknown"}}) {
        memcpy(&external.TlxUpdateState, &value, sizeof value);  // any number another process may store
        EXPECT_EQ(status(), statusText(name, 0));
    }
}

TEST_F(AppTest, PollingAValidFileStartsItsUpdateOnce) {
    auto& external = gen::memExternalDevices();
    external.TlxUpdateState = gen::UpdateState::FileValid;
    external.TlxUpdateStart = false;
    external.TlxUpdateCount = 1;
    external.TlxUpdateIndex = 0;
    external.TlxUpdateProgress = 0;
    EXPECT_EQ(eventsOf([&] { EXPECT_EQ(status(), statusText("FileValid", 0)); }),
              std::vector<std::string>{"VarTlxUpdateStartChanged"});
    EXPECT_TRUE(external.TlxUpdateStart);
    EXPECT_TRUE(eventsOf([&] { status(); }).empty());

    // After a host upload the host's state counts; valid means it reboots.
    auto& media = gen::memMedia();
    media.HostUpdateFileState = gen::UpdateState::FileValid;
    media.HostUpdateStart = false;
    eventsOf([&] { EXPECT_EQ(upload("B1-1234"), "{\"taskid\": \"B1-1234\" }"); });
    app.emplace();  // a restart in the middle of the host's update still reports it
    EXPECT_EQ(eventsOf([&] { EXPECT_EQ(status(), statusText("Rebooting", 0)); }),
              std::vector<std::string>{"VarHostUpdateStartChanged"});
    EXPECT_TRUE(eventsOf([&] { EXPECT_EQ(status(), statusText("Rebooting", 0)); }).empty());

    // An accessory upload makes the accessory's state count again.
    eventsOf([&] { EXPECT_EQ(upload("LENS-77"), "{\"taskid\": \"LENS-77\" }"); });
    app.emplace();
    EXPECT_EQ(status(), statusText("NoFileSelected", 0));
}

TEST_F(AppTest, AccessoryUploadReadsTheSerialLikeStoiAndRefusesWhatIsNoInt) {
    auto& external = gen::memExternalDevices();
    for (auto [deviceId, name, serial] :
         {std::tuple{"A-B-5", "A-B", 5}, std::tuple{"LENS-12abc", "LENS", 12}, std::tuple{"LENS- +7", "LENS", 7},
          std::tuple{"LENS--3", "LENS-", 3}, std::tuple{"X-2147483647", "X", 2147483647},
          std::tuple{"B1-9999", "B1", 9999}}) {  // the host's board with another serial
        eventsOf([&] { EXPECT_EQ(upload(deviceId), std::string("{\"taskid\": \"") + deviceId + "\" }"); });
        EXPECT_EQ(boundedText(external.TlxUpdateDeviceName, sizeof external.TlxUpdateDeviceName), name);
        EXPECT_EQ(external.TlxUpdateDeviceSerial, serial);
    }
    // A name longer than the field is cut to 49 characters.
    eventsOf([&] { upload(std::string(80, 'N') + "-1"); });
    EXPECT_EQ(boundedText(external.TlxUpdateDeviceName, sizeof external.TlxUpdateDeviceName), std::string(49, 'N'));

    for (const char* deviceId : {"LENS-abc", "LENS-", "LENS-2147483648", "LENS--"}) {
        unlink(Constants::CMF_FILE);
        EXPECT_TRUE(eventsOf([&] {
                        EXPECT_EQ(upload(deviceId), "{\"result\": \"'deviceid' has to be in the form DEVICE-SERIAL.\" }");
                    }).empty());
        EXPECT_NE(access(Constants::CMF_FILE, F_OK), 0) << deviceId;
    }
}

TEST_F(AppTest, FileNamesThatAreNotOnePlainComponentTouchNothing) {
    const std::string folder = "/var//KPT/";
    // Names with "/", "." or ".." come through the service in e2e/app_files.sh.
    for (std::string name : {std::string("/x\0y", 4), std::string("/\0", 2), std::string("x")}) {
        Request put(nullptr, -1, 0);
        put.params["REQUEST_METHOD"] = "PUT";
        put.consumer = ZelApp::fileBody(folder.c_str(), name);
        put.consumer->take("data");
        app->fileOperation(&put, folder.c_str(), name);
        EXPECT_EQ(put.out.str(), std::string(Request::DEFAULT_HEADER) + "{\"result\": \"Open error\" }\r\n");
    }
    EXPECT_EQ(access("/var/KPT/x", F_OK), -1);
}
