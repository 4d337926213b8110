#include "pack/archive_table.h"

#include "pack/registry.h"

namespace oct {
namespace {
ObjectTable* gArchives = nullptr;
}

void pakStartArchives() { gArchives = objCreateTable(sizeof(ArchiveObject), 16, pakFreeArchive); }

void pakStopArchives() {
    if (gArchives) objFreeAll(gArchives);
}

ObjectTable* pakArchiveTable() { return gArchives; }

void pakFreeArchive(std::int64_t id) {
    objFree(gArchives, id, [](void* record) {
        auto* object = static_cast<ArchiveObject*>(record);
        if (object->archive && object->plugin && object->plugin->closeArchive)
            object->plugin->closeArchive(object->archive);
    });
}

}  // namespace oct
