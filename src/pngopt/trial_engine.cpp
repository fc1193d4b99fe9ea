#include "pngopt/trial_engine.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <tuple>

#include "pngenc/errors.h"
#include "pngenc/image_data.h"
#include "pngenc/png_layout.h"
#include "pngenc/row_filter.h"

namespace jx::quillox {

void ParallelFor(ThreadPool* pool, size_t n, const std::function<void(size_t)>& job) {
    if (n == 0) return;
    if (!pool || pool->Size() <= 1 || n == 1) {
        for (size_t i = 0; i < n; ++i) job(i);
        return;
    }
    struct Shared {
        std::atomic<size_t> next{0};
        std::mutex mutex;
        std::condition_variable finished;
        size_t done = 0;
        std::exception_ptr error;
        const std::function<void(size_t)>* job = nullptr;
    };
    auto shared = std::make_shared<Shared>();
    shared->job = &job;
    // A helper that starts after the work is gone takes no index and so never touches job.
    auto work = [shared, n] {
        for (;;) {
            const size_t i = shared->next.fetch_add(1);
            if (i >= n) return;
            bool skip;
            {
                std::lock_guard lock(shared->mutex);
                skip = shared->error != nullptr;
            }
            std::exception_ptr error;
            if (!skip) {
                try {
                    (*shared->job)(i);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            std::lock_guard lock(shared->mutex);
            if (error && !shared->error) shared->error = error;
            if (++shared->done == n) shared->finished.notify_all();
        }
    };
    const size_t helpers = std::min(pool->Size(), n - 1);
    for (size_t k = 0; k < helpers; ++k) pool->Submit(work);
    work();
    std::unique_lock lock(shared->mutex);
    shared->finished.wait(lock, [&] { return shared->done == n; });
    if (shared->error) std::rethrow_exception(shared->error);
}

namespace {

// A deflate stream that is ended however its user leaves.
struct DeflateStream {
    z_stream z{};
    DeflateStream(int level, int windowBits, int memLevel, int strategy) {
        if (deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy) != Z_OK)
            throw PngError("PNG: cannot start deflate with these parameters");
    }
    ~DeflateStream() { deflateEnd(&z); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
};

using CostKey = std::tuple<int, int, int, int, int>;  // heuristic, and for 7: level, window, memory, strategy
using JobKey = std::tuple<int, int, int, int, int>;   // data, level, memory, strategy, window
using Costs = std::vector<std::array<uint32_t, 5>>;

struct Row {
    uint32_t y, x0, dx, count;
    size_t n;
    bool passStart;
};

struct CostTable {
    std::once_flag once;
    Costs costs;
};

// One trial run ahead; dropped (under the lock) once the search no longer expects it.
struct Ticket {
    EncodeSettings settings;
    bool dropped = false;
};

struct Job {
    enum State { Idle, Running, Done, Lost } state = Idle;
    uint64_t fileSize = 0;
    uint32_t idatSize = 0;
    std::shared_ptr<std::vector<uint8_t>> stream;  // kept while this job holds the best file
    uint64_t lostBelow = 0;                        // when lost: the file had reached this size
    std::condition_variable changed;
};

// The choice rule of the row chooser, from the five costs.
uint8_t Pick(unsigned set, const std::array<uint32_t, 5>& cost) {
    uint32_t best = 0xFFFFFFFFu;
    uint8_t result = 0;
    for (unsigned f = 0; f < 5; ++f) {
        if (!(set >> f & 1)) continue;
        if (cost[f] < best) {
            best = cost[f];
            result = uint8_t(f);
        }
    }
    return result;
}

}  // namespace

struct TrialEngine::Impl : std::enable_shared_from_this<TrialEngine::Impl> {
    Impl(const OutputImage& image, ThreadPool* p, bool earlier)
        : pool(p), earlierOnly(earlier), png(MakeEncoderImage(image, EncodeSettings{})) {
        const uint32_t w = png.Width(), h = png.Height();
        const bool interlaced = png.Interlace == 1;
        const int passes = interlaced ? 7 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const pngenc::PassInfo info = interlaced ? pngenc::kAdam7[pass] : pngenc::PassInfo{0, 0, 1, 1};
            const auto [pw, ph] = pngenc::PassSize(info, w, h);
            if (pw == 0 || ph == 0) continue;
            const size_t n = (size_t(pw) * png.Channels() * png.BitDepth() + 7) / 8;
            for (uint32_t k = 0; k < ph; ++k) rows.push_back({info.y0 + k * info.dy, info.x0, info.dx, pw, n, k == 0});
        }
        fullRow = (size_t(w) * png.Channels() * png.BitDepth() + 7) / 8;
        bpp = std::max(1u, png.Channels() * png.BitDepth() / 8);
        baseSize = pngenc::FrameImageData(png, {}).size();
    }

    uint64_t FileSizeOf(uint64_t stream) const {
        return baseSize + stream + 12 * ((stream + uint64_t(maxIdat) - 1) / uint64_t(maxIdat));
    }

    pngenc::ChooserSettings Chooser(const EncodeSettings& s) const {
        pngenc::ChooserSettings c;
        c.FilterSet = 0x1F;
        c.Heuristic = uint8_t(s.heuristic);
        c.CompressionLevel = uint8_t(s.level);
        c.WindowBits = uint8_t(s.windowBits);
        c.MemoryLevel = uint8_t(s.memLevel);
        c.Strategy = uint8_t(s.strategy);
        return c;
    }

    const Costs& CostsFor(const EncodeSettings& s) {
        const int h = s.heuristic > 9 || s.heuristic < 0 ? 0 : s.heuristic;
        CostKey key = h == 7 ? CostKey{7, pngenc::TrialLevel(uint8_t(s.level)), s.windowBits, s.memLevel, s.strategy}
                             : CostKey{h, 0, 0, 0, 0};
        std::shared_ptr<CostTable> table;
        {
            std::lock_guard lock(mutex);
            auto& slot = tables[key];
            if (!slot) slot = std::make_shared<CostTable>();
            table = slot;
        }
        // A row's costs depend on that row and the one above only (the deflate-based heuristics
        // score each row alone), so bands of rows are scored side by side: the table is the same,
        // and trials waiting for it (heuristic 7 deflates every residual row) wait less.
        std::call_once(table->once, [&] {
            Costs costs(rows.size());
            const size_t band = std::max<size_t>(64, (rows.size() + 31) / 32);
            ParallelFor(pool, (rows.size() + band - 1) / band, [&](size_t b) {
                pngenc::RowFilterChooser chooser(Chooser(s), fullRow, bpp);
                const size_t first = b * band, last = std::min(rows.size(), first + band);
                if (!rows[first].passStart) {
                    const Row& above = rows[first - 1];
                    pngenc::PackImageRow(png, above.y, above.x0, above.dx, above.count, chooser.RawRow(), above.n);
                    chooser.Advance();
                }
                for (size_t i = first; i < last; ++i) {
                    const Row& r = rows[i];
                    if (r.passStart) chooser.StartPass();
                    pngenc::PackImageRow(png, r.y, r.x0, r.dx, r.count, chooser.RawRow(), r.n);
                    chooser.CostAll(r.n, costs[i]);
                    chooser.Advance();
                }
            });
            table->costs = std::move(costs);
        });
        return table->costs;
    }

    // The id of the filtered data a filter set gives, with its fingerprint.
    int DataFor(const EncodeSettings& s, uint32_t& fingerprint) {
        const unsigned set = s.filterSet & 0x1Fu;
        std::vector<uint8_t> choice(rows.size(), 0);
        if (set > 1 && (set & (set - 1)) == 0) {
            std::fill(choice.begin(), choice.end(), uint8_t(std::countr_zero(set)));
        } else if (set > 1) {
            const Costs& costs = CostsFor(s);
            for (size_t i = 0; i < rows.size(); ++i) choice[i] = Pick(set, costs[i]);
        }
        fingerprint = 0;
        const bool interlaced = png.Interlace == 1;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (interlaced && rows[i].passStart) fingerprint = 0;
            fingerprint += (rows[i].y + 1) * uint32_t(choice[i]);
        }
        std::lock_guard lock(mutex);
        auto [it, inserted] = dataIds.emplace(std::move(choice), int(data.size()));
        if (inserted) data.push_back(&it->first);
        return it->second;
    }

    // Whether a finished trial rules out trial seq whose file is at least `size` (lock held).
    bool RuledOut(int seq, uint64_t size) const {
        for (const auto& [s, fileSize] : finished) {
            if (fileSize < size && (!earlierOnly || s < seq)) return true;
            if (fileSize == size && s < seq) return true;
        }
        return false;
    }

    // Deflates the data; false when abandoned (lostBelow then holds the size reached).
    // With a ticket: run ahead, and given up once the ticket is dropped.
    bool Deflate(const std::vector<uint8_t>& choice, const EncodeSettings& s, int seq, std::vector<uint8_t>& out,
                 uint64_t& lostBelow, const Ticket* ticket = nullptr) {
        DeflateStream stream(s.level, s.windowBits, s.memLevel, s.strategy);
        z_stream& z = stream.z;
        uint64_t raw = 0;
        for (const Row& r : rows) raw += r.n + 1;
        {
            std::lock_guard lock(mutex);
            uint64_t guess = deflateBound(&z, uLong(raw)) + 64;
            if (bestSize != UINT64_MAX) guess = std::min(guess, bestSize + 65536);
            out.resize(size_t(std::min<uint64_t>(guess, uint64_t(64) << 20)));
        }
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        auto grow = [&] {
            const size_t used = out.size();
            out.resize(used + used / 2 + 65536);
            z.next_out = out.data() + used;
            z.avail_out = uInt(std::min<size_t>(out.size() - used, 0x7FFFFFFF));
        };
        pngenc::ChooserSettings cs;
        cs.FilterSet = 0x1F;
        cs.Heuristic = 2;
        pngenc::RowFilterChooser chooser(cs, fullRow, bpp);
        size_t sinceCheck = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            if (r.passStart) chooser.StartPass();
            pngenc::PackImageRow(png, r.y, r.x0, r.dx, r.count, chooser.RawRow(), r.n);
            const uint8_t* filtered = chooser.Filter(choice[i], r.n);
            z.next_in = const_cast<Bytef*>(filtered);
            z.avail_in = uInt(r.n + 1);
            while (z.avail_in > 0) {
                if (z.avail_out == 0) grow();
                if (deflate(&z, Z_NO_FLUSH) != Z_OK) throw PngError("PNG: deflate failed");
            }
            chooser.Advance();
            sinceCheck += r.n + 1;
            if (sinceCheck >= (64u << 10)) {
                sinceCheck = 0;
                std::lock_guard lock(mutex);
                const uint64_t reached = FileSizeOf(z.total_out);
                if (RuledOut(seq, reached) || (ticket && (stopped || ticket->dropped))) {
                    lostBelow = reached;
                    return false;
                }
            }
        }
        for (;;) {
            if (z.avail_out == 0) grow();
            const int rc = deflate(&z, Z_FINISH);
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) throw PngError("PNG: deflate failed");
        }
        out.resize(size_t(z.total_out));
        return true;
    }

    // Records a measured trial; the best keeps its stream, the others drop theirs (lock held).
    void Finished(int seq, const std::shared_ptr<Job>& job) {
        finished.emplace_back(seq, job->fileSize);
        if (job->fileSize < bestSize || (job->fileSize == bestSize && seq < bestSeq)) {
            if (bestJob && bestJob != job) bestJob->stream.reset();
            bestJob = job;
            bestSize = job->fileSize;
            bestSeq = seq;
            bestSettings = current;
        } else if (bestJob != job) {
            job->stream.reset();
        }
    }

    EngineOutcome RunOne(const EngineTrial& t, const Ticket* ticket = nullptr) {
        EngineOutcome outcome;
        const int id = DataFor(t.settings, outcome.fingerprint);
        if (t.settings.fingerprintOnly) return outcome;
        const EncodeSettings& s = t.settings;
        std::unique_lock lock(mutex);
        std::shared_ptr<Job>& slot = jobs[JobKey{id, s.level, s.memLevel, s.strategy, s.windowBits}];
        if (!slot) slot = std::make_shared<Job>();
        std::shared_ptr<Job> job = slot;
        for (;;) {
            // Run ahead: only a deflate nobody has started, nothing to wait for.
            if (ticket && (job->state != Job::Idle || stopped || ticket->dropped)) return outcome;
            if (job->state == Job::Running) {
                job->changed.wait(lock);
                continue;
            }
            if (job->state == Job::Done && t.speculative) return outcome;
            if (job->state == Job::Done) {
                outcome.fileSize = job->fileSize;
                outcome.idatSize = job->idatSize;
                current = s;
                Finished(t.seq, job);
                return outcome;
            }
            // Abandoned for another trial: it holds for this one only if something rules it out too.
            if (job->state == Job::Lost && RuledOut(t.seq, job->lostBelow)) {
                outcome.lost = true;
                return outcome;
            }
            job->state = Job::Running;
            const std::vector<uint8_t>& choice = *data[size_t(id)];
            lock.unlock();
            auto stream = std::make_shared<std::vector<uint8_t>>();
            uint64_t lostBelow = 0;
            bool done;
            try {
                done = Deflate(choice, s, t.seq, *stream, lostBelow, ticket);
            } catch (...) {
                lock.lock();
                job->state = Job::Idle;
                job->changed.notify_all();
                throw;
            }
            lock.lock();
            if (done) {
                job->state = Job::Done;
                job->fileSize = FileSizeOf(stream->size());
                job->idatSize = uint32_t(std::min<uint64_t>(stream->size(), uint64_t(maxIdat)));
                job->stream = std::move(stream);
            } else {
                job->state = Job::Lost;
                job->lostBelow = lostBelow;
            }
            job->changed.notify_all();
        }
    }

    void RunAheadOne(const EngineTrial& t, const std::shared_ptr<Ticket>& ticket) {
        {
            std::lock_guard lock(mutex);
            if (stopped || ticket->dropped) return;
            ++aheadRunning;
        }
        try {
            RunOne(t, ticket.get());
        } catch (...) {
            // A trial the search asks for meets the same error and reports it.
        }
        std::lock_guard lock(mutex);
        if (--aheadRunning == 0) aheadIdle.notify_all();
    }

    void StopAhead() {
        std::unique_lock lock(mutex);
        stopped = true;
        aheadIdle.wait(lock, [&] { return aheadRunning == 0; });
    }

    ThreadPool* pool;
    bool earlierOnly;
    PngImage png;
    std::vector<Row> rows;
    size_t fullRow = 0;
    unsigned bpp = 1;
    uint64_t baseSize = 0;
    int32_t maxIdat = 0xFFFFF;

    std::mutex mutex;
    std::map<CostKey, std::shared_ptr<CostTable>> tables;
    std::map<std::vector<uint8_t>, int> dataIds;
    std::vector<const std::vector<uint8_t>*> data;
    std::map<JobKey, std::shared_ptr<Job>> jobs;
    std::vector<std::pair<int, uint64_t>> finished;
    uint64_t bestSize = UINT64_MAX;
    int bestSeq = INT_MAX;
    std::shared_ptr<Job> bestJob;
    EncodeSettings current, bestSettings;
    std::vector<std::shared_ptr<Ticket>> tickets;  // run ahead and not dropped
    size_t aheadRunning = 0;
    bool stopped = false;
    std::condition_variable aheadIdle;
};

