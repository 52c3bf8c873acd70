// The companion app's routes under /zelapp/v1 with any path, method and body:
// every request is answered, files change only inside the three data folders
// and the update files, nothing outside them is read back or removed, and
// every change to the store is announced.
#include "apps/common/constants/constants.h"
#include "fuzz/support/service.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string CANARY = "canary";

// Folders the routes may write to; everything else in the sandbox's private
// /var and /update must stay as the target left it.
bool writable(const fs::path& path) {
    const std::string text = path.string();
    for (const char* folder : {Constants::TAB_FOLDER, Constants::FOR_FOLDER, Constants::SETUPS_FOLDER})
        if (text.starts_with(fs::path(std::string(Constants::LOCAL_FOLDER) + folder).lexically_normal().string()))
            return true;
    return text.starts_with("/update/");
}

void plantCanaries() {
    for (const char* folder : {"/var", "/var/KPT", "/update"}) {
        fs::create_directories(folder);
        std::ofstream(std::string(folder) + "/" + CANARY) << CANARY;
    }
}

// Files an earlier input stored would make the next one's answers depend on it.
void removeStoredFiles() {
    for (const char* folder : {Constants::TAB_FOLDER, Constants::FOR_FOLDER, Constants::SETUPS_FOLDER}) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(std::string(Constants::LOCAL_FOLDER) + folder, ignored))
            if (entry.path().filename() != CANARY) fs::remove_all(entry.path(), ignored);
    }
}

void expectFilesystemKept() {
    for (const char* root : {"/var", "/update"})
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file() || entry.path().filename() == CANARY) continue;
            FUZZ_EXPECT(writable(entry.path()), "a file appeared outside the app's folders");
        }
    for (const char* folder : {"/var", "/update"}) {
        std::ifstream canary(std::string(folder) + "/" + CANARY);
        std::string text;
        canary >> text;
        FUZZ_EXPECT(text == CANARY, "a file outside the app's folders was changed or removed");
    }
}

// Paths from the routes' own vocabulary, with hostile names and separators.
std::string path(FuzzedDataProvider& data) {
    static const char* const PREFIXES[] = {"/device/info", "/device/update", "/device/status", "/device/statusX",
                                           "/lenstables/list", "/focusrings/file", "/setups/file", "/lenstables/file",
                                           "/device", "", "/setups"};
    static const char* const NAMES[] = {"/a.tab", "/..", "/.", "/../canary", "/../../var/canary", "//x", "/",
                                        "/a/b", "/canary", "/.incoming-XXXXXX", "/%2e%2e"};
    if (data.ConsumeProbability<float>() < 0.2f) return data.ConsumeRandomLengthString(60);
    std::string text = data.PickValueInArray(PREFIXES);
    if (data.ConsumeBool()) text += data.ConsumeBool() ? data.PickValueInArray(NAMES) : "/" + data.ConsumeRandomLengthString(20);
    return text;
}

std::string uploadBody(FuzzedDataProvider& data) {
    static const char* const IDS[] = {"B1-1234", "Lens-7", "X-", "-5", "A-99999999999", "nodash", "B1-1234-1"};
    std::string id = data.ConsumeBool() ? data.PickValueInArray(IDS) : data.ConsumeRandomLengthString(20);
    return "--b\r\nContent-Disposition: form-data; name=\"deviceid\"\r\n\r\n" + id +
           "\r\n--b\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n" + data.ConsumeRandomLengthString(40) +
           "\r\n--b--\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static fuzzsupport::Service service;
    static const bool planted = (plantCanaries(), true);
    (void)planted;
    service.resetStore();
    removeStoredFiles();

    FuzzedDataProvider data(bytes, size);
    static const char* const METHODS[] = {"GET", "PUT", "DELETE", "POST", ""};
    std::map<std::string, std::string> params{{"SCRIPT_NAME", "/zelapp/v1"},
                                              {"REQUEST_METHOD", data.PickValueInArray(METHODS)},
                                              {"PATH_INFO", path(data)}};
    if (data.ConsumeBool()) params["CONTENT_TYPE"] = "multipart/form-data; boundary=b";
    std::string body = data.ConsumeBool() ? uploadBody(data) : data.ConsumeRemainingBytesAsString();

    service.serve(params, body);
    expectFilesystemKept();
    service.expectChangesAnnounced();
    return 0;
}
