#pragma once
// The companion app's REST interface under /zelapp/v1: device information,
// firmware-update upload and status, and the files of the three data folders
// (lens tables, focus rings, setups). Every request it is given it ends itself.
#include "apps/web/service/request.h"

#include <map>
#include <memory>
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

    // Uploads are written to disk as their bodies arrive; other bodies are collected.
    std::unique_ptr<BodyConsumer> bodyConsumer(Request& request);
    static std::unique_ptr<BodyConsumer> updateBody(Request& request);
    static std::unique_ptr<BodyConsumer> fileBody(const char* folder, const std::string& name);

    // An upload's file gets a name starting so (in /update, and in the data
    // folders) only when it is complete or where the file system cannot make
    // unnamed files; such names are never listed and are removed at start-up.
    static constexpr const char* UPLOAD_FILE = "/update/file-from-app.";
    static constexpr const char* FILE_UPLOAD_NAME = ".incoming-";
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
