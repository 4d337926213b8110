// octtool unpack IN OUT: restores what octtool pack packed.
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "file_io.h"
#include "pack/container.h"
#include "pack/registry.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = "unpack";
constexpr std::uint8_t kMagic[] = {0x31, 0x7A, 0x6C, 0x62};  // docs/formats/packed-container.md#header
constexpr std::size_t kUnpackedSizeOffset = 8;

int runUnpack(CommandArgs args, ToolContext& context) {
    if (args.size() != 2) return toolFail(context, kName, "expected IN OUT (see octtool help unpack)", kExitUsage);

    std::string error;
    const auto input = readInput(args[0], context, error);
    if (!input) return toolFail(context, kName, error);
    if (input->size() < kPackHeaderSize || std::memcmp(input->data(), kMagic, sizeof kMagic) != 0)
        return toolFail(context, kName, "'" + std::string(args[0]) + "' is not a packed container");

    // The header says how large a buffer to offer; the codec checks it again.
    std::uint64_t field = 0;
    for (int i = 7; i >= 0; --i) field = field << 8 | (*input)[kUnpackedSizeOffset + static_cast<std::size_t>(i)];
    const auto unpacked = static_cast<std::int64_t>(field);
    if (unpacked < 0 || unpacked > INT32_MAX)
        return toolFail(context, kName, "'" + std::string(args[0]) + "' is corrupt");

    std::vector<std::uint8_t> output(static_cast<std::size_t>(unpacked));
    const std::int64_t n = pakUncompress(input->data(), static_cast<std::int64_t>(input->size()), output.data(),
                                         unpacked, kPakCodecLz);
    if (n != unpacked) return toolFail(context, kName, "'" + std::string(args[0]) + "' is corrupt");
    if (!writeOutput(args[1], output.data(), output.size(), context, error))
        return toolFail(context, kName, error);
    return kExitOk;
}

}  // namespace

const Command kUnpackCommand{
    .name = kName,
    .summary = "restore a file packed by octtool pack",
    .usage = "usage: octtool unpack IN OUT\n"
             "\n"
             "Restores the container IN, as written by octtool pack (or any codec-4\n"
             "container), and writes its bytes to OUT. Fails on a damaged or truncated\n"
             "container. IN may be - for standard input, and OUT - for standard output.\n",
    .run = runUnpack,
};

}  // namespace oct::tool
