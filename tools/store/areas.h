#pragma once
// The store tool's side of the shared-memory areas: making them (as the
// device's other processes do), attaching to them and finding variables.
#include "apps/common/introspection/introspection.h"

#include <string>

namespace store {
// Creates or resets every area: the right length, the size word set, the
// payload zeroed. The objects stay in the system after the tool exits.
void makeAreas();
// Unlinks every area; returns the number that existed.
unsigned int removeAreas();
// Opens and maps every area through the catalogue's area objects.
void attachAreas();

struct Place {
    unsigned int mem;
    unsigned int var;
};
// A variable by "Name" (first in catalogue order) or "Area.Name"; throws when unknown.
Place findVariable(std::string const& name);
}  // namespace store
