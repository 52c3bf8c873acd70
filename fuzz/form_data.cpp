// The multipart/form-data reader of the update upload. Any body under any
// content type is read without harm and writes nothing but the upload file;
// a well-formed form, whose parts hold any bytes, yields exactly its text
// fields and its file part byte for byte.
#include "apps/web/service/zelapp.h"
#include "fuzz/support/target.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

using Fields = std::map<std::string, std::string>;


const std::string& uploadPath() {
    static const std::string path = std::string(getenv("SANDBOX_SCRATCH") ? getenv("SANDBOX_SCRATCH") : "/tmp") +
                                    "/form-data-fuzz-upload";
    return path;
}

std::string fileContents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool parse(const std::string& contentType, const std::string& body, Fields& fields) {
    Request request(nullptr, -1, 0);
    request.params["CONTENT_TYPE"] = contentType;
    request.postData = body;
    return ZelApp::parseFormData(&request, fields, uploadPath().c_str());
}

// A token of the characters boundaries and names are made of.
std::string token(FuzzedDataProvider& data, size_t most) {
    static const char CHARACTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789'()+_,-./:?";
    std::string text;
    for (size_t length = data.ConsumeIntegralInRange<size_t>(1, most); text.size() < length;)
        text += CHARACTERS[data.ConsumeIntegralInRange<size_t>(0, sizeof CHARACTERS - 2)];
    return text;
}

// Part content of any bytes, except that no line may start with the
// delimiter: a line starting with "-" gets another first byte.
std::string content(FuzzedDataProvider& data) {
    std::string bytes = data.ConsumeRandomLengthString(300);
    for (size_t at = 0; at < bytes.size(); ++at)
        if (bytes[at] == '-' && (at == 0 || bytes[at - 1] == '\n')) bytes[at] = '+';
    return bytes;
}

void wellFormed(FuzzedDataProvider& data) {
    std::string boundary = token(data, 70);
    std::string body = data.ConsumeBool() ? "preamble\r\n" : "";
    Fields expected;
    std::string file;
    bool fileSent = false;
    for (int parts = data.ConsumeIntegralInRange(0, 5); parts > 0; --parts) {
        bool isFile = !fileSent && data.ConsumeBool();
        std::string name = isFile ? "file" : token(data, 12);
        if (name == "file" && !isFile) name += "s";
        std::string bytes = content(data);
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
        if (isFile) body += "; filename=\"" + token(data, 20) + "\"\r\nContent-Type: application/octet-stream";
        body += "\r\n\r\n" + bytes + "\r\n";
        expected[name] = isFile ? uploadPath() : bytes;
        if (isFile) file = bytes;
        fileSent = fileSent || isFile;
    }
    body += "--" + boundary + "--\r\n";
    remove(uploadPath().c_str());
    Fields fields;
    std::string type = data.ConsumeBool() ? "multipart/form-data; boundary=" + boundary
                                          : "multipart/form-data; boundary=\"" + boundary + "\"; charset=utf-8";
    FUZZ_EXPECT(parse(type, body, fields), "a well-formed form was refused");
    FUZZ_EXPECT(fields == expected, "the fields differ from the form's");
    if (fileSent) FUZZ_EXPECT(fileContents(uploadPath()) == file, "the file part was not stored byte for byte");
}

void anyBody(FuzzedDataProvider& data) {
    static const char* const TYPES[] = {"multipart/form-data; boundary=b", "multipart/form-data; boundary=",
                                        "multipart/form-data", "text/plain", "", "multipart/form-data;;boundary==;"};
    std::string type = data.ConsumeBool() ? data.PickValueInArray(TYPES) : data.ConsumeRandomLengthString(100);
    Fields fields;
    bool accepted = parse(type, data.ConsumeRemainingBytesAsString(), fields);
    FUZZ_EXPECT(accepted || fields.empty(), "fields from a refused form");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    if (data.ConsumeBool())
        wellFormed(data);
    else
        anyBody(data);
    return 0;
}
