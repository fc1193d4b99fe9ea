#include "pngopt/parallel_files.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/ascii.h"
#include "platform/byte_order.h"

namespace jx::quillox {

bool CanOptimizeFilesInParallel(const Options& options, const ProgramContext& context,
                                const std::vector<std::pair<std::string, std::string>>& files) {
    if (!context.pool || context.pool->Size() <= 1 || files.size() <= 1) return false;
    if (options.info) return false;           // ends the run after one file
    if (options.chunkOnlyCopy) return false;  // quick enough one after another
    if (!options.logFile.empty()) return false;               // records keep the input order
    if (!options.noPrompt && !options.quiet) {
        // A prompt would interleave. In place, only a converted file's existing output asks.
        if (!options.inPlaceNoPrompt) return false;
        std::error_code ec;
        for (const auto& [in, out] : files)
            if (out != in && std::filesystem::exists(std::filesystem::symlink_status(out, ec))) return false;
    }
    // Outputs that meet another file's input or output depend on the order of the run.
    // Names compare without case: an output may gain ".png" in either case.
    std::set<std::string> inputs, outputs;
    for (const auto& [in, out] : files) {
        inputs.insert(AsciiLower(in));
        if (!outputs.insert(AsciiLower(out)).second) return false;
    }
    for (const auto& [in, out] : files)
        if (AsciiLower(out) != AsciiLower(in) && inputs.count(AsciiLower(out))) return false;
    return true;
}

uint64_t FileMemoryEstimate(const std::string& input, size_t threads) {
    uint64_t pixels = 0;
    std::ifstream in(input, std::ios::binary);
    unsigned char head[24] = {};
    if (in.read(reinterpret_cast<char*>(head), sizeof head) && head[0] == 0x89 && head[1] == 'P') {
        pixels = uint64_t(BigEndian32(head + 16)) * BigEndian32(head + 20);
    } else {
        in.clear();
        in.seekg(0, std::ios::end);
        pixels = std::max<std::streamoff>(0, in.tellg());  // a bitmap holds at least a byte a pixel
    }
    // 16-bit RGBA working copies, the output rows, and a stream buffer per trial thread.
    return pixels * (48 + 4 * uint64_t(threads)) + (uint64_t(16) << 20);
}

namespace {

uint64_t MemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || size <= 0) return uint64_t(2) << 30;
    return uint64_t(pages) * uint64_t(size) / 2;
}

}  // namespace

std::vector<FileOutcome> OptimizeFilesInParallel(const std::vector<std::pair<std::string, std::string>>& files,
                                                 const Options& options, ProgramContext& context) {
    const size_t n = files.size();
    const size_t threads = context.pool ? context.pool->Size() : 1;
    const uint64_t budget = MemoryBudget();
    std::vector<FileOutcome> outcomes(n, FileOutcome::Failed);
    std::vector<std::optional<std::string>> texts(n), errors(n);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0, printed = 0;
    uint64_t inUse = 0;
    size_t running = 0;
    std::atomic<size_t> left{n};
    // The largest files start first, so no large one is left to run alone at the end; the
    // reports still come out in the order of the files.
    std::vector<uint64_t> needs(n);
    for (size_t i = 0; i < n; ++i) needs[i] = FileMemoryEstimate(files[i].first, threads);
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return needs[a] > needs[b]; });

    // Prints every finished file whose predecessors are printed (lock held).
    auto flush = [&] {
        while (printed < n && texts[printed]) {
            context.out << *texts[printed];
            context.out.flush();
            context.err << *errors[printed];
            context.err.flush();
            texts[printed].reset();
            errors[printed].reset();
            ++printed;
        }
    };
    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            if (next >= n) return;
            const size_t k = next, i = order[k];
            const uint64_t need = needs[i];
            // A file that alone exceeds the budget still runs, only by itself.
            changed.wait(lock, [&] { return next != k || running == 0 || inUse + need <= budget; });
            if (next != k) continue;
            ++next;
            ++running;
            inUse += need;
            lock.unlock();
            std::ostringstream text, errorText;
            std::istringstream noAnswers;
            ProgramContext own{text,      noAnswers, context.currentDir, context.encode, context.pool,
                               errorText, true,      &left,              context.beforeReplacingInput};
            FileOutcome outcome = OptimizeFile(files[i].first, files[i].second, options, own);
            --left;
            if (!options.quiet) text << "\n";
            lock.lock();
            outcomes[i] = outcome;
            texts[i] = text.str();
            errors[i] = errorText.str();
            --running;
            inUse -= need;
            flush();
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    const size_t count = std::min(n, threads);
    for (size_t k = 0; k + 1 < count; ++k) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    std::lock_guard lock(mutex);
    flush();
    return outcomes;
}

}  // namespace jx::quillox
