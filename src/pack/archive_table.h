// The packer's archive objects: each holds the codec that opened or created
// an archive and that codec's record of it, in the archive object table.
#pragma once

#include <cstdint>

#include "runtime/object_table.h"

namespace oct {

// Module start: the archive object table (16 slots). Stop: closes every archive still open.
void pakStartArchives();
void pakStopArchives();

// The archive object table, for the operations that open or create archives.
ObjectTable* pakArchiveTable();

// Closes one archive through its codec and releases its object; AnyId closes
// every archive. The table's free callback.
void pakFreeArchive(std::int64_t id);

}  // namespace oct
