// octtool convert [-j N] [--bmp | --png] [--skip-existing] -o DIR IN...: every IN
// converted into the folder DIR by N worker threads, each picture on a
// record of its own.
//
// The whole command line is checked before any work: the options, the
// folder, and that no two inputs write the same file. After that each
// picture succeeds or fails alone; a failure is one line on the error
// stream, and the exit code says whether any failed.
//
// A batch may be killed at any moment: every output in DIR is then either
// absent or whole, since a save replaces its file only once the new one is
// complete, and the saves under way leave their temporary files. The next
// run removes those of its own outputs whose process has ended, and with
// --skip-existing converts only the inputs whose output is missing.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "convert.h"
#include "file_io.h"
#include "platform/files.h"
#include "platform/name_case.h"
#include "progress.h"
#include "runtime/file_replace.h"

namespace oct::tool {
namespace {

constexpr std::string_view kName = kConvertName;

// More threads than this only cost memory (each holds a whole picture) on
// any machine the tool runs on today.
constexpr unsigned kMaxThreads = 64;

struct Options {
    std::optional<std::string_view> dir;
    std::optional<std::int32_t> threads;
    ConvertOut kind = ConvertOut::Levels;
    bool skipExisting = false;
    std::vector<std::string_view> inputs;
};

struct Job {
    std::string_view in;
    std::string out;  // UTF-8, as the messages show it
};

std::string inQuotes(std::string_view text) { return "'" + std::string(text) + "'"; }

// Options may stand anywhere before "--"; after it every argument is an input.
int parseOptions(CommandArgs args, ToolContext& context, Options& o) {
    const auto usage = [&](const std::string& message) { return toolFail(context, kName, message, kExitUsage); };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const bool option = !optionsEnded && a.size() > 1 && a[0] == '-';
        if (a == kStandardStream)
            return usage("- (standard input) cannot be one of several inputs; name the file, e.g. ./-");
        if (!option) {
            o.inputs.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--bmp" || a == "--png") {
            const ConvertOut kind = a == "--bmp" ? ConvertOut::Bmp : ConvertOut::Png;
            if (o.kind != ConvertOut::Levels && o.kind != kind) return usage("--bmp and --png cannot both be given");
            o.kind = kind;
        } else if (a == "--skip-existing") {
            o.skipExisting = true;
        } else if (a == "-o") {
            if (o.dir) return usage("-o given twice");
            if (i + 1 == args.size() || args[i + 1].empty()) return usage("-o needs a folder");
            o.dir = args[++i];
        } else if (a.substr(0, 2) == "-j") {
            // -j N or -jN
            if (o.threads) return usage("-j given twice");
            if (a.size() == 2 && i + 1 == args.size()) return usage("-j needs a number of threads");
            const std::string_view text = a.size() > 2 ? a.substr(2) : args[++i];
            const auto n = toolNumber(text);
            if (!n || *n < 1) return usage("-j takes a positive number of threads, not " + inQuotes(text));
            o.threads = *n;
        } else {
            return usage("unknown option " + inQuotes(a) + " (see octtool help convert)");
        }
    }
    if (!o.dir) return usage("several inputs need -o DIR (see octtool help convert)");
    if (o.inputs.empty()) return usage("no input given after the options");
    return kExitOk;
}

// STEM of each input, and the file it writes in `dir`. Refuses names
// without a file part, and two inputs that would write the same file in a
// folder that folds letter case (a Windows folder holds only one of "Ä" and
// "ä"): names are compared as such a folder compares them (plat::nameFoldCase),
// on every system, so that a run that works on one works on the other.
int planJobs(const Options& o, ToolContext& context, std::vector<Job>& jobs) {
    const std::string_view dir = *o.dir;
    const bool hasSeparator = (dir.back() == '/' || dir.back() == '\\');
    const std::string folder = std::string(dir) + (hasSeparator ? "" : "/");
    const char* extension = o.kind == ConvertOut::Bmp ? ".bmp" : o.kind == ConvertOut::Png ? ".png" : ".oct";

    std::map<std::string, std::string_view> taken;  // folded stem -> the input that writes it
    for (const std::string_view in : o.inputs) {
        const std::filesystem::path name = toolPath(in).filename();
        if (name.empty() || name == "." || name == "..")
            return toolFail(context, kName, inQuotes(in) + " names a folder, not a file", kExitUsage);
        const std::string stem = toolUtf8(name.stem().u16string());
        const auto [at, fresh] = taken.emplace(toolUtf8(plat::nameFoldCase(name.stem().u16string())), in);
        jobs.push_back({in, folder + stem + extension});
        if (!fresh)
            return toolFail(context, kName,
                            inQuotes(at->second) + " and " + inQuotes(in) + " would both write " + inQuotes(jobs.back().out),
                            kExitUsage);
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(toolPath(dir), ec))
        return toolFail(context, kName, "no folder " + inQuotes(dir) + " to write into (make it first)");
    return kExitOk;
}

// The temporary files that saves of these outputs left in `dir` when their
// process was killed (OUT.~PID-N, filTempName's names), removed; those of a
// process still running stay. Best effort: a folder that cannot be read, or
// a file that cannot be removed, is left as it is.
void removeLeftovers(std::string_view dir, const std::vector<Job>& jobs) {
    std::set<std::u16string> outputs;  // the outputs' file names
    for (const Job& job : jobs) outputs.insert(toolPath(job.out).filename().u16string());
    std::error_code ec;
    std::vector<std::filesystem::path> dead;
    for (auto it = std::filesystem::directory_iterator(toolPath(dir), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::u16string name = it->path().filename().u16string();
        const std::size_t mark = name.rfind(u".~");
        if (mark == std::u16string::npos) continue;
        const std::u16string target = name.substr(0, mark);
        std::uint32_t pid = 0;
        if (outputs.count(target) && filIsTempNameOf(name, target, pid) && !plat::processRunning(pid) &&
            it->is_regular_file(ec))
            dead.push_back(it->path());
    }
    for (const auto& path : dead) std::filesystem::remove(path, ec);
}

// Leaves out the jobs whose output is there already: complete, since saves
// replace files only whole.
void dropExisting(std::vector<Job>& jobs) {
    std::error_code ec;
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [&](const Job& job) { return std::filesystem::exists(toolPath(job.out), ec); }),
               jobs.end());
}

