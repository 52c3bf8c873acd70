#pragma once
// One memory budget for every request body collected in memory: each body
// alone is bounded, but many clients sending large bodies at once must not
// take the device's memory. A body that would pass the budget is refused and
// thrown away as it arrives.
#include <cstddef>
#include <string>

class BodyBudget {
public:
    static constexpr size_t TOTAL = 64u * 1024 * 1024;
    static constexpr const char* REFUSAL_STATUS = "503 Service Unavailable";
    static constexpr const char* REFUSAL_TEXT = "Too many request bodies at once";

    // The one budget of the service.
    static BodyBudget& shared();

    bool reserve(size_t bytes);
    void release(size_t bytes) { used -= bytes; }

    // One request's body and the part of the budget its memory takes,
    // counted at the capacity of the text that holds it.
    class Share {
    public:
        explicit Share(BodyBudget& budget = shared()) : budget(budget) {}
        ~Share() { budget.release(held); }
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;

        // Makes room in `body` for `size` bytes in all. False, the body
        // emptied and the share given back, when that would pass the budget;
        // the share then stays refused until free().
        bool fit(std::string& body, size_t size);
        // Empties the body, gives its memory and its share back.
        void free(std::string& body);
        bool refused() const { return wasRefused; }

    private:
        BodyBudget& budget;
        size_t held = 0;
        bool wasRefused = false;
    };

private:
    size_t used = 0;
};
