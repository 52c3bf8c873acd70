#pragma once
// The description texts of the catalogue's variables, as all.cgi, update.cgi
// and the change log show them.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct VariableInfo;

// The description of one value read from address (a list of structures:
// element index of the list there); a failure gives "ERROR": "<text>".
std::string describeValue(unsigned int mem, unsigned int var, char* address, int index);

// Each variable's description kept with the bytes it was rendered from, and
// rendered again only where the bytes in the area now differ (a list of
// structures element by element). Freshness comes from comparing bytes, never
// from events: other processes write the areas without posting one. A text
// depends on its bytes, the catalogue and the escape pattern, which is set at
// start-up, before the first text.
class ValueTexts {
public:
    // The variable's description as its area holds it now; valid until the
    // next call.
    std::string_view text(unsigned int mem, unsigned int var);

private:
    struct Kept {
        std::string bytes;  // a copy of the value the text was rendered from
        std::string text;
        std::vector<std::size_t> elementEnds;  // a list: where each element's text ends
        bool valid = false;
    };
    // Lists of structures are described element by element, in an array.
    struct Shape {
        bool list;
        int elements;
        std::size_t elementSize;
        std::size_t size() const { return elementSize * static_cast<std::size_t>(list ? elements : 1); }
    };
    static Shape shapeOf(unsigned int mem, unsigned int var);
    Kept& kept(unsigned int mem, unsigned int var);
    // Renders from a copy of the bytes, so the text matches the copy kept even
    // when another process writes meanwhile; elements whose bytes equal the
    // kept ones keep their text.
    void render(Kept& entry, unsigned int mem, unsigned int var, char* copy, Shape const& shape);

    std::vector<std::vector<Kept>> areas;
};