// Where the workers report: failures as lines on the error stream, and the
// bar when there is one. Safe to call from every worker at once.
class Report {
public:
    Report(ToolContext& context, std::size_t total) : context_(context) {
        if (context.errIsTerminal) bar_.emplace(context.err, static_cast<std::int64_t>(total));
    }

    // One picture done; `error` is its one-line reason when it failed.
    void finished(bool ok, const std::string& error) {
        if (!ok) {
            ++failures_;  // counted first: the message below may not be made
            const std::string line = toolMessage(kName, error);
            if (bar_) {
                bar_->note(line);
            } else {
                std::lock_guard hold(lock_);
                context_.err << line << std::flush;
            }
        }
        if (bar_) bar_->step();
    }
    void failedSilently() { ++failures_; }

    bool anyFailed() const { return failures_.load() > 0; }

private:
    ToolContext& context_;
    std::optional<ProgressBar> bar_;
    std::mutex lock_;
    std::atomic<int> failures_{0};
};

// The order in which the workers take the jobs: with several workers, the
// largest inputs first (a file that cannot be examined counts as empty), so
// that the last pictures to finish are small ones and no worker waits long
// for another at the end. One worker keeps the order of the command line.
std::vector<std::size_t> workOrder(const std::vector<Job>& jobs, unsigned threadCount) {
    std::vector<std::size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (threadCount < 2) return order;
    std::vector<std::uintmax_t> size(jobs.size(), 0);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::error_code ec;
        const std::uintmax_t n = std::filesystem::file_size(toolPath(jobs[i].in), ec);
        if (!ec) size[i] = n;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return size[a] > size[b]; });
    return order;
}

void convertJobs(const std::vector<Job>& jobs, ConvertOut kind, unsigned threadCount, Report& report) {
    const std::vector<std::size_t> order = workOrder(jobs, threadCount);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next++) < order.size();) {
            const Job& job = jobs[order[i]];
            // Memory may run out anywhere here; the picture then fails, not
            // the process.
            try {
                std::string error;
                try {
                    error = convertFile(job.in, job.out, kind);
                } catch (const std::exception&) {
                    error = "not enough memory to convert " + inQuotes(job.in);
                }
                report.finished(error.empty(), error);
            } catch (...) {
                report.failedSilently();
            }
        }
    };
    // This thread is one of the workers. When the system refuses a thread,
    // the ones already running (and this one) do the rest.
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(threadCount - 1);
        for (unsigned t = 1; t < threadCount; ++t) helpers.emplace_back(work);
    } catch (...) {
    }
    work();
    for (std::thread& t : helpers) t.join();
}

}  // namespace

bool convertIsManyForm(CommandArgs args) {
    return std::any_of(args.begin(), args.end(), [](std::string_view a) {
        return a == "-o" || a == "--bmp" || a == "--png" || a == "--skip-existing" || a == "--" ||
               a.substr(0, 2) == "-j";
    });
}

int convertMany(CommandArgs args, ToolContext& context) {
    Options options;
    if (const int code = parseOptions(args, context, options)) return code;
    std::vector<Job> jobs;
    if (const int code = planJobs(options, context, jobs)) return code;
    removeLeftovers(*options.dir, jobs);
    if (options.skipExisting) dropExisting(jobs);
    if (jobs.empty()) return kExitOk;

    const unsigned wanted = options.threads ? static_cast<unsigned>(*options.threads)
                                            : std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = std::min({wanted, kMaxThreads, static_cast<unsigned>(jobs.size())});
    Report report(context, jobs.size());
    convertJobs(jobs, options.kind, threads, report);
    return report.anyFailed() ? kExitFailure : kExitOk;
}

}  // namespace oct::tool
