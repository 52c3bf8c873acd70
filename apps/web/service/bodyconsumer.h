#pragma once
// Takes a request's body record by record as it arrives, so that a route
// whose bodies can be large (a firmware image) never holds one in memory.
// A route that gets one reads what it made once the body is complete; a
// request that ends before that destroys it, which undoes what it made.
#include <string_view>

class BodyConsumer {
public:
    virtual ~BodyConsumer() = default;
    // The content of the next standard-input record.
    virtual void take(std::string_view bytes) = 0;
};

// For a body the route will not use: nothing is kept, nothing is created.
class DiscardedBody final : public BodyConsumer {
public:
    void take(std::string_view) override {}
};
