// Two documents in flight at once: two operations, each on its own Host
// (its own record, cell, document and resources, as the editor keeps each
// document's apart), each run on its own thread against the same loaded
// module. Either they take turns call by call in a given order, which
// makes every interleaving of two selector sequences reproducible, or they
// run freely at the same time.
#pragma once

#include <functional>
#include <string>

#include "host/host.h"

namespace nebulite::host {

// One operation on a host: a read, a save, an info...
using Job = std::function<Outcome(Host&)>;

struct Together {
    Outcome a;
    Outcome b;
};

// `order` says which host makes each of the first calls ('a' or 'b'); after
// it they take turns, and a host whose job has ended leaves the calls to the
// other. "" is strict alternation starting with a.
Together runInterleaved(Host& a, const Job& jobA, Host& b, const Job& jobB, const std::string& order = "");

// Both jobs at once, nothing between them: the module's own calls meet on
// two threads.
Together runConcurrently(Host& a, const Job& jobA, Host& b, const Job& jobB);

}  // namespace nebulite::host
