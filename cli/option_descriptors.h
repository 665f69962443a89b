// Open and save options as the scripting descriptor an action plays: the
// keys and values options::openEntries and saveEntries give, exactly those
// the module writes back for the same options. In the CLI's library so that
// tests and benchmarks play options the way the CLI does.
#pragma once

#include "host/descriptor.h"
#include "options/open_options.h"
#include "options/save_options.h"

namespace nebulite::cli {

host::Descriptor openDescriptor(const options::OpenOptions& options);
host::Descriptor saveDescriptor(const options::SaveOptions& options);

}  // namespace nebulite::cli
