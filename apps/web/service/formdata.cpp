// The multipart/form-data reader of the update upload: text parts become
// form fields, the part named "file" goes to disk as it is read.
#include "apps/common/log/log.h"
#include "apps/web/service/zelapp.h"

#include <fstream>
#include <string_view>

namespace {
// White space of the C locale and the double quote, which wraps values.
constexpr std::string_view TRIMMED = " \t\n\v\f\r\"";
// A part's header block is a few short lines; one that runs on longer is
// not a header block, and keeping its lines would cost memory without end.
constexpr size_t MAX_HEADER_BYTES = 16 * 1024;

std::string_view trimStart(std::string_view text) {
    size_t start = text.find_first_not_of(TRIMMED);
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

std::string_view trimEnd(std::string_view text) {
    size_t end = text.find_last_not_of(TRIMMED);
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string_view trim(std::string_view text) {
    return trimStart(trimEnd(text));
}

// Walks the body line by line. A part's content is reproduced byte for byte,
// except the CR LF before the next delimiter, which belongs to the delimiter:
// a content line's CR LF is therefore written only once another line follows.
class FormReader {
public:
    FormReader(std::map<std::string, std::string>& formFields, const char* filePath, std::string delimiter)
        : formFields(formFields), filePath(filePath), delimiter(std::move(delimiter)) {}

    // False once the body can no longer be a form.
    bool read(std::string_view line) {
        if (line.starts_with(delimiter)) {
            startPart();
        } else if (inHeaders) {
            headerBytes += line.size() + 1;
            if (headerBytes > MAX_HEADER_BYTES) {
                LOG(Warn, "Part headers longer than %zu bytes", MAX_HEADER_BYTES);
                return false;
            }
            headerLine(line);
        } else {
            contentLine(line);
        }
        return true;
    }

private:
    void startPart() {
        auto name = attributes.find("name");
        if (name != attributes.end()) formFields[name->second] = value;
        LOG(DebugMost, "Start of new block");
        attributes.clear();
        value.clear();
        writingToFile = false;
        collecting = false;
        crPending = false;
        inHeaders = true;
        headerBytes = 0;
    }

    void headerLine(std::string_view line) {
        std::string_view text = trim(line);
        if (!text.empty()) {
            ZelApp::splitHeaderLine(attributes, std::string(text));
            return;
        }
        if (attributes.empty()) return;  // blank lines before the first header
        LOG(DebugMost, "Block data for fields:");
        for (const auto& [key, attribute] : attributes) LOG(DebugAll, "  %s: %s", key.c_str(), attribute.c_str());
        auto name = attributes.find("name");
        if (name != attributes.end() && name->second == "file") {
            if (!file.is_open()) file.open(filePath, std::ios::binary | std::ios::trunc);
            value = filePath;
            writingToFile = true;
        }
        // Content of a part without a name is stored nowhere, so not kept either.
        collecting = !writingToFile && name != attributes.end();
        inHeaders = false;
    }

    void contentLine(std::string_view line) {
        if (crPending) emit("\r\n");
        crPending = line.ends_with('\r');
        if (crPending) {
            emit(line.substr(0, line.size() - 1));
        } else {
            emit(line);
            emit("\n");
        }
    }

    void emit(std::string_view bytes) {
        if (writingToFile)
            file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        else if (collecting)
            value.append(bytes);
    }

    std::map<std::string, std::string>& formFields;
    const char* filePath;
    const std::string delimiter;
    std::map<std::string, std::string> attributes;
    std::string value;
    std::ofstream file;
    bool inHeaders = false;
    bool writingToFile = false;
    bool collecting = false;
    bool crPending = false;
    size_t headerBytes = 0;
};
}  // namespace

void ZelApp::splitHeaderLine(std::map<std::string, std::string>& attributes, const std::string& line) {
    LOG(DebugAll, "Splitting line: \"%s\"", line.c_str());
    std::string_view rest = line;
    for (bool more = true; more;) {
        size_t semicolon = rest.find(';');
        more = semicolon != std::string_view::npos;
        std::string_view token = trim(rest.substr(0, semicolon));
        rest = more ? rest.substr(semicolon + 1) : std::string_view();
        size_t equals = token.find('=');
        if (equals == std::string_view::npos)
            attributes.emplace(token, "");
        else
            attributes.emplace(trimEnd(token.substr(0, equals)), trimStart(token.substr(equals + 1)));
    }
}

bool ZelApp::parseFormData(Request* request, std::map<std::string, std::string>& formFields, const char* filePath) {
    std::map<std::string, std::string> attributes;
    splitHeaderLine(attributes, request->params["CONTENT_TYPE"]);
    if (attributes.find("multipart/form-data") == attributes.end()) {
        LOG(Warn, "No multipart/form-data");
        return false;
    }
    auto boundary = attributes.find("boundary");
    if (boundary == attributes.end() || boundary->second.empty()) {
        LOG(Warn, "No boundary");
        return false;
    }
    FormReader reader(formFields, filePath, "--" + boundary->second);
    // The body is read in place: at the size of a firmware image a copy
    // would double the memory the upload takes.
    std::string_view body = request->postData;
    while (!body.empty()) {
        size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!reader.read(line)) break;
    }
    return true;
}
