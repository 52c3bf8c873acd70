#pragma once
// The companion app's REST interface under /zelapp/v1: device information,
// firmware-update upload and status, and the files of the three data folders
// (lens tables, focus rings, setups). Every request it is given it ends itself.
#include "apps/web/service/hostupdatemark.h"
#include "apps/web/service/request.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>

class ZelApp {
public:
    ZelApp();

    // Runs one of the app's routes (none: an unknown path) and ends the request.
    void handleRequest(Request* request, const std::function<void()>& route);
    void deviceInfo(Request* request);
    void updateStatus(Request* request);
    void listOperation(Request* request, const char* folder);
    void update(Request* request);
    void fileOperation(Request* request, const char* folder, const std::string& name);

    // Uploads are written to disk as their bodies arrive.
    static std::unique_ptr<BodyConsumer> updateBody(Request& request);
    static std::unique_ptr<BodyConsumer> fileBody(const char* folder, const std::string& name);

    // An upload's file is written under this name and six unique characters,
    // so that uploads at the same time never share a file.
    static constexpr const char* UPLOAD_FILE = "/update/file-from-app.";
    static constexpr const char* POST_DATA_COPY = "/tmp/post-data";
    static constexpr const char* HOST_UPDATE_MARK = "/update/.host-update";

    std::string deviceId;
    std::string serial;
    HostUpdateMark hostUpdate;

private:
    void announceHostUpdate();
    void announceAccessoryUpdate(const std::string& name, int serialNumber);
};

// The app's one-line result object: {"result": "text" }.
void writeResult(std::ostream& out, const std::string& text);
