// The multipart/form-data reader of the update upload, fed the body in
// pieces. Any body under any content type is read without harm, and what it
// yields does not depend on where the pieces end; a well-formed form, whose
// parts hold any bytes, yields exactly its text fields and its file part
// byte for byte.
#include "apps/web/service/formdata.h"
#include "fuzz/support/target.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

using Fields = FormReader::Fields;
const std::string FILE_PLACE = "<file>";

struct Result : FilePartSink {
    std::string open() override { return FILE_PLACE; }
    void write(std::string_view bytes) override { file.append(bytes); }

    Fields fields;
    std::string file;
};

Result read(const std::string& delimiter, std::string_view body, FuzzedDataProvider* chunking) {
    Result result;
    FormReader reader(delimiter, result);
    while (!body.empty()) {
        size_t piece = chunking ? chunking->ConsumeIntegralInRange<size_t>(1, 80) : body.size();
        reader.feed(body.substr(0, piece));
        body.remove_prefix(std::min(piece, body.size()));
    }
    result.fields = reader.fields();
    return result;
}

// The body read whole, and again in pieces of random sizes, must agree.
Result readBothWays(const std::string& delimiter, const std::string& body, FuzzedDataProvider& data) {
    Result whole = read(delimiter, body, nullptr);
    Result pieces = read(delimiter, body, &data);
    FUZZ_EXPECT(pieces.fields == whole.fields, "the fields depend on where the pieces end");
    FUZZ_EXPECT(pieces.file == whole.file, "the file depends on where the pieces end");
    return whole;
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
// delimiter: a line starting with "-" gets another first byte. Partial
// delimiters stay, to be told apart from the real one.
std::string content(FuzzedDataProvider& data, const std::string& boundary) {
    std::string bytes = data.ConsumeRandomLengthString(300);
    if (data.ConsumeBool()) bytes += "\r\n+-" + boundary.substr(0, data.ConsumeIntegralInRange<size_t>(0, boundary.size()));
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
        std::string bytes = content(data, boundary);
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
        if (isFile) body += "; filename=\"" + token(data, 20) + "\"\r\nContent-Type: application/octet-stream";
        body += "\r\n\r\n" + bytes + "\r\n";
        expected[name] = isFile ? FILE_PLACE : bytes;
        if (isFile) file = bytes;
        fileSent = fileSent || isFile;
    }
    body += "--" + boundary + "--\r\n";
    std::string type = data.ConsumeBool() ? "multipart/form-data; boundary=" + boundary
                                          : "multipart/form-data; boundary=\"" + boundary + "\"; charset=utf-8";
    std::optional<std::string> delimiter = FormReader::delimiter(type);
    FUZZ_EXPECT(delimiter.has_value(), "a well-formed form was refused");
    Result result = readBothWays(*delimiter, body, data);
    FUZZ_EXPECT(result.fields == expected, "the fields differ from the form's");
    FUZZ_EXPECT(result.file == file, "the file part was not kept byte for byte");
}

void anyBody(FuzzedDataProvider& data) {
    static const char* const TYPES[] = {"multipart/form-data; boundary=b", "multipart/form-data; boundary=",
                                        "multipart/form-data", "text/plain", "", "multipart/form-data;;boundary==;"};
    std::string type = data.ConsumeBool() ? data.PickValueInArray(TYPES) : data.ConsumeRandomLengthString(100);
    std::string body = data.ConsumeRandomLengthString(4000);
    if (std::optional<std::string> delimiter = FormReader::delimiter(type)) readBothWays(*delimiter, body, data);
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
