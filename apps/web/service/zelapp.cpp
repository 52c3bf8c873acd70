#include "apps/web/service/zelapp.h"

#include "apps/common/constants/constants.h"
#include "apps/common/introspection/jsontext.h"
#include "apps/common/log/log.h"
#include "apps/libs/lhwinfo/hwinfo.h"
#include "apps/web/service/appvariables.h"
#include "apps/web/service/loggable.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>
#include <sys/statvfs.h>

namespace {
// Progress of a multi-part accessory update in percent of the whole. The
// three values come from shared memory that any process writes, so the sum is
// formed in 64 bits, where neither it nor a division by -1 can overflow.
long long accessoryProgress(int32_t progress, int32_t index, int32_t count) {
    if (count == 0) return 0;
    return (static_cast<long long>(progress) + 100LL * index) / count;
}

uint32_t diskFigure(unsigned long long blocks, unsigned long blockSize) {
    return static_cast<uint32_t>(blocks * blockSize);
}
}  // namespace

void writeResult(std::ostream& out, const std::string& text) {
    out << "{" << "\"result\": \"" << jsontext::backslashEscaped(text) << "\" }";
}

ZelApp::ZelApp() : hostUpdate(HOST_UPDATE_MARK) {
    std::string board;
    // Without the hardware info the service still serves everything else;
    // the identity then stays empty, as for an unreadable field.
    try {
        HwInfo info;
        info.initialize();
        info.read(Constants::HWINFO_SERIAL, serial);
        info.read(Constants::HWINFO_BOARD, board);
    } catch (const std::exception& error) {
        LOG(Error, "Hardware info not available: %s", error.what());
    }
    deviceId = board + "-" + serial;
}

void ZelApp::handleRequest(Request* request, const std::function<void()>& route) {
    if (request == nullptr) return;
    std::string path = loggable(request->params["PATH_INFO"]);
    std::string method = loggable(request->params["REQUEST_METHOD"]);
    LOG(LogMost, "ZelApp: %s %s", method.c_str(), path.c_str());
    // Every route answers its own failures; this is the last guard, so that
    // nothing a client sends can end the service or leave its request open.
    try {
        if (route)
            route();
        else
            writeResult(request->output(), "Unknown request");
    } catch (const std::exception& error) {
        LOG(Error, "ZelApp: %s %s failed: %s", method.c_str(), path.c_str(), error.what());
        writeResult(request->output(), "Request failed");
    }
    request->end();
}

void ZelApp::deviceInfo(Request* request) {
    const gen::MemPersistentLayout& product = gen::memPersistent();
    struct statvfs disk;
    uint32_t total = 0, available = 0;
    if (statvfs("/", &disk) == 0) {
        total = diskFigure(disk.f_blocks, disk.f_bsize);
        available = diskFigure(disk.f_bavail, disk.f_bsize);
    }
    std::ostream& out = request->output();
    out << "{\r\n"
        << "  \"_id\": \"" << jsontext::backslashEscaped(deviceId) << "\",\r\n"
        << "  \"name\": \"" << jsontext::backslashEscaped(boundedText(product.ProductName, sizeof product.ProductName)) << "\",\r\n"
        << "  \"serialnumber\": \"" << jsontext::backslashEscaped(serial) << "\",\r\n"
        << "  \"firmwareversion\": \"" << jsontext::backslashEscaped(boundedText(product.ProductVersion, sizeof product.ProductVersion))
        << "\",\r\n"
        << "  \"space_total\": " << total << ",\r\n"
        << "  \"space_available\": " << available << ",\r\n"
        << "  \"devices\": [\r\n";
    bool first = true;
    for (const gen::TlxDevice& device : gen::memExternalDevices().TlxDeviceList) {
        if (!device.TlxDeviceConnected) continue;
        std::string name = jsontext::backslashEscaped(boundedText(device.TlxDeviceName, sizeof device.TlxDeviceName));
        int32_t number = device.TlxSerNumber;
        if (!first) out << ", \r\n";
        first = false;
        out << "    {\r\n"
            << "      \"_id\": \"" << name << "-" << number << "\",\r\n"
            << "      \"name\": \"" << name << "\",\r\n"
            << "      \"serialnumber\": \"" << number << "\",\r\n"
            << "      \"firmwareversion\": \""
            << jsontext::backslashEscaped(boundedText(device.TlxMainSwVersion, sizeof device.TlxMainSwVersion)) << "\"\r\n"
            << "    }";
    }
    out << "\r\n  ]\r\n"
        << "}\r\n";
}

void ZelApp::updateStatus(Request* request) {
    const AppVariables& variables = appVariables();
    int32_t state;
    long long progress = accessoryProgress(variables.tlxUpdateProgress.as<int32_t>(),
                                           variables.tlxUpdateIndex.as<int32_t>(),
                                           variables.tlxUpdateCount.as<int32_t>());
    // Polling the status is how the app starts an update the device has
    // found valid. Without the broker the start cannot be announced: the
    // flag stays set (as any written value does) and the app is told.
    try {
        if (hostUpdate.isSet()) {
            state = variables.hostUpdateFileState.as<int32_t>();
            progress = 0;
            if (state == stateValue(gen::UpdateState::FileValid)) {
                storeIfChanged(variables.hostUpdateStart, true);
                state = stateValue(gen::UpdateState::Rebooting);
            }
        } else {
            state = variables.tlxUpdateState.as<int32_t>();
            if (state == stateValue(gen::UpdateState::FileValid)) storeIfChanged(variables.tlxUpdateStart, true);
        }
    } catch (const std::runtime_error&) {
        writeResult(request->output(), "Could not start the update");
        return;
    }
    const char* name = updateStateName(state);
    LOG(LogLight, "Update Status: %s, %lld%%", name, progress);
    request->output() << "{" << "\"status\": \"" << name << "\", \"progress\": " << progress << " }";
}
