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
    if (!gArchives) return;
    if (id == AnyId) {
        objFreeAll(gArchives);
        return;
    }
    auto* object = static_cast<ArchiveObject*>(objGetObject(gArchives, id));
    if (!object) return;
    if (object->archive && object->plugin && object->plugin->closeArchive) object->plugin->closeArchive(object->archive);
    objReleaseObject(gArchives, id);
}

}  // namespace oct
