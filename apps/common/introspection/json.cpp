#include "apps/common/introspection/json.h"

Json::Json()
    : keyQuote(0),
      valueIsObject(false),
      valueOpen(0),
      valueClose(0),
      depth(0),
      closeChar(0),
      isArray(false),
      errorPos(-1),
      state(Begin) {}

bool Json::isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool Json::isString(char c) {
    return c == '"' || c == '\'';
}

char Json::isObjectStart(char c) {
    if (c == '[') return ']';
    if (c == '{') return '}';
    return 0;
}

template <>
Json::State Json::nextChar<Json::Begin>(char c) {
    if (c == '[') {
        closeChar = ']';
        isArray = true;
        return ValueBegin;
    }
    if (c == '{') {
        closeChar = '}';
        return isArray ? ValueBegin : KeyBegin;
    }
    return Fail;
}

template <>
Json::State Json::nextChar<Json::KeyBegin>(char c) {
    if (isString(c)) {
        keyQuote = c;
        return Key;
    }
    keyQuote = 0;
    key += c;
    return Key;
}

template <>
Json::State Json::nextChar<Json::Key>(char c) {
    if (keyQuote == 0) {
        if (c == ':') return ValueBegin;
        if (isWhitespace(c)) return Colon;
    } else if (c == keyQuote) {
        return Colon;
    }
    key += c;
    return Key;
}

template <>
Json::State Json::nextChar<Json::Colon>(char c) {
    return c == ':' ? ValueBegin : Fail;
}

template <>
Json::State Json::nextChar<Json::ValueBegin>(char c) {
    if (char close = isObjectStart(c)) {
        valueOpen = c;
        valueClose = close;
        depth = 1;
        valueIsObject = true;
        value += c;
        return Value;
    }
    if (isString(c)) {
        valueClose = c;
        valueOpen = 0;
        depth = 1;
        return Value;
    }
    valueOpen = valueClose = 0;
    value += c;
    return Value;
}

template <>
Json::State Json::nextChar<Json::Value>(char c) {
    if (c == valueOpen) ++depth;
    if (c == valueClose && --depth == 0) {
        if (valueIsObject) value += c;
        return Next;
    }
    if (valueClose == 0) {
        if (isWhitespace(c)) return Next;
        if (c == ',') return isArray ? ValueBegin : KeyBegin;
        if (c == closeChar) return Done;
    }
    value += c;
    return Value;
}

template <>
Json::State Json::nextChar<Json::Next>(char c) {
    if (c == ',') return isArray ? ValueBegin : KeyBegin;
    if (c == closeChar) return Done;
    return Fail;
}

template <>
Json::State Json::nextChar<Json::Done>(char) {
    return Fail;
}

Json::State Json::handle(State current, char c) {
    switch (current) {
    case Begin:
        return nextChar<Begin>(c);
    case KeyBegin:
        return nextChar<KeyBegin>(c);
    case Key:
        return nextChar<Key>(c);
    case Colon:
        return nextChar<Colon>(c);
    case ValueBegin:
        return nextChar<ValueBegin>(c);
    case Value:
        return nextChar<Value>(c);
    case Next:
        return nextChar<Next>(c);
    case Done:
        return nextChar<Done>(c);
    case Fail:
        break;
    }
    return Fail;
}

bool Json::parse(const std::string& body) {
    // Callers parse the text of one of our own entries again; appending would
    // move it, so read from a copy.
    std::string const text = body;
    errorPos = -1;
    State current = Begin;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        // Only keys and values may hold whitespace; everywhere else it separates.
        if (current != Key && current != Value && isWhitespace(c)) continue;
        state = current;
        current = handle(current, c);
        if (state == Value && current != Value) {
            entries.emplace_back(key, ObjectValue{value, valueIsObject});
            key.clear();
            value.clear();
            valueIsObject = false;
            valueClose = 0;
            keyQuote = 0;
        }
        if (current == Fail) {
            errorPos = static_cast<int>(i);
            return false;
        }
    }
    return true;
}
