// The update upload's multipart reader: which content types it takes, which
// fields it keeps, the exact bytes of the file part, and that none of it
// depends on where the body's pieces end.
#include "apps/web/service/formdata.h"
#include "support/kmsg.h"

#include <gtest/gtest.h>

namespace {
constexpr const char* DELIMITER = "--abc";
constexpr const char* FILE_PLACE = "<file>";

using Fields = FormReader::Fields;

struct Form : FilePartSink {
    std::string open() override {
        ++opened;
        return FILE_PLACE;
    }
    void write(std::string_view bytes) override { file.append(bytes); }

    Fields fields;
    std::string file;
    int opened = 0;
    bool tooLarge = false;
};

// The body fed in pieces of `piece` bytes (0: whole).
Form parse(const std::string& body, size_t piece = 0) {
    Form form;
    FormReader reader(DELIMITER, form);
    if (piece == 0) piece = body.size();
    for (size_t at = 0; at < body.size(); at += piece) reader.feed(std::string_view(body).substr(at, piece));
    form.fields = reader.fields();
    form.tooLarge = reader.tooLarge();
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
}  // namespace

TEST(FormContentType, TakesOnlyMultipartWithANonEmptyBoundary) {
    EXPECT_EQ(FormReader::delimiter("multipart/form-data;boundary=abc"), "--abc");
    EXPECT_EQ(FormReader::delimiter("multipart/form-data; boundary=\"abc\"; charset=utf-8"), "--abc");

    struct Refused {
        const char* contentType;
        const char* message;
    };
    for (Refused refused : {Refused{"Multipart/Form-Data; boundary=abc", "No multipart/form-data"},
                            Refused{"application/json", "No multipart/form-data"},
                            Refused{"", "No multipart/form-data"},
                            Refused{"multipart/form-data", "No boundary"},
                            Refused{"multipart/form-data; boundary=", "No boundary"},
                            Refused{"multipart/form-data; boundary=\"\"", "No boundary"}}) {
        kmsg::Cursor log;
        EXPECT_EQ(FormReader::delimiter(refused.contentType), std::nullopt) << refused.contentType;
        EXPECT_EQ(log.count(refused.message), 1u) << refused.contentType;
    }
}

TEST(FormHeaderLine, SplitsAttributesKeepingTheFirstOfEachKey) {
    Fields attributes;
    FormReader::splitHeaderLine(attributes, "multipart/form-data; boundary=XyZ");
    EXPECT_EQ(attributes, (Fields{{"multipart/form-data", ""}, {"boundary", "XyZ"}}));

    attributes.clear();
    FormReader::splitHeaderLine(attributes, "Content-Disposition: form-data; name=\"deviceid");
    FormReader::splitHeaderLine(attributes, "name=other; filename = \"a b.swu\" ;");
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
    EXPECT_TRUE(parse("just text\r\n").fields.empty());
}

TEST(FormFile, WritesThePartsBytesExactly) {
    // The CR LF before the delimiter is dropped, every other one kept.
    Form form = parse(part("deviceid", "B1-1234") + filePart("x\r\ny") + CLOSING);
    EXPECT_EQ(form.file, "x\r\ny");
    EXPECT_EQ(form.fields, (Fields{{"deviceid", "B1-1234"}, {"file", FILE_PLACE}}));
    // Bare LF line ends stay, the one before the delimiter too.
    EXPECT_EQ(parse("--abc\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nx\ny\n--abc--\r\n").file, "x\ny\n");
    // An empty file part gives an empty file; two file parts follow each other
    // in the one sink.
    Form empty = parse(filePart("") + CLOSING);
    EXPECT_EQ(empty.file, "");
    EXPECT_EQ(empty.opened, 1);
    Form two = parse(filePart("one") + filePart("two") + CLOSING);
    EXPECT_EQ(two.file, "onetwo");
    EXPECT_EQ(two.opened, 1);
}

// Every byte value, CRs and LFs in every combination, and lines that start
// like the delimiter but are none: the same result wherever the pieces end,
// a delimiter cut at any of its bytes included.
TEST(FormFile, ReadsTheSameWhereverThePiecesEnd) {
    std::string binary;
    for (int value = 0; value < 256; ++value) binary += static_cast<char>(value);
    binary += "\r\r\n\r\n\rend\r\n--ab\r\n-abc\r\n--ab\n--abX\r\n\n--a";
    const std::string body = "pre\r\n--ab\r\n" + part("deviceid", "B1-1234\r\n--abd") + filePart(binary) +
                             part("note", "--") + CLOSING;
    const Form whole = parse(body);
    EXPECT_EQ(whole.file, binary);
    EXPECT_EQ(whole.fields, (Fields{{"deviceid", "B1-1234\r\n--abd"}, {"file", FILE_PLACE}, {"note", "--"}}));
    for (size_t piece : {1, 2, 3, 5, 7, 64}) {
        Form split = parse(body, piece);
        EXPECT_EQ(split.file, whole.file) << "pieces of " << piece;
        EXPECT_EQ(split.fields, whole.fields) << "pieces of " << piece;
    }
    for (size_t at = 1; at < body.size(); ++at) {
        Form form;
        FormReader reader(DELIMITER, form);
        reader.feed(std::string_view(body).substr(0, at));
        reader.feed(std::string_view(body).substr(at));
        ASSERT_EQ(form.file, whole.file) << "cut at " << at;
        ASSERT_EQ(reader.fields(), whole.fields) << "cut at " << at;
    }
}

TEST(FormFile, StoresNoFieldOfAPartCutShort) {
    // Cut off mid-part: the part is no field (so the upload is refused).
    Form cut = parse(part("deviceid", "B1-1234") + "--abc\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n"
                                                   "first\r\nsecond half");
    EXPECT_EQ(cut.fields, (Fields{{"deviceid", "B1-1234"}}));
    // Cut off inside the headers: no file is opened.
    Form headers = parse(part("deviceid", "B1-1234") + "--abc\r\nContent-Disposition: form-data; name=\"file\"\r\n");
    EXPECT_EQ(headers.fields, (Fields{{"deviceid", "B1-1234"}}));
    EXPECT_EQ(headers.opened, 0);
}

TEST(FormFile, StopsAtAHeaderBlockOrTextFieldThatNeverEnds) {
    kmsg::Cursor log;
    std::string endless = "--abc\r\n";
    for (int line = 0; line < 5000; ++line) endless += "X-Header-" + std::to_string(line) + ": value\r\n";
    Form form = parse(part("deviceid", "B1-1234") + endless + "\r\nlost\r\n" + part("later", "lost") + CLOSING, 4096);
    EXPECT_EQ(form.fields, (Fields{{"deviceid", "B1-1234"}}));
    EXPECT_EQ(log.count("Part headers longer than"), 1u);

    // A text part is no place for a file: it is not collected without end.
    Form text = parse(part("deviceid", "B1-1234") + part("firmware", std::string(1 << 20, 'x')) + filePart("x") + CLOSING,
                      65536);
    EXPECT_EQ(text.fields, (Fields{{"deviceid", "B1-1234"}}));
    EXPECT_EQ(text.opened, 0);
    EXPECT_TRUE(text.tooLarge);
    EXPECT_EQ(log.count("Form field longer than"), 1u);

    // Sixteen named parts besides the file, and no more.
    std::string fields;
    for (int index = 0; index < 16; ++index) fields += part("f" + std::to_string(index), "v");
    EXPECT_FALSE(parse(fields + filePart("x") + CLOSING).tooLarge);
    Form many = parse(fields + part("one-more", "v") + filePart("x") + CLOSING);
    EXPECT_TRUE(many.tooLarge);
    EXPECT_EQ(many.opened, 0);
}