TrialEngine::TrialEngine(const OutputImage& image, ThreadPool* pool, bool earlierBoundsOnly)
    : impl_(std::make_shared<Impl>(image, pool, earlierBoundsOnly)) {}

TrialEngine::~TrialEngine() { impl_->StopAhead(); }

void TrialEngine::RunAhead(const std::vector<EngineTrial>& trials) {
    if (!impl_->pool || impl_->pool->Size() <= 1) return;
    std::vector<std::shared_ptr<Ticket>> tickets;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->stopped) return;
        for (const EngineTrial& t : trials) {
            tickets.push_back(std::make_shared<Ticket>(Ticket{t.settings, false}));
            impl_->tickets.push_back(tickets.back());
        }
    }
    // Pending jobs keep the state alive; they find their ticket dropped and do nothing.
    for (size_t i = 0; i < trials.size(); ++i)
        impl_->pool->SubmitIdle([impl = impl_, t = trials[i], ticket = tickets[i]] { impl->RunAheadOne(t, ticket); });
}

void TrialEngine::DropAhead(const std::function<bool(const EncodeSettings&)>& keep) {
    std::lock_guard lock(impl_->mutex);
    for (const auto& ticket : impl_->tickets)
        if (!keep || !keep(ticket->settings)) ticket->dropped = true;
    impl_->tickets.clear();
}

