// Formula discovery for the kiv package. The search runs on a thread of its own while the calling thread
// gives up the interpreter lock and wakes every few tens of milliseconds to run the signal handlers and
// hand progress reports to Python; an exception there (KeyboardInterrupt, or one from the progress
// callback) stops the search, which ends within a few milliseconds of work and frees everything it held.
// Evaluation runs the core's guarded operators over row batches on the worker pool, also without the lock.
#include "discover.hpp"
#include "numpy_api.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "kiv/discover/expr.hpp"
#include "kiv/discover/render.hpp"
#include "kiv/discover/search.hpp"
#include "kiv/failure.hpp"
#include "kiv/memory.hpp"
#include "kiv/pool.hpp"
#include "frame.hpp"

namespace {

using kivpy::Ref;
using kivpy::PyErrorSet;
using kivpy::require;
using kivpy::require_status;
using namespace kiv::discover;

// Milliseconds between two wake-ups of the calling thread while a search runs.
constexpr auto kHeartbeat = std::chrono::milliseconds(20);

// Entries run in kiv._native's call frame: C++ failures become ordinary exceptions.
using kivnp::call;
using kivnp::raise;

// Gives up the interpreter lock for its lifetime.
class Unlocked {
public:
    Unlocked() noexcept : state_(PyEval_SaveThread()) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    PyThreadState* state_;
};

// ---- tokens <-> Python ----------------------------------------------------------------------------------
// A token is the triple (kind, index, value): (0, 0, v) a constant, (1, i, v) a parameter with its stored
// value, (2, i, 0.0) variable i, (3, code, 0.0) an operator. An operator's code is its row in the core's
// table. Pickled formulas keep their codes, so the rows that existed when the package first pickled formulas
// stay where they are; a new operator takes the next code.
constexpr std::string_view kFirstPickledOps[] = {"neg", "recip", "exp", "ln",  "sqrt", "sin", "cos",
                                                 "abs", "kiv",   "add", "sub", "mul",  "div"};
constexpr bool pickled_codes_kept() {
    if (kOps.size() < std::size(kFirstPickledOps)) return false;
    for (std::size_t i = 0; i < std::size(kFirstPickledOps); ++i) {
        if (kOps[i].name != kFirstPickledOps[i]) return false;
    }
    return true;
}
static_assert(pickled_codes_kept(), "an operator code that pickled formulas use has changed");

Expr tokens_from(PyObject* obj) {
    Ref seq = require(PySequence_Fast(obj, "tokens must be a sequence of (kind, index, value) triples"));
    // A list is read from a tuple copy: __index__ or __float__ of an item runs Python code, which could
    // change or empty the list under us.
    if (PyList_Check(seq.get())) seq = require(PyList_AsTuple(seq.get()));
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    Expr expr;
    expr.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 3) {
            raise(PyExc_ValueError, "tokens: token " + std::to_string(i) + " is not a (kind, index, value) triple");
        }
        const long kind = PyLong_AsLong(PyTuple_GET_ITEM(item, 0));
        if (kind == -1 && PyErr_Occurred()) throw PyErrorSet{};
        const std::size_t index = PyLong_AsSize_t(PyTuple_GET_ITEM(item, 1));
        if (index == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw PyErrorSet{};
        const double value = PyFloat_AsDouble(PyTuple_GET_ITEM(item, 2));
        if (value == -1.0 && PyErr_Occurred()) throw PyErrorSet{};
        switch (kind) {
            case 0: expr.push_back(Token::constant(value)); break;
            case 1: expr.push_back(Token::param(index, value)); break;
            case 2: expr.push_back(Token::var(index)); break;
            case 3:
                if (index >= kOps.size()) {
                    raise(PyExc_ValueError, "tokens: unknown operator code " + std::to_string(index));
                }
                expr.push_back(Token::oper(static_cast<OpKind>(index)));
                break;
            default: raise(PyExc_ValueError, "tokens: unknown token kind " + std::to_string(kind));
        }
    }
    return expr;
}

