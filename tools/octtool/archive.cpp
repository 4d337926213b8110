// octtool archive create|list|extract: pack archive files, through codec 4's
// plugin table as any host of the runtime calls it.
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "file_io.h"
#include "pack/archive_table.h"
#include "pack/registry.h"
#include "platform/fail_reason.h"
#include "platform/files.h"
#include "progress.h"
#include "reason.h"
#include "runtime/file_replace.h"

namespace oct::tool {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kName = "archive";
constexpr std::int32_t kDefaultLevel = 6;  // the compression interface's default

std::string inQuotes(std::string_view s) { return "'" + std::string(s) + "'"; }

// An archive object of the packer's table with codec 4's plugin, released
// (and its archive closed) when it goes out of scope.
class ArchiveHandle {
public:
    ArchiveHandle() {
        const PackCodec* codec = pakFindCodec(kPakCodecLz);
        object_ = codec ? static_cast<ArchiveObject*>(objNewObject(pakArchiveTable(), AnyId)) : nullptr;
        if (object_) object_->plugin = codec->plugin;
    }
    ~ArchiveHandle() { close(); }
    ArchiveHandle(const ArchiveHandle&) = delete;
    ArchiveHandle& operator=(const ArchiveHandle&) = delete;

    bool create(const std::u16string& name, std::int32_t level) {
        return object_ && plugin().createArchive(object_, name.c_str(), 0, level);
    }
    bool open(const std::u16string& name) { return object_ && plugin().openArchive(object_, name.c_str()); }
    void close() {
        if (object_) pakFreeArchive(reinterpret_cast<std::int64_t>(object_));
        object_ = nullptr;
    }
    [[nodiscard]] const PackPlugin& plugin() const { return *object_->plugin; }
    [[nodiscard]] PackArchive* archive() const { return object_->archive; }

private:
    ArchiveObject* object_ = nullptr;
};

// One entry of a listing.
struct Listed {
    std::int64_t unpacked, stored;
    std::u16string name;
};

std::vector<Listed> listAll(ArchiveHandle& a) {
    std::vector<Listed> out;
    const PackPlugin& p = a.plugin();
    if (!p.listEntries(a.archive())) return out;
    while (p.nextEntry(a.archive())) {
        const char16_t* name = p.entryName(a.archive(), 0);
        out.push_back({p.entrySize(a.archive(), 0), p.entrySize(a.archive(), 1), name ? name : u""});
    }
    return out;
}

// ---------------------------------------------------------------------------
// create
// ---------------------------------------------------------------------------

struct Item {
    std::string_view name;  // as stored
    std::string_view path;
};

// NAME=PATH, or PATH stored under its file name.
Item parseItem(std::string_view arg, std::string& nameStore) {
    const std::size_t eq = arg.find('=');
    if (eq != std::string_view::npos && eq > 0) return {arg.substr(0, eq), arg.substr(eq + 1)};
    nameStore = toolUtf8(toolPath(arg).filename().u16string());
    return {nameStore, arg};
}

int runCreate(CommandArgs args, ToolContext& context) {
    std::int32_t level = kDefaultLevel;
    std::vector<std::string_view> rest;
    if (const int misuse = toolTakeLevel(args, kName, context, level, rest)) return misuse;
    if (rest.size() < 2) return toolFail(context, kName, "expected create OUT.pak ITEM... (see octtool help archive)", kExitUsage);
    const std::string_view out = rest[0];
    if (out == kStandardStream) return toolFail(context, kName, "an archive cannot go to standard output", kExitUsage);

    std::vector<std::string> names(rest.size());
    std::vector<Item> items;
    std::int64_t total = 0;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        const Item item = parseItem(rest[i], names[i]);
        std::error_code ec;
        if (item.path.empty() || !fs::is_regular_file(toolPath(item.path), ec))
            return toolFail(context, kName, "cannot read " + inQuotes(item.path) + ": no such file");
        if (item.name.empty()) return toolFail(context, kName, "an entry needs a name: " + inQuotes(rest[i]), kExitUsage);
        total += static_cast<std::int64_t>(fs::file_size(toolPath(item.path), ec));
        items.push_back(item);
    }