std::vector<EngineOutcome> TrialEngine::Run(const std::vector<EngineTrial>& trials, const std::vector<size_t>& order) {
    std::vector<EngineOutcome> outcomes(trials.size());
    if (!trials.empty()) {
        std::lock_guard lock(impl_->mutex);  // trials run ahead may be reading it
        impl_->maxIdat = std::max<int32_t>(65535, trials.front().settings.maxIdatSize);
    }
    ParallelFor(impl_->pool, order.size(), [&](size_t k) { outcomes[order[k]] = impl_->RunOne(trials[order[k]]); });
    return outcomes;
}

EncodedPng TrialEngine::BestFile() {
    Impl& m = *impl_;
    m.StopAhead();
    EncodedPng file;
    if (!m.bestJob) return file;
    if (!m.bestJob->stream) {
        // Its stream was dropped when another trial led; deflated again, without a bound.
        auto stream = std::make_shared<std::vector<uint8_t>>();
        uint64_t unused = 0;
        std::vector<std::pair<int, uint64_t>> finished;
        std::swap(finished, m.finished);
        uint32_t fingerprint = 0;
        const int id = m.DataFor(m.bestSettings, fingerprint);
        m.Deflate(*m.data[size_t(id)], m.bestSettings, m.bestSeq, *stream, unused);
        std::swap(finished, m.finished);
        m.bestJob->stream = std::move(stream);
    }
    PngImage& png = m.png;
    png.SetMaxIdatSize(m.maxIdat);
    file.bytes = pngenc::FrameImageData(png, *m.bestJob->stream);
    file.idatSize = m.bestJob->idatSize;
    uint32_t fingerprint = 0;
    m.DataFor(m.bestSettings, fingerprint);
    file.fingerprint = fingerprint;
    return file;
}

