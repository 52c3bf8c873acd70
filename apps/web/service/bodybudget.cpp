#include "apps/web/service/bodybudget.h"

#include <algorithm>

BodyBudget& BodyBudget::shared() {
    static BodyBudget budget;
    return budget;
}

bool BodyBudget::reserve(size_t bytes) {
    if (bytes > TOTAL - used) return false;
    used += bytes;
    return true;
}

// Grown as the text would grow itself, but by reserve(), so that the
// capacity counted is the capacity taken.
bool BodyBudget::Share::fit(std::string& body, size_t size) {
    if (wasRefused) return false;
    if (size <= body.capacity()) return true;
    size_t room = std::max(size, 2 * body.capacity());
    if (room > held && !budget.reserve(room - held)) {
        free(body);
        wasRefused = true;
        return false;
    }
    held = std::max(room, held);
    body.reserve(room);
    return true;
}

void BodyBudget::Share::free(std::string& body) {
    std::string().swap(body);
    budget.release(held);
    held = 0;
    wasRefused = false;
}