    // The archive is written beside OUT and moved over it once complete, so a
    // failure leaves an existing OUT as it was.
    const std::u16string target = toolName(out);
    // Declared before the archive, so that its file is closed before the
    // temporary file goes, on every way out (memory running out included).
    struct Discard {
        std::u16string name;
        bool done = false;
        ~Discard() {
            if (!done) plat::fileDelete(name.c_str());
        }
    } temp{filTempName(target.c_str())};
    ArchiveHandle archive;
    // The reasons below are this command's: the system's words for a full
    // disk or a refused file where it gave them.
    plat::failBegin();
    if (!archive.create(temp.name, level)) return toolFail(context, kName, toolCannotWrite(out, ""));
    std::optional<ProgressBar> bar;
    if (context.errIsTerminal && total >= context.progressThreshold) bar.emplace(context.err, total);
    std::int64_t done = 0;
    std::string failure;
    for (const Item& item : items) {
        if (!archive.plugin().addFile(archive.archive(), toolName(item.path).c_str(), toolName(item.name).c_str())) {
            const std::string reason = toolReason();
            failure = "cannot add " + inQuotes(item.path) + " as " + inQuotes(item.name) +
                      (reason.empty() ? " (unreadable, a name over 32,767 bytes, or the disk is full)" : ": " + reason);
            break;
        }
        std::error_code ec;
        done += static_cast<std::int64_t>(fs::file_size(toolPath(item.path), ec));
        if (bar) bar->advance(done);
    }
    bar.reset();
    archive.close();
    if (failure.empty() && plat::fileReplace(temp.name.c_str(), target.c_str())) {
        temp.done = true;
        return kExitOk;
    }
    if (failure.empty()) failure = toolCannotWrite(out, "(a read-only file or a folder there)");
    return toolFail(context, kName, failure);
}

// ---------------------------------------------------------------------------
// list
// ---------------------------------------------------------------------------

int runList(CommandArgs args, ToolContext& context) {
    if (args.size() != 1) return toolFail(context, kName, "expected list IN.pak (see octtool help archive)", kExitUsage);
    ArchiveHandle archive;
    if (!archive.open(toolName(args[0])))
        return toolFail(context, kName, "cannot open " + inQuotes(args[0]) + " as an archive");
    std::int64_t index = 0;
    for (const Listed& e : listAll(archive))
        context.out << index++ << '\t' << e.unpacked << '\t' << e.stored << '\t'
                    << (e.stored == e.unpacked ? "stored" : "packed") << '\t' << toolUtf8(e.name) << '\n';
    context.out.flush();
    return kExitOk;
}

// ---------------------------------------------------------------------------
// extract
// ---------------------------------------------------------------------------

// Where an entry goes below `dir`, or nothing for a name that would leave
// it: empty, absolute (a leading slash or backslash, or a drive), with a ".."
// part, or with a colon (a drive or a Windows stream), the same on every
// platform. Both slashes separate folders.
std::optional<fs::path> placeBelow(const fs::path& dir, const std::u16string& name) {
    if (name.empty() || name[0] == u'/' || name[0] == u'\\' || name.find(u':') != std::u16string::npos)
        return std::nullopt;
    fs::path out = dir;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of(u"/\\", start);
        if (end == std::u16string::npos) end = name.size();
        const std::u16string part = name.substr(start, end - start);
        if (part == u"..") return std::nullopt;
        if (!part.empty() && part != u".") out /= part;
        start = end + 1;
    }
    if (out == dir) return std::nullopt;
    return out;
}