int TrialEngine::BestSeq() const { return impl_->bestSeq; }

std::optional<uint64_t> MeasureEncodedSize(const OutputImage& image, const EncodeSettings& settings,
                                           const std::function<uint64_t()>& limit) {
    PngImage png = MakeEncoderImage(image, settings);
    const uint64_t base = pngenc::FrameImageData(png, {}).size();
    const uint64_t idat = uint64_t(png.MaxIdatSize);
    auto fileSize = [&](uint64_t stream) { return base + stream + 12 * ((stream + idat - 1) / idat); };

    pngenc::ChooserSettings cs;
    cs.FilterSet = png.FilterSet;
    cs.Heuristic = png.Heuristic;
    cs.CompressionLevel = png.CompressionLevel;
    cs.WindowBits = png.WindowBits;
    cs.MemoryLevel = png.MemoryLevel;
    cs.Strategy = png.Strategy;
    const uint32_t w = png.Width(), h = png.Height();
    const size_t fullRow = (size_t(w) * png.Channels() * png.BitDepth() + 7) / 8;
    pngenc::RowFilterChooser chooser(cs, fullRow, std::max(1u, png.Channels() * png.BitDepth() / 8));

    DeflateStream stream(png.CompressionLevel, png.WindowBits, png.MemoryLevel, png.Strategy);
    z_stream& z = stream.z;
    std::vector<uint8_t> sink(size_t(256) << 10);
    auto run = [&](int flush) {
        for (;;) {
            if (z.avail_out == 0) {
                z.next_out = sink.data();
                z.avail_out = uInt(sink.size());
            }
            const int rc = deflate(&z, flush);
            if (rc == Z_STREAM_END) return;
            if (rc != Z_OK && !(rc == Z_BUF_ERROR && flush == Z_FINISH)) throw PngError("PNG: deflate failed");
            if (flush == Z_NO_FLUSH && z.avail_in == 0) return;
        }
    };
    z.avail_out = 0;
    const bool interlaced = png.Interlace == 1;
    size_t sinceCheck = 0;
    for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
        const pngenc::PassInfo info = interlaced ? pngenc::kAdam7[pass] : pngenc::PassInfo{0, 0, 1, 1};
        const auto [pw, ph] = pngenc::PassSize(info, w, h);
        if (pw == 0 || ph == 0) continue;
        const size_t n = (size_t(pw) * png.Channels() * png.BitDepth() + 7) / 8;
        chooser.StartPass();
        for (uint32_t k = 0; k < ph; ++k) {
            pngenc::PackImageRow(png, info.y0 + k * info.dy, info.x0, info.dx, pw, chooser.RawRow(), n);
            z.next_in = const_cast<Bytef*>(chooser.Output(chooser.Choose(n)));
            z.avail_in = uInt(n + 1);
            run(Z_NO_FLUSH);
            chooser.Advance();
            sinceCheck += n + 1;
            if (sinceCheck >= (64u << 10)) {
                sinceCheck = 0;
                if (fileSize(z.total_out) >= limit()) return std::nullopt;
            }
        }
    }
    run(Z_FINISH);
    return fileSize(z.total_out);
}

}  // namespace jx::quillox
