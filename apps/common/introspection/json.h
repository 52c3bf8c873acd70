#pragma once
// Forgiving one-level reader for set.cgi bodies: splits an object or array into
// key/value texts, keeping nested values as raw text for a further parse.
#include <string>
#include <utility>
#include <vector>

class Json {
public:
    struct ObjectValue {
        std::string value;
        bool isObject = false;
    };
    enum State : int { Begin = 0, KeyBegin, Key, Colon, ValueBegin, Value, Next, Done, Fail };

    Json();
    bool parse(const std::string& text);
    template <int N>
    State nextChar(char c);
    static bool isWhitespace(char c);
    static bool isString(char c);
    static char isObjectStart(char c);

    std::vector<std::pair<std::string, ObjectValue>> entries;

private:
    State handle(State current, char c);

    std::string key;
    char keyQuote;
    std::string value;
    bool valueIsObject;
    char valueOpen;
    char valueClose;
    int depth;
    char closeChar;
    bool isArray;

public:
    int errorPos;
    State state;
};