int runExtract(CommandArgs args, ToolContext& context) {
    std::string_view in;
    std::string_view dirArg = ".";
    std::vector<std::string_view> wanted;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-C") {
            if (i + 1 == args.size()) return toolFail(context, kName, "-C needs a folder", kExitUsage);
            dirArg = args[++i];
        } else if (in.empty()) {
            in = args[i];
        } else {
            wanted.push_back(args[i]);
        }
    }
    if (in.empty()) return toolFail(context, kName, "expected extract IN.pak [-C DIR] [NAME...]", kExitUsage);

    ArchiveHandle archive;
    if (!archive.open(toolName(in))) return toolFail(context, kName, "cannot open " + inQuotes(in) + " as an archive");
    const std::vector<Listed> entries = listAll(archive);
    const fs::path dir = toolPath(dirArg);

    // What to extract: every entry, or the first of each name asked for.
    std::vector<std::size_t> chosen;
    if (wanted.empty()) {
        for (std::size_t i = 0; i < entries.size(); ++i) chosen.push_back(i);
    } else {
        for (std::string_view w : wanted) {
            const std::u16string name = toolName(w);
            std::size_t i = 0;
            while (i < entries.size() && entries[i].name != name) ++i;
            if (i == entries.size()) return toolFail(context, kName, "no entry named " + inQuotes(w) + " in " + inQuotes(in));
            chosen.push_back(i);
        }
    }
    std::int64_t total = 0;
    for (std::size_t i : chosen) total += entries[i].unpacked;
    std::optional<ProgressBar> bar;
    if (context.errIsTerminal && total >= context.progressThreshold) bar.emplace(context.err, total);

    int code = kExitOk;
    std::int64_t done = 0;
    const PackPlugin& p = archive.plugin();
    for (std::size_t i : chosen) {
        const Listed& e = entries[i];
        const std::string shown = inQuotes(toolUtf8(e.name));
        const auto target = placeBelow(dir, e.name);
        if (!target) {
            if (bar) bar.reset();
            code = toolFail(context, kName, "refusing " + shown + ": the name would leave the target folder");
            continue;
        }
        std::error_code ec;
        fs::create_directories(target->parent_path(), ec);
        // Step the listing onto entry i, so that duplicates of a name each
        // extract their own data when all are extracted.
        p.listEntries(archive.archive());
        for (std::size_t k = 0; k <= i; ++k) p.nextEntry(archive.archive());
        if (p.extractFile(archive.archive(), target->u16string().c_str(), nullptr) != e.unpacked) {
            if (bar) bar.reset();
            code = toolFail(context, kName, "cannot extract " + shown + " (a damaged entry, or the target cannot be written)");
            continue;
        }
        done += e.unpacked;
        if (bar) bar->advance(done);
    }
    return code;
}

int runArchive(CommandArgs args, ToolContext& context) {
    if (args.empty()) return toolFail(context, kName, "expected create, list or extract (see octtool help archive)", kExitUsage);
    const CommandArgs rest = args.subspan(1);
    if (args[0] == "create") return runCreate(rest, context);
    if (args[0] == "list") return runList(rest, context);
    if (args[0] == "extract") return runExtract(rest, context);
    return toolFail(context, kName, "unknown subcommand " + inQuotes(args[0]) + " (create, list or extract)", kExitUsage);
}

}  // namespace

const Command kArchiveCommand{
    .name = kName,
    .summary = "create, list and extract pack archives",
    .usage = "usage: octtool archive create [--level N] OUT.pak ITEM...\n"
             "       octtool archive list IN.pak\n"
             "       octtool archive extract IN.pak [-C DIR] [NAME...]\n"
             "\n"
             "create  writes a new archive OUT.pak holding each ITEM: PATH is stored under its\n"
             "        file name, NAME=PATH under NAME. An entry is kept packed only when that\n"
             "        is shorter than its data. N is the compression level, 0 to 9 (default 6).\n"
             "        An existing OUT.pak is replaced only once the new archive is complete.\n"
             "list    prints one line per entry, tab-separated: index (from 0), unpacked\n"
             "        size, stored size, 'packed' or 'stored', and the name.\n"
             "extract writes every entry, or the first entry of each NAME, below DIR\n"
             "        (default: the current folder), creating folders for names with slashes.\n"
             "        Names that would leave DIR (absolute, with a '..' part, or with a colon)\n"
             "        are refused. An existing file is replaced only by a complete entry.\n"
             "\n"
             "On a terminal, a progress bar is shown for 64 MiB or more of data.\n",
    .run = runArchive,
};

}  // namespace oct::tool
