#pragma once
// A plausible state of a running device, written into freshly made areas so
// that the service, the demo and the tests have something to show.
namespace store {
void fillDefaults();
}
