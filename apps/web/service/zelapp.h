#pragma once
// The companion app's REST interface under /zelapp/v1: device information,
// firmware-update upload and status, and the files of the three data folders
// (lens tables, focus rings, setups). Every request it is given it ends itself.
#include "apps/web/service/request.h"

#include <map>
#include <ostream>
#include <string>

class ZelApp {
public:
    ZelApp();

    void handleRequest(Request* request);
    void deviceInfo(Request* request);
    void updateStatus(Request* request);
    void listOperation(Request* request, const char* folder);
    void update(Request* request);
    void fileOperation(Request* request, const char* folder, const std::string& name);

    // Multipart form parsing; static, as it needs nothing of the device.
    static bool parseFormData(Request* request, std::map<std::string, std::string>& formFields, const char* filePath);
    static void splitHeaderLine(std::map<std::string, std::string>& attributes, const std::string& line);

    static constexpr const char* UPLOAD_FILE = "/update/file-from-app";
    static constexpr const char* POST_DATA_COPY = "/tmp/post-data";

    std::string deviceId;
    std::string serial;
    bool hostUpdate;

private:
    void route(Request* request, const std::string& path);
    void announceHostUpdate();
    void announceAccessoryUpdate(const std::string& name, int serialNumber);
};

// The app's one-line result object: {"result": "text" }.
void writeResult(std::ostream& out, const std::string& text);
