#pragma once
// The multipart/form-data reader of the update upload, fed the body in pieces
// as they arrive: text parts become form fields, the content of the part
// named "file" goes to a sink as it is read. A piece may end anywhere, inside
// a delimiter included; the result does not depend on where.
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Where the content of the part named "file" goes.
class FilePartSink {
public:
    // At the first part named "file": returns the form field's value, the
    // place the content goes.
    virtual std::string open() = 0;
    virtual void write(std::string_view bytes) = 0;

protected:
    ~FilePartSink() = default;
};

class FormReader {
public:
    using Fields = std::map<std::string, std::string>;

    // "--" and the boundary of a multipart/form-data content type; none
    // (with the reason logged) for any other content type.
    static std::optional<std::string> delimiter(const std::string& contentType);
    // Adds the attributes of a header line (or a content type) to `attributes`;
    // the first of a name is kept.
    static void splitHeaderLine(Fields& attributes, std::string_view line);

    FormReader(std::string delimiter, FilePartSink& file);
    void feed(std::string_view bytes);
    // A part's field is stored when the next delimiter line starts.
    const Fields& fields() const { return formFields; }
    // Whether reading stopped at a form with too many or too long fields.
    bool tooLarge() const { return overLimit; }

private:
    enum class Mode { Content, Headers, DelimiterLine, Stopped };

    std::string_view step(std::string_view bytes);
    std::string_view matchDelimiter(std::string_view bytes);
    std::string_view content(std::string_view bytes);
    std::string_view headers(std::string_view bytes);
    std::string_view delimiterLine(std::string_view bytes);
    void startPart();
    void headerLine();
    void emit(std::string_view bytes);
    void stopOverLimit();

    const std::string delimiterText;
    FilePartSink& file;
    Fields formFields;
    Fields attributes;
    std::string value;
    std::string line;  // the header line read so far
    Mode mode = Mode::Content;
    // At the start of a line, where a delimiter may begin; `matched` of its
    // bytes have been seen and held back.
    bool lineStart = true;
    size_t matched = 0;
    // A content line's CR LF, or a CR that ended a piece, not yet written:
    // the CR LF before a delimiter belongs to the delimiter.
    bool crLfHeld = false;
    bool crHeld = false;
    std::optional<std::string> filePlace;  // once the sink is open
    bool writingToFile = false;
    bool collecting = false;
    size_t headerBytes = 0;
    size_t fieldCount = 0;
    bool overLimit = false;
};
