#include "apps/web/service/formdata.h"

#include "apps/common/log/log.h"
#include "apps/web/service/loggable.h"

namespace {
// White space of the C locale and the double quote, which wraps values.
constexpr std::string_view TRIMMED = " \t\n\v\f\r\"";
// A part's header block is a few short lines; one that runs on longer is
// not a header block, and keeping its lines would cost memory without end.
constexpr size_t MAX_HEADER_BYTES = 16 * 1024;
// The text fields of the form are short; a longer text part is no field of
// this form, and collecting it would hold the body in memory after all.
constexpr size_t MAX_FIELD_BYTES = 64 * 1024;
// Besides its file, the form has a few named parts; many more would be held
// in memory for nothing.
constexpr size_t MAX_FIELDS = 16;

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

}  // namespace

void FormReader::splitHeaderLine(Fields& attributes, std::string_view line) {
    LOG(DebugAll, "Splitting line: \"%s\"", loggable(line).c_str());
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

std::optional<std::string> FormReader::delimiter(const std::string& contentType) {
    Fields attributes;
    splitHeaderLine(attributes, contentType);
    if (attributes.find("multipart/form-data") == attributes.end()) {
        LOG(Warn, "No multipart/form-data");
        return std::nullopt;
    }
    auto boundary = attributes.find("boundary");
    if (boundary == attributes.end() || boundary->second.empty()) {
        LOG(Warn, "No boundary");
        return std::nullopt;
    }
    return "--" + boundary->second;
}

FormReader::FormReader(std::string delimiter, FilePartSink& file) : delimiterText(std::move(delimiter)), file(file) {}

void FormReader::feed(std::string_view bytes) {
    while (!bytes.empty()) bytes = step(bytes);
}

// Each step takes what it can of the front of the bytes and returns the rest.
std::string_view FormReader::step(std::string_view bytes) {
    if (mode == Mode::Stopped) return {};
    if (lineStart) return matchDelimiter(bytes);
    switch (mode) {
    case Mode::Content:
        return content(bytes);
    case Mode::Headers:
        return headers(bytes);
    default:
        return delimiterLine(bytes);
    }
}

// A line that starts with the delimiter starts a part (the closing delimiter
// too); the delimiter's bytes are held back until it is known whether the
// line does. A line never holds an LF, so matching stops at one.
std::string_view FormReader::matchDelimiter(std::string_view bytes) {
    size_t taken = 0;
    while (taken < bytes.size() && matched < delimiterText.size() && bytes[taken] == delimiterText[matched] &&
           bytes[taken] != '\n') {
        ++taken;
        ++matched;
    }
    if (matched == delimiterText.size()) {
        matched = 0;
        lineStart = false;
        startPart();
        mode = Mode::DelimiterLine;
        return bytes.substr(taken);
    }
    if (taken == bytes.size()) return {};
    lineStart = false;
    if (crLfHeld) emit("\r\n");
    crLfHeld = false;
    std::string held = delimiterText.substr(0, matched);
    matched = 0;
    feed(held);  // ordinary bytes of the line after all, without an LF
    return bytes.substr(taken);
}

std::string_view FormReader::content(std::string_view bytes) {
    if (crHeld) {
        crHeld = false;
        if (bytes.front() == '\n') {
            crLfHeld = true;
            lineStart = true;
            return bytes.substr(1);
        }
        emit("\r");
    }
    size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos) {
        crHeld = bytes.back() == '\r';
        emit(bytes.substr(0, bytes.size() - crHeld));
        return {};
    }
    crLfHeld = lf > 0 && bytes[lf - 1] == '\r';
    emit(bytes.substr(0, crLfHeld ? lf - 1 : lf + 1));
    lineStart = true;
    return bytes.substr(lf + 1);
}

std::string_view FormReader::headers(std::string_view bytes) {
    size_t lf = bytes.find('\n');
    std::string_view piece = bytes.substr(0, lf);
    headerBytes += piece.size() + (lf != std::string_view::npos);
    if (headerBytes > MAX_HEADER_BYTES) {
        LOG(Warn, "Part headers longer than %zu bytes", MAX_HEADER_BYTES);
        mode = Mode::Stopped;
        return {};
    }
    line.append(piece);
    if (lf == std::string_view::npos) return {};
    headerLine();
    line.clear();
    lineStart = true;
    return bytes.substr(lf + 1);
}

std::string_view FormReader::delimiterLine(std::string_view bytes) {
    size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos) return {};
    mode = Mode::Headers;
    lineStart = true;
    return bytes.substr(lf + 1);
}

void FormReader::startPart() {
    auto name = attributes.find("name");
    if (name != attributes.end()) formFields[name->second] = value;
    LOG(DebugMost, "Start of new block");
    attributes.clear();
    value.clear();
    line.clear();
    writingToFile = false;
    collecting = false;
    crLfHeld = false;
    crHeld = false;
    headerBytes = 0;
}

void FormReader::headerLine() {
    std::string_view text = trim(line);
    if (!text.empty()) {
        splitHeaderLine(attributes, text);
        return;
    }
    if (attributes.empty()) return;  // blank lines before the first header
    LOG(DebugMost, "Block data for fields:");
    for (const auto& [key, attribute] : attributes)
        LOG(DebugAll, "  %s: %s", loggable(key).c_str(), loggable(attribute).c_str());
    auto name = attributes.find("name");
    if (name != attributes.end() && name->second == "file") {
        if (!filePlace) filePlace = file.open();
        value = *filePlace;
        writingToFile = true;
    }
    // Content of a part without a name is stored nowhere, so not kept either.
    collecting = !writingToFile && name != attributes.end();
    mode = Mode::Content;
    if (collecting && ++fieldCount > MAX_FIELDS) {
        LOG(Warn, "Form with more than %zu fields", MAX_FIELDS);
        stopOverLimit();
    }
}

void FormReader::emit(std::string_view bytes) {
    if (writingToFile) {
        file.write(bytes);
    } else if (collecting) {
        if (value.size() + bytes.size() > MAX_FIELD_BYTES) {
            LOG(Warn, "Form field longer than %zu bytes", MAX_FIELD_BYTES);
            stopOverLimit();
            return;
        }
        value.append(bytes);
    }
}

void FormReader::stopOverLimit() {
    mode = Mode::Stopped;
    overLimit = true;
}
