// Formula discovery for the kiv package. The search runs on a thread of its own while the calling thread
// gives up the interpreter lock and wakes every few tens of milliseconds to run the signal handlers and
// hand progress reports to Python; an exception there (KeyboardInterrupt, or one from the progress
// callback) stops the search, which ends within a few milliseconds of work and frees everything it held.
// Evaluation runs the core's guarded operators over row batches on the worker pool, also without the lock.
#include "discover.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL kiv_native_ARRAY_API
#define NO_IMPORT_ARRAY
#include <numpy/arrayobject.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
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
using kivpy::raise;

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

// ---- the search ---------------------------------------------------------------------------------------

struct Report {
    std::uint64_t level;
    Expr tokens;
    double score;
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

PyObject* py_discover(PyObject*, PyObject* args) {
    return call([&]() -> Ref {
        PyObject *x_obj, *y_obj, *time_limit, *progress;
        unsigned long long max_complexity, beam_width;
        double precision_goal, complexity_penalty;
        int use_trig, use_kiv;
        if (!PyArg_ParseTuple(args, "OOKKddppOO:_discover", &x_obj, &y_obj, &max_complexity, &beam_width,
                              &precision_goal, &complexity_penalty, &use_trig, &use_kiv, &time_limit, &progress)) {
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

        SearchConfig config;
        config.max_complexity = max_complexity;
        config.beam_width = beam_width;
        config.precision_goal = precision_goal;
        config.complexity_penalty = complexity_penalty;
        config.use_trig = use_trig != 0;
        config.use_kiv = use_kiv != 0;

        const auto n = static_cast<std::size_t>(rows);
        const auto k = static_cast<std::size_t>(features);
        kiv::require_memory(n * k + n, sizeof(double));
        Columns columns(k, std::vector<double>(n));
        std::vector<double> target(n);
        {
            const double* xd = static_cast<const double*>(PyArray_DATA(as_array(x)));
            const double* yd = static_cast<const double*>(PyArray_DATA(as_array(y)));
            Unlocked unlocked;
            for (std::size_t j = 0; j < k; ++j) {
                double* col = columns[j].data();
                for (std::size_t r = 0; r < n; ++r) col[r] = xd[r * k + j];
            }
            std::copy_n(yd, n, target.data());
        }
        x = Ref();
        y = Ref();

        // Declared before the thread, the options outlive it: it is joined (or left, in a forked child) first.
        SearchOptions options;
        SearchThread thread;
        Mailbox& box = thread.box();
        options.stop = &box.stop;
        options.deadline = deadline;
        if (progress != Py_None) {
            options.progress = [&box](std::uint64_t level, const FitResult& best) {
                Report r{level, best.tokens, best.score};
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
                Ref ret = require(PyObject_CallFunction(progress, "KOd", static_cast<unsigned long long>(r.level),
                                                        tokens.get(), r.score));
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
        // Release the search's data before building the result.
        columns = Columns();
        target = std::vector<double>();
        std::optional<FitResult> best = std::move(box.outcome.best);
        if (!best) return Ref::steal(Py_NewRef(Py_None));
        Ref tokens = tokens_to(best->tokens);
        return require(Py_BuildValue("(OdiK)", tokens.get(), best->score, static_cast<int>(box.outcome.stopped),
                                     static_cast<unsigned long long>(box.outcome.levels)));
    });
}

// ---- evaluation ---------------------------------------------------------------------------------------

// Values of expr on rows [begin, end) (at most kRowBatch) of the C-contiguous (rows, k) array x, by the
// search's own column-wise pass. False when any row of the batch fails.
bool eval_batch(const Expr& expr, const double* x, std::size_t k, std::size_t begin, std::size_t end, double* out,
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
                    if (eval_batch(expr, xd, k, begin, end, od + begin, stack)) continue;
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
    {"_discover", py_discover, METH_VARARGS,
     "_discover(X, y, max_complexity, beam_width, precision_goal, complexity_penalty, use_trig, use_kiv, "
     "time_limit, progress)\n--\n\nRuns the search on X (n_samples, n_features) and y without the interpreter "
     "lock. Returns None or (tokens, error, stop_reason, levels); stop_reason 0 none, 1 requested, 2 deadline."},
    {"_evaluate", py_evaluate, METH_VARARGS,
     "_evaluate(tokens, X)\n--\n\nValues of the formula on every row of X; NaN where a guard trips."},
    {"_render", py_render, METH_O, "_render(tokens)\n--\n\nThe formula's plain text with the variables x, y, z, ..."},
    {nullptr, nullptr, 0, nullptr},
};

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
        return Ref::steal(Py_NewRef(Py_None));
    });
    if (ok == nullptr) return -1;
    Py_DECREF(ok);
    return 0;
}
