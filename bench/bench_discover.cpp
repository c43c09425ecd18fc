// Times formula searches (the fast search and the literal reference) on a fixed data set and prints their
// figures: wall seconds, peak resident memory, pool threads and the result. Driven by bench_discover.py,
// which runs it in separate processes so each gets its own pool size (RAYON_NUM_THREADS).
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <thread>

#include "kiv/discover/search.hpp"
#include "kiv/pool.hpp"
#include "literal_search.hpp"

using namespace kiv::discover;

namespace {

// Deterministic values in [lo, hi) from a linear congruential sequence.
struct Lcg {
    std::uint64_t s;
    double next(double lo, double hi) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return lo + (hi - lo) * static_cast<double>(s >> 11) / 9007199254740992.0;
    }
};

// Targets that no formula of up to eight tokens matches exactly, so every level runs. Case c is case a
// on 20,000 rows.
void make_case(const std::string& name, Columns& x, std::vector<double>& y) {
    Lcg g{42};
    if (name == "a" || name == "c") {
        const int n = name == "a" ? 200 : 20000;
        x.assign(1, {});
        for (int i = 0; i < n; ++i) x[0].push_back(0.1 + 3.9 * i / (n - 1.0));
        for (double v : x[0]) y.push_back(std::sin(3.7 * v) + 0.3 * v * v * v + 0.05 * g.next(-1.0, 1.0));
    } else {
        x.assign(3, {});
        for (int i = 0; i < 1000; ++i) {
            x[0].push_back(g.next(0.1, 4.0));
            x[1].push_back(g.next(-2.0, 2.0));
            x[2].push_back(g.next(0.5, 3.0));
        }
        for (int i = 0; i < 1000; ++i) {
            double a = x[0][i], b = x[1][i], c = x[2][i];
            y.push_back(std::sin(a * b) + 0.3 * c * c * a - std::cos(b) / c + 0.05 * g.next(-1.0, 1.0));
        }
    }
}

// The fast search with every hook armed but never firing: a stop flag nobody sets, a deadline an hour
// away and a progress callback.
std::optional<FitResult> hooked(const Columns& x, const std::vector<double>& y, const SearchConfig& cfg) {
    std::atomic<bool> stop{false};
    SearchOptions opt;
    opt.stop = &stop;
    opt.deadline = std::chrono::steady_clock::now() + std::chrono::hours(1);
    std::uint64_t reports = 0;
    opt.progress = [&](std::uint64_t, const FitResult&) { ++reports; };
    return run_beam_search(x, y, x.size(), cfg, opt).best;
}

// Seconds from setting the stop flag (from another thread, `delay` after level 2 was reported) to the
// search's return.
double stop_latency(const Columns& x, const std::vector<double>& y, const SearchConfig& cfg,
                    std::chrono::milliseconds delay, std::optional<FitResult>& best) {
    std::atomic<bool> stop{false}, armed{false};
    SearchOptions opt;
    opt.stop = &stop;
    opt.progress = [&](std::uint64_t level, const FitResult&) {
        if (level == 2) armed = true;
    };
    std::chrono::steady_clock::time_point set_at{};
    std::thread stopper([&] {
        while (!armed) std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(delay);
        set_at = std::chrono::steady_clock::now();
        stop = true;
    });
    SearchOutcome out = run_beam_search(x, y, x.size(), cfg, opt);
    const auto end = std::chrono::steady_clock::now();
    armed = true;  // a search that ended before level 2 releases the stopper
    stopper.join();
    best = std::move(out.best);
    if (out.stopped != StopReason::Requested) return NAN;
    return std::chrono::duration<double>(end - set_at).count();
}

// The fast search, printing the peak bytes of each of its parts.
std::optional<FitResult> parts(const Columns& x, const std::vector<double>& y, const SearchConfig& cfg) {
    SearchFootprint f;
    SearchOptions opt;
    opt.footprint = &f;
    auto best = run_beam_search(x, y, x.size(), cfg, opt).best;
    constexpr double kMiB = 1 << 20;
    std::printf("parts seen_set_mib=%.1f candidates_mib=%.1f scores_mib=%.2f cached_rows_mib=%.1f members_mib=%.1f "
                "total_mib=%.1f admitted=%zu largest_level=%zu\n",
                f.seen_set / kMiB, f.candidates / kMiB, f.scores / kMiB, f.cached_rows / kMiB, f.members / kMiB,
                f.total / kMiB, f.candidates_admitted, f.largest_level);
    return best;
}

}  // namespace

// usage: bench_discover CASE IMPL[,IMPL...] [REPEATS [MAX_COMPLEXITY BEAM_WIDTH]]
// Runs each implementation in this process, in the order given (the fast one REPEATS times, default 1,
// keeping the best; the literal one once), and prints one line per implementation: the wall time, the peak
// resident memory of the process so far, and the result. IMPL "parts" is the fast search printing the
// peak bytes of each of its parts first; IMPL "hooked" is the fast search with its stop
// flag, deadline and progress hooks armed; IMPL "stop" reports as its time the worst latency of a stop
// request over REPEATS searches (set 10, 20, ... ms after level 2 is reported), NaN if one did not stop.
int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s a|b|c fast|parts|hooked|stop|literal[,...] [repeats [max_complexity beam_width]]\n",
                     argv[0]);
        return 2;
    }
    Columns x;
    std::vector<double> y;
    make_case(argv[1], x, y);
    const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    SearchConfig cfg;  // defaults: 8, 2000, 1e-10, 0.001, trig and kiv on
    if (argc > 5) {
        cfg.max_complexity = std::strtoull(argv[4], nullptr, 10);
        cfg.beam_width = std::strtoull(argv[5], nullptr, 10);
    }
    const std::size_t threads = kiv::pool::thread_count();
    std::string impls = argv[2];
    for (std::size_t pos = 0; pos <= impls.size();) {
        std::size_t comma = impls.find(',', pos);
        if (comma == std::string::npos) comma = impls.size();
        const std::string impl = impls.substr(pos, comma - pos);
        pos = comma + 1;
        if (impl != "fast" && impl != "parts" && impl != "hooked" && impl != "stop" && impl != "literal") {
            std::fprintf(stderr, "unknown implementation %s\n", impl.c_str());
            return 2;
        }
        double best_secs = 0.0;
        std::optional<FitResult> best;
        for (int r = 0; r < (impl == "literal" ? 1 : repeats); ++r) {
            if (impl == "stop") {
                double secs = stop_latency(x, y, cfg, std::chrono::milliseconds(10 * (r + 1)), best);
                if (r == 0 || !(secs <= best_secs)) best_secs = secs;
                continue;
            }
            auto t0 = std::chrono::steady_clock::now();
            best = impl == "fast"     ? beam_search(x, y, x.size(), cfg)
                   : impl == "parts"  ? parts(x, y, cfg)
                   : impl == "hooked" ? hooked(x, y, cfg)
                                      : literal::beam_search(x, y, x.size(), cfg);
            double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (r == 0 || secs < best_secs) best_secs = secs;
        }
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("impl=%s seconds=%.4f peak_kib=%ld threads=%zu complexity=%zu score=%.17g formula=%s\n",
                    impl.c_str(), best_secs, ru.ru_maxrss, threads, best ? best->complexity : 0,
                    best ? best->score : NAN, best ? best->formula.c_str() : "None");
        std::fflush(stdout);
    }
    return 0;
}
