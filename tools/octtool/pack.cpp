// octtool pack [--level N] IN OUT: IN packed as a codec-4 container.
#include <string>
#include <vector>

#include "commands.h"
#include "file_io.h"
#include "pack/container.h"
#include "pack/registry.h"
#include "progress.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "pack";
constexpr std::int32_t kDefaultLevel = 6;

// Room for the largest container that `n` bytes can give at `level`: every
// block may grow to pakMaxPackedSize of its length, and the packer needs one
// byte more than it writes.
std::int64_t packCapacity(std::int64_t n, std::int32_t level) {
    const std::int64_t blocks = n / pakBlockSizeForLevel(level) + 1;
    return kPackHeaderSize + n + n / 8 + 64 * blocks + 1;
}

int runPack(CommandArgs args, ToolContext& context) {
    std::int32_t level = kDefaultLevel;
    std::vector<std::string_view> files;
    if (const int misuse = toolTakeLevel(args, kName, context, level, files)) return misuse;
    if (files.size() != 2) return toolFail(context, kName, "expected IN OUT (see octtool help pack)", kExitUsage);

    std::string error;
    const auto input = readInput(files[0], context, error);
    if (!input) return toolFail(context, kName, error);
    const auto n = static_cast<std::int64_t>(input->size());

    // Zero-filled, so the container's reserved header bytes are 0.
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(packCapacity(n, level)));
    const auto capacity = static_cast<std::int64_t>(packed.size());
    std::int64_t size;
    if (context.errIsTerminal && n >= context.progressThreshold) {
        // The same call that codec 4's compress entry makes, plus the progress
        // callback that the registry does not pass on.
        ProgressBar bar(context.err, n);
        size = pakPackMemory(input->data(), static_cast<std::int32_t>(n), packed.data(),
                             static_cast<std::int32_t>(std::min<std::int64_t>(capacity, INT32_MAX)), level,
                             ProgressBar::callback());
    } else {
        size = pakCompress(input->data(), n, packed.data(), capacity, kPakCodecLz, level);
    }
    if (size <= 0) return toolFail(context, kName, "the container would be 2 GiB or larger");
    if (!writeOutput(files[1], packed.data(), static_cast<std::size_t>(size), context, error))
        return toolFail(context, kName, error);
    return kExitOk;
}

}  // namespace

const Command kPackCommand{
    .name = kName,
    .summary = "pack a file into a compressed container",
    .usage = "usage: octtool pack [--level N] IN OUT\n"
             "\n"
             "Packs the file IN into the container format of codec 4 and writes it to OUT.\n"
             "N is 0 to 9 (default 6): higher levels use larger blocks (8 KiB at 0, 1 MiB at 8\n"
             "and 9), which compress better. IN must be smaller than 2 GiB. On a terminal, a\n"
             "progress bar is shown for inputs of 64 MiB or more. IN may be - for standard\n"
             "input, and OUT - for standard output.\n",
    .run = runPack,
};

}  // namespace oct::tool