Ref tokens_to(const Expr& expr) {
    Ref out = require(PyTuple_New(static_cast<Py_ssize_t>(expr.size())));
    for (std::size_t i = 0; i < expr.size(); ++i) {
        const Token& t = expr[i];
        long kind = 0;
        std::size_t index = 0;
        double value = 0.0;
        switch (t.kind) {
            case TokenKind::Const: kind = 0; value = t.value; break;
            case TokenKind::Param: kind = 1; index = t.index; value = t.value; break;
            case TokenKind::Var: kind = 2; index = t.index; break;
            case TokenKind::Op: kind = 3; index = static_cast<std::size_t>(t.op); break;
        }
        Ref item = require(Py_BuildValue("(lnd)", kind, static_cast<Py_ssize_t>(index), value));
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return out;
}

// A float64 array of the given dimension, C-contiguous (a copy only when the input is not).
Ref float_array(PyObject* obj, int ndim, const char* name) {
    Ref arr = require(PyArray_FROM_OTF(obj, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    if (PyArray_NDIM(reinterpret_cast<PyArrayObject*>(arr.get())) != ndim) {
        raise(PyExc_ValueError, std::string(name) + " must be a " + std::to_string(ndim) + "-D array");
    }
    return arr;
}

PyArrayObject* as_array(const Ref& r) { return reinterpret_cast<PyArrayObject*>(r.get()); }

// ---- settings -------------------------------------------------------------------------------------

// O& converters for _discover's settings: each refuses what its C type cannot hold (an int out of range
// raises OverflowError) instead of wrapping it round.
int to_u64(PyObject* obj, void* out) {
    const unsigned long long v = PyLong_AsUnsignedLongLong(obj);
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return 0;
    *static_cast<std::uint64_t*>(out) = v;
    return 1;
}

int to_flag(PyObject* obj, void* out) {
    if (!PyBool_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "expected True or False, got %s", Py_TYPE(obj)->tp_name);
        return 0;
    }
    *static_cast<bool*>(out) = obj == Py_True;
    return 1;
}

// The constants setting: None, "scale" or "fit".
int to_constants(PyObject* obj, void* out) {
    Constants& c = *static_cast<Constants*>(out);
    if (obj == Py_None) {
        c = Constants::None;
        return 1;
    }
    if (PyUnicode_Check(obj)) {
        if (PyUnicode_CompareWithASCIIString(obj, "scale") == 0) {
            c = Constants::Scale;
            return 1;
        }
        if (PyUnicode_CompareWithASCIIString(obj, "fit") == 0) {
            c = Constants::Fit;
            return 1;
        }
    }
    PyErr_Format(PyExc_ValueError, "constants must be None, \"scale\" or \"fit\", got %R", obj);
    return 0;
}

// The root mean square of v - centre, as m * sqrt(sum(((v[i] - centre) / m)^2) / n) with m the largest
// |v[i] - centre| and the sum taken in index order from 0.0: the same value as the plain form wherever that
// neither overflows nor underflows, and a finite one where it would (a target of order 1e200 or 1e-200).
// 0 when every value equals centre.
double rms_about(std::span<const double> v, double centre) {
    double m = 0.0;
    for (double t : v) m = std::max(m, std::fabs(t - centre));
    if (m == 0.0) return 0.0;
    double sum = 0.0;
    for (double t : v) {
        const double q = (t - centre) / m;
        sum = sum + q * q;
    }
    return m * std::sqrt(sum / static_cast<double>(v.size()));
}

// The mean of v, as m * (sum(v[i] / m) / n) with m the largest |v[i]| and the sum in index order from 0.0
// (finite for any finite v).
double mean_of(std::span<const double> v) {
    double m = 0.0;
    for (double t : v) m = std::max(m, std::fabs(t));
    if (m == 0.0) return 0.0;
    double sum = 0.0;
    for (double t : v) sum = sum + t / m;
    return m * (sum / static_cast<double>(v.size()));
}

// What a Formula reports besides its tokens: the score the search ranked by, the error on the training
// rows without the complexity penalty, and R^2 = 1 - (rmse / sd)^2 with sd the root mean square of
// y - mean(y) (scikit-learn's convention for a constant target: 1 for an exact fit, else 0).
struct Quality {
    double score;
    double rmse;
    double r2;
};

double r2_of(double rmse, double target_sd) {
    if (target_sd > 0.0) {
        const double ratio = rmse / target_sd;
        return 1.0 - ratio * ratio;
    }
    return rmse == 0.0 ? 1.0 : 0.0;
}

Quality quality_of(const FitResult& best, const Columns& columns, std::span<const double> target, double target_sd) {
    SearchConfig plain;
    plain.complexity_penalty = 0.0;  // rmse * (tokens * 0 + 1) is the rmse itself, bit for bit
    const std::optional<double> rmse = fit_score(best.tokens, columns, target, plain);
    Quality q{best.score, rmse ? *rmse : std::numeric_limits<double>::quiet_NaN(), 0.0};
    q.r2 = r2_of(q.rmse, target_sd);
    return q;
}

// The front as a tuple of (tokens, score, rmse, r2, complexity), ascending complexity (the token count).
Ref front_to(const std::vector<FrontEntry>& front, double target_sd) {
    Ref out = require(PyTuple_New(static_cast<Py_ssize_t>(front.size())));
    for (std::size_t i = 0; i < front.size(); ++i) {
        const FrontEntry& e = front[i];
        Ref tokens = tokens_to(e.tokens);
        Ref item = require(Py_BuildValue("(Odddn)", tokens.get(), e.score, e.rmse, r2_of(e.rmse, target_sd),
                                         static_cast<Py_ssize_t>(e.tokens.size())));
        PyTuple_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return out;
}

// ---- the search ---------------------------------------------------------------------------------------

struct Report {
    std::uint64_t level;
    Expr tokens;
    Quality quality;
};

// What the search thread and the calling thread share.
struct Mailbox {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::deque<Report> reports;
    SearchOutcome outcome;
    std::exception_ptr failure;
    std::atomic<bool> stop{false};
};

// Owns the search thread and its mailbox, and joins the thread on every way out; a way out with the search
// still running asks it to stop. A progress callback may fork(): the child then has neither the thread nor a
// mailbox it can trust (the thread may have been halfway through an update), so there both are left as
// they are, never joined, detached or freed (a detach could hit a thread that reuses the descriptor).
class SearchThread {
public:
    SearchThread() : box_(std::make_unique<Mailbox>()), thread_(std::make_unique<std::thread>()) {}
    Mailbox& box() { return *box_; }
    template <class F>
    void start(F&& f) {
        *thread_ = std::thread(std::forward<F>(f));
    }
    // Whether this is a child forked while the search ran.
    bool forked() const { return getpid() != pid_; }
    ~SearchThread() {
        if (forked()) {
            (void)box_.release();
            (void)thread_.release();
            return;
        }
        join();
    }
    void join() {
        if (!thread_->joinable()) return;
        box_->stop.store(true, std::memory_order_relaxed);
        Unlocked unlocked;
        thread_->join();
    }
    void join_finished() {
        if (!thread_->joinable()) return;
        Unlocked unlocked;
        thread_->join();
    }

private:
    const pid_t pid_ = getpid();
    std::unique_ptr<Mailbox> box_;
    std::unique_ptr<std::thread> thread_;
};

// The time `seconds` from now; none when the clock cannot represent it (some centuries away, or NaN).
std::optional<std::chrono::steady_clock::time_point> deadline_after(double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    const double ticks = std::max(seconds, 0.0) * Clock::period::den / Clock::period::num;
    // Strictly below the room left, as a double, is strictly below it as an integer: the conversion to
    // ticks and the sum stay within the clock's range.
    const double room = static_cast<double>((Clock::time_point::max() - now).count());
    if (!(ticks < room)) return std::nullopt;
    return now + Clock::duration(static_cast<Clock::rep>(ticks));
}

// The public settings in their public order after X and y, keyword-only; what is not given takes
// SearchConfig's default, the one place each default is written.
const char* const kDiscoverKeywords[] = {"X",          "y",       "max_complexity",     "beam_width",
                                         "precision_goal", "use_trig", "use_kiv",       "complexity_penalty",
                                         "time_limit", "progress", "constants",  nullptr};

PyObject* py_discover(PyObject*, PyObject* args, PyObject* kwargs) {
    return call([&]() -> Ref {
        PyObject *x_obj, *y_obj, *time_limit = Py_None, *progress = Py_None;
        SearchConfig config;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$O&O&dO&O&dOOO&:_discover",
                                         const_cast<char**>(kDiscoverKeywords), &x_obj, &y_obj, to_u64,
                                         &config.max_complexity, to_u64, &config.beam_width, &config.precision_goal,
                                         to_flag, &config.use_trig, to_flag, &config.use_kiv,
                                         &config.complexity_penalty, &time_limit, &progress, to_constants,
                                         &config.constants)) {
            throw PyErrorSet{};
        }
        Ref x = float_array(x_obj, 2, "X");
        Ref y = float_array(y_obj, 1, "y");
        const npy_intp rows = PyArray_DIM(as_array(x), 0);
        const npy_intp features = PyArray_DIM(as_array(x), 1);
        if (features < 1) raise(PyExc_ValueError, "X has no features");
        if (PyArray_DIM(as_array(y), 0) != rows) raise(PyExc_ValueError, "X and y differ in length");
        if (progress != Py_None && !PyCallable_Check(progress)) raise(PyExc_TypeError, "progress must be callable");
        std::optional<std::chrono::steady_clock::time_point> deadline;
        if (time_limit != Py_None) {
            const double seconds = PyFloat_AsDouble(time_limit);
            if (seconds == -1.0 && PyErr_Occurred()) throw PyErrorSet{};
            deadline = deadline_after(seconds);
        }

        const auto n = static_cast<std::size_t>(rows);
        const auto k = static_cast<std::size_t>(features);
        kiv::check_memory(n * k + n, sizeof(double));
        Columns columns(k, std::vector<double>(n));
        std::vector<double> target(n);
        double target_sd = 0.0;
        {
            const double* xd = static_cast<const double*>(PyArray_DATA(as_array(x)));
            const double* yd = static_cast<const double*>(PyArray_DATA(as_array(y)));
            Unlocked unlocked;
            for (std::size_t j = 0; j < k; ++j) {
                double* col = columns[j].data();
                for (std::size_t r = 0; r < n; ++r) col[r] = xd[r * k + j];
            }
            std::copy_n(yd, n, target.data());
            // The goal is relative to the target's scale, so that y and 1e-12 * y give the same formula
            // (with scaled constants); absolute for an all-zero target.
            const double scale = rms_about(target, 0.0);
            if (scale > 0.0) config.precision_goal = config.precision_goal * scale;
            target_sd = rms_about(target, mean_of(target));
        }
        x = Ref();
        y = Ref();

        // Declared before the thread, the options outlive it: it is joined (or left, in a forked child) first.
        SearchOptions options;
        options.front = true;
        SearchThread thread;
        Mailbox& box = thread.box();
        options.stop = &box.stop;
        options.deadline = deadline;
        if (progress != Py_None) {
            // On the searching thread, without the lock: one evaluation of the best over the rows.
            options.progress = [&](std::uint64_t level, const FitResult& best) {
                Report r{level, best.tokens, quality_of(best, columns, target, target_sd)};
                std::lock_guard<std::mutex> lk(box.m);
                box.reports.push_back(std::move(r));
                box.cv.notify_all();
            };
        }

        thread.start([&] {
            try {
                box.outcome = run_beam_search(columns, target, k, config, options);
            } catch (...) {
                box.failure = std::current_exception();
            }
            std::lock_guard<std::mutex> lk(box.m);
            box.done = true;
            box.cv.notify_all();
        });

        for (;;) {
            bool finished;
            std::deque<Report> batch;
            {
                Unlocked unlocked;
                std::unique_lock<std::mutex> lk(box.m);
                box.cv.wait_for(lk, kHeartbeat, [&] { return box.done || !box.reports.empty(); });
                finished = box.done;
                batch.swap(box.reports);
            }
            for (const Report& r : batch) {
                Ref tokens = tokens_to(r.tokens);
                Ref ret = require(PyObject_CallFunction(progress, "KOddd", static_cast<unsigned long long>(r.level),
                                                        tokens.get(), r.quality.score, r.quality.rmse,
                                                        r.quality.r2));
                if (thread.forked()) {
                    raise(PyExc_RuntimeError,
                          "kiv.discover: the process was forked during the search; its result goes to the "
                          "parent process only");
                }
            }
            if (finished) break;
            if (PyErr_CheckSignals() < 0) throw PyErrorSet{};  // the thread's guard stops and joins the search
        }
        thread.join_finished();
        if (box.failure) std::rethrow_exception(box.failure);
        std::optional<FitResult> best = std::move(box.outcome.best);
        if (!best) return Ref::steal(Py_NewRef(Py_None));
        Quality quality{};
        {
            Unlocked unlocked;
            quality = quality_of(*best, columns, target, target_sd);
        }
        // Release the search's data before building the result.
        columns = Columns();
        target = std::vector<double>();
        Ref tokens = tokens_to(best->tokens);
        Ref front = front_to(box.outcome.front, target_sd);
        return require(Py_BuildValue("(OdddiKO)", tokens.get(), quality.score, quality.rmse, quality.r2,
                                     static_cast<int>(box.outcome.stopped),
                                     static_cast<unsigned long long>(box.outcome.levels), front.get()));
    });
}

// ---- evaluation ---------------------------------------------------------------------------------------

// Values of expr on rows [begin, end) (at most kRowBatch) of the C-contiguous (rows, k) array x, by the
// search's own column-wise pass. False when any row of the batch fails.
bool eval_row_major(const Expr& expr, const double* x, std::size_t k, std::size_t begin, std::size_t end, double* out,
                std::vector<double>& stack) {
    const std::size_t n = end - begin;
    auto load_var = [&](std::size_t index, double* dst) {
        const double* col = x + begin * k + index;
        for (std::size_t r = 0; r < n; ++r) dst[r] = col[r * k];
    };
    return kiv::discover::eval_batch(expr, stack.size() / kRowBatch, n, {}, load_var, out, stack);
}

PyObject* py_evaluate(PyObject*, PyObject* args) {
    return call([&]() -> Ref {
        PyObject *tokens_obj, *x_obj;
        if (!PyArg_ParseTuple(args, "OO:_evaluate", &tokens_obj, &x_obj)) throw PyErrorSet{};
        const Expr expr = tokens_from(tokens_obj);
        Ref x = float_array(x_obj, 2, "X");
        const auto n = static_cast<std::size_t>(PyArray_DIM(as_array(x), 0));
        const auto k = static_cast<std::size_t>(PyArray_DIM(as_array(x), 1));
        const auto depth = stack_depth(expr, k);
        if (!depth) {
            raise(PyExc_ValueError, "the formula cannot be evaluated on " + std::to_string(k) +
                                        " features (a variable beyond them, or a malformed token sequence)");
        }
        npy_intp dims[1] = {static_cast<npy_intp>(n)};
        Ref out = require(PyArray_SimpleNew(1, dims, NPY_DOUBLE));
        const double* xd = static_cast<const double*>(PyArray_DATA(as_array(x)));
        double* od = static_cast<double*>(PyArray_DATA(as_array(out)));
        const std::size_t batches = (n + kRowBatch - 1) / kRowBatch;
        {
            Unlocked unlocked;
            kiv::pool::parallel_for(batches, 16, [&](std::size_t b0, std::size_t b1) {
                std::vector<double> stack(*depth * kRowBatch);
                for (std::size_t b = b0; b < b1; ++b) {
                    const std::size_t begin = b * kRowBatch, end = std::min(n, begin + kRowBatch);
                    if (eval_row_major(expr, xd, k, begin, end, od + begin, stack)) continue;
                    // Some row of the batch fails: each row on its own, NaN where a guard trips.
                    for (std::size_t r = begin; r < end; ++r) {
                        auto v = eval_point(expr, std::span<const double>(xd + r * k, k), {});
                        od[r] = v ? *v : std::numeric_limits<double>::quiet_NaN();
                    }
                }
            });
        }
        return out;
    });
}

PyObject* py_render(PyObject*, PyObject* tokens) {
    return call([&]() -> Ref {
        const std::string text = render_formula(tokens_from(tokens));
        return require(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape"));
    });
}

PyMethodDef g_methods[] = {
    {"_discover", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py_discover)),
     METH_VARARGS | METH_KEYWORDS,
     "_discover(X, y, *, max_complexity, beam_width, precision_goal, use_trig, use_kiv, complexity_penalty, "
     "time_limit=None, progress=None, constants=None)\n\n"
     "Runs the search on X (n_samples, n_features) and y without the interpreter lock. Each setting not given "
     "takes its default from search_defaults (the core's own). precision_goal is relative to the root mean "
     "square of y (absolute when that is 0). progress, when given, is called as progress(level, tokens, score, "
     "rmse, r2). constants: None (the formula as it stands), \"scale\" (each candidate f scored and returned as "
     "its best least-squares map a + b*f, terms that do not change the error left out) or \"fit\" (as \"scale\", "
     "then free constants inside the formula fitted to the rows for the promising candidates). Returns None or (tokens, score, rmse, r2, stop_reason, levels, front); "
     "stop_reason 0 none, 1 requested, 2 deadline; front a tuple of (tokens, score, rmse, r2, complexity), "
     "the best formula per token count over the search, ascending, each with a strictly lower rmse than every "
     "shorter one; fitted constants are constant tokens (0, 0, value) at full precision."},
    {"_evaluate", py_evaluate, METH_VARARGS,
     "_evaluate(tokens, X)\n--\n\nValues of the formula on every row of X; NaN where a guard trips."},
    {"_render", py_render, METH_O, "_render(tokens)\n--\n\nThe formula's plain text with the variables x, y, z, ..."},
    {nullptr, nullptr, 0, nullptr},
};

