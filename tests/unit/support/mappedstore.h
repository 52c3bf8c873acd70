#pragma once
// Every area of the variable store created and mapped for one test, with the
// payload pointers set as start-up sets them; all removed again at its end.
#include "apps/common/sharedmemory/sharedmemory.h"
#include "gen/code/introspection_gen.h"

class MappedStore {
public:
    MappedStore() {
        for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
            gen::gAreas[mem].create();
            *gen::AREA_POINTERS[mem] = gen::gAreas[mem].address();
        }
    }
    ~MappedStore() {
        for (unsigned int mem = 0; mem < gen::AREA_COUNT; ++mem) {
            gen::gAreas[mem].close();
            *gen::AREA_POINTERS[mem] = nullptr;
        }
    }
    MappedStore(const MappedStore&) = delete;
    MappedStore& operator=(const MappedStore&) = delete;
};
