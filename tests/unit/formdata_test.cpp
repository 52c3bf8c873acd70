// The update upload's multipart reader: which content types it takes, which
// fields it keeps, and the exact bytes of the file part on disk.
#include "apps/web/service/zelapp.h"
#include "support/kmsg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {
constexpr const char* FILE_PATH = "/update/form-file";
constexpr const char* CONTENT_TYPE = "multipart/form-data; boundary=abc";
constexpr const char* NO_FILE = "<no file>";

struct Form {
    bool accepted;
    std::map<std::string, std::string> fields;
    std::string file;
};

std::string fileContent(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return NO_FILE;
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

Form parse(const std::string& body, const char* contentType = CONTENT_TYPE) {
    Request request(nullptr, -1, 0);
    if (contentType != nullptr) request.params["CONTENT_TYPE"] = contentType;
    request.postData = body;
    unlink(FILE_PATH);
    Form form;
    form.accepted = ZelApp::parseFormData(&request, form.fields, FILE_PATH);
    form.file = fileContent(FILE_PATH);
    return form;
}

std::string part(const std::string& name, const std::string& content) {
    return "--abc\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + content + "\r\n";
}

std::string filePart(const std::string& content) {
    return "--abc\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a b.swu\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           content + "\r\n";
}

const std::string CLOSING = "--abc--\r\n";

using Fields = std::map<std::string, std::string>;
}  // namespace

TEST(FormContentType, TakesOnlyMultipartWithANonEmptyBoundary) {
    const std::string body = part("deviceid", "B1-1234") + CLOSING;
    EXPECT_TRUE(parse(body, "multipart/form-data;boundary=abc").accepted);
    EXPECT_EQ(parse(body, "multipart/form-data; boundary=\"abc\"").fields, (Fields{{"deviceid", "B1-1234"}}));

    struct Refused {
        const char* contentType;
        const char* message;
    };
    for (Refused refused : {Refused{"Multipart/Form-Data; boundary=abc", "No multipart/form-data"},
                            Refused{"application/json", "No multipart/form-data"},
                            Refused{nullptr, "No multipart/form-data"},
                            Refused{"multipart/form-data", "No boundary"},
                            Refused{"multipart/form-data; boundary=", "No boundary"},
                            Refused{"multipart/form-data; boundary=\"\"", "No boundary"}}) {
        kmsg::Cursor log;
        Form form = parse(filePart("x") + CLOSING, refused.contentType);
        SCOPED_TRACE(refused.contentType ? refused.contentType : "(none)");
        EXPECT_FALSE(form.accepted);
        EXPECT_TRUE(form.fields.empty());
        EXPECT_EQ(form.file, NO_FILE);
        EXPECT_EQ(log.count(refused.message), 1u);
    }
}

TEST(FormHeaderLine, SplitsAttributesKeepingTheFirstOfEachKey) {
    Fields attributes;
    ZelApp::splitHeaderLine(attributes, "multipart/form-data; boundary=XyZ");
    EXPECT_EQ(attributes, (Fields{{"multipart/form-data", ""}, {"boundary", "XyZ"}}));

    attributes.clear();
    ZelApp::splitHeaderLine(attributes, "Content-Disposition: form-data; name=\"deviceid");
    ZelApp::splitHeaderLine(attributes, "name=other; filename = \"a b.swu\" ;");
    EXPECT_EQ(attributes, (Fields{{"Content-Disposition: form-data", ""},
                                  {"name", "deviceid"},
                                  {"filename", "a b.swu"},
                                  {"", ""}}));
}

TEST(FormFields, KeepsTextPartsAndDropsWhatBelongsToNoPart) {
    // One field, its value without the line end that belongs to the delimiter.
    EXPECT_EQ(parse(part("deviceid", "B1-1234") + CLOSING).fields, (Fields{{"deviceid", "B1-1234"}}));
    // A later part of the same name wins; line ends inside a value stay.
    EXPECT_EQ(parse(part("note", "first") + part("note", "a\r\nb\nc") + CLOSING).fields,
              (Fields{{"note", "a\r\nb\nc"}}));
    // Preamble, a part without a name, blank lines before the headers and
    // the epilogue are stored nowhere.
    std::string body = "preamble\r\n" + part("deviceid", "LENS-77") +
                       "--abc\r\nContent-Type: text/plain\r\n\r\nnameless\r\n"
                       "--abc\r\n\r\n\r\nContent-Disposition: form-data; name=\"empty\"\r\n\r\n\r\n" +
                       CLOSING + "epilogue\r\n";
    EXPECT_EQ(parse(body).fields, (Fields{{"deviceid", "LENS-77"}, {"empty", ""}}));
    // Without a delimiter nothing is a part.
    Form none = parse("just text\r\n");
    EXPECT_TRUE(none.accepted);
    EXPECT_TRUE(none.fields.empty());
}

TEST(FormFile, WritesThePartsBytesExactly) {
    // The CR LF before the delimiter is dropped, every other one kept.
    Form form = parse(part("deviceid", "B1-1234") + filePart("x\r\ny") + CLOSING);
    EXPECT_EQ(form.file, "x\r\ny");
    EXPECT_EQ(form.fields, (Fields{{"deviceid", "B1-1234"}, {"file", FILE_PATH}}));
    // Bare LF line ends stay, the one before the delimiter too.
    EXPECT_EQ(parse("--abc\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nx\ny\n--abc--\r\n").file, "x\ny\n");
    // Every byte value, a lone CR and an empty line survive.
    std::string binary;
    for (int value = 0; value < 256; ++value) binary += static_cast<char>(value);
    binary += "\r\r\n\r\n\rend";
    EXPECT_EQ(parse(filePart(binary) + CLOSING).file, binary);
    // An empty file part gives an empty file; two file parts follow each other.
    EXPECT_EQ(parse(filePart("") + CLOSING).file, "");
    EXPECT_EQ(parse(filePart("one") + filePart("two") + CLOSING).file, "onetwo");
}

TEST(FormFile, KeepsWhatArrivedOfABodyCutShort) {
    // Cut off mid-part: the content so far is on disk, the part is no field.
    Form cut = parse(part("deviceid", "B1-1234") + "--abc\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n"
                                                   "first\r\nsecond half");
    EXPECT_TRUE(cut.accepted);
    EXPECT_EQ(cut.fields, (Fields{{"deviceid", "B1-1234"}}));
    EXPECT_EQ(cut.file, "first\r\nsecond half\n");
    // Cut off inside the headers: no file is opened.
    Form headers = parse(part("deviceid", "B1-1234") + "--abc\r\nContent-Disposition: form-data; name=\"file\"\r\n");
    EXPECT_EQ(headers.fields, (Fields{{"deviceid", "B1-1234"}}));
    EXPECT_EQ(headers.file, NO_FILE);
}

TEST(FormFile, StopsAtAHeaderBlockThatNeverEnds) {
    kmsg::Cursor log;
    std::string endless = "--abc\r\n";
    for (int line = 0; line < 5000; ++line) endless += "X-Header-" + std::to_string(line) + ": value\r\n";
    Form form = parse(part("deviceid", "B1-1234") + endless + "\r\nlost\r\n" + part("later", "lost") + CLOSING);
    EXPECT_TRUE(form.accepted);
    EXPECT_EQ(form.fields, (Fields{{"deviceid", "B1-1234"}}));
    EXPECT_EQ(log.count("Part headers longer than"), 1u);
}