// search_defaults: the settings' defaults in their public order, read from SearchConfig, so that the
// Python signatures take them from the one place they are written.
Ref search_defaults() {
    const SearchConfig d;
    return require(Py_BuildValue("{s:K,s:K,s:d,s:O,s:O,s:d}", "max_complexity",
                                 static_cast<unsigned long long>(d.max_complexity), "beam_width",
                                 static_cast<unsigned long long>(d.beam_width), "precision_goal", d.precision_goal,
                                 "use_trig", d.use_trig ? Py_True : Py_False, "use_kiv",
                                 d.use_kiv ? Py_True : Py_False, "complexity_penalty", d.complexity_penalty));
}

// ---- the operator table and the rules of the text, for the package's Python side -----------------------

const char* offer_name(Offer offer) {
    switch (offer) {
        case Offer::Never: return "never";
        case Offer::Always: return "always";
        case Offer::WithTrig: return "trig";
        case Offer::WithKiv: return "kiv";
    }
    return "never";
}

Ref text(std::string_view s) {
    return require(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict"));
}

// One dict per row of the core's table, in code order: the package derives its operator codes, arities,
// text reader and writer and its exporters from these, so an operator is described once.
Ref operator_rows() {
    Ref rows = require(PyTuple_New(static_cast<Py_ssize_t>(kOps.size())));
    for (std::size_t i = 0; i < kOps.size(); ++i) {
        const OpInfo& o = kOps[i];
        Ref name = text(o.name), prefix = text(o.prefix), infix = text(o.infix), suffix = text(o.suffix);
        Ref latex = text(o.latex), python = text(o.python);
        Ref row = require(Py_BuildValue("{s:n,s:O,s:I,s:O,s:O,s:O,s:O,s:O,s:s,s:O}", "code",
                                        static_cast<Py_ssize_t>(i), "name", name.get(), "arity", o.arity,
                                        "prefix", prefix.get(), "infix", infix.get(), "suffix", suffix.get(),
                                        "latex", latex.get(), "python", python.get(), "offer", offer_name(o.offer),
                                        "order_sensitive", o.order_sensitive ? Py_True : Py_False));
        PyTuple_SET_ITEM(rows.get(), static_cast<Py_ssize_t>(i), row.release());
    }
    return rows;
}

// The guards' constants and the text's rules, as the core states them.
Ref text_rules() {
    return require(Py_BuildValue("{s:d,s:d,s:d,s:d,s:I,s:n,s:i}", "log_floor", kiv::kLogFloor, "exp_threshold",
                                 kiv::kSearchExpThreshold, "pi", kTextPi, "e", kTextE, "var_letter_base",
                                 kVarLetterBase, "lettered_vars", static_cast<Py_ssize_t>(kLetteredVars),
                                 "text_decimals", kTextDecimals));
}

}  // namespace

int add_discover(PyObject* module) {
    PyObject* ok = call([&] {
        require_status(PyModule_AddFunctions(module, g_methods));
        Ref rows = operator_rows();
        require_status(PyModule_AddObjectRef(module, "_OPERATORS", rows.get()));
        Ref rules = text_rules();
        require_status(PyModule_AddObjectRef(module, "_TEXT_RULES", rules.get()));
        Ref defaults = search_defaults();
        require_status(PyModule_AddObjectRef(module, "search_defaults", defaults.get()));
        return Ref::steal(Py_NewRef(Py_None));
    });
    if (ok == nullptr) return -1;
    Py_DECREF(ok);
    return 0;
}
