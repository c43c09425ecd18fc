// Formula discovery for the kiv package. The search runs on a thread of its own while the calling thread
// gives up the interpreter lock and wakes every few tens of milliseconds to run the signal handlers and
// hand progress reports to Python; an exception there (KeyboardInterrupt, or one from the progress
// callback) stops the search, which ends within a few milliseconds of work and frees everything it held.
// Evaluation runs the core's guarded operators over row batches on the worker pool, also without the lock.
#include "discover.hpp"
#include "numpy_api.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <string>
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
// value, (2, i, 0.0) variable i, (3, code, 0.0) an operator. The package's operator codes are its own and
// stay fixed (pickled formulas keep them): unary 0 to 7, then binary 8 to 12, in this order.
constexpr OpKind kPackageOps[] = {OpKind::Neg, OpKind::Recip, OpKind::Exp, OpKind::Ln,  OpKind::Sqrt,
                                  OpKind::Sin, OpKind::Cos,   OpKind::Abs, OpKind::Kiv, OpKind::Add,
                                  OpKind::Sub, OpKind::Mul,   OpKind::Div};
constexpr std::size_t kPackageOpCount = sizeof(kPackageOps) / sizeof(kPackageOps[0]);

std::size_t package_code(OpKind op) {
    for (std::size_t i = 0; i < kPackageOpCount; ++i) {
        if (kPackageOps[i] == op) return i;
    }
    throw kiv::InternalFailure("an operator without a package code");
}

Expr tokens_from(PyObject* obj) {
    Ref seq = require(PySequence_Fast(obj, "tokens must be a sequence of (kind, index, value) triples"));
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
                if (index >= kPackageOpCount) {
                    raise(PyExc_ValueError, "tokens: unknown operator code " + std::to_string(index));
                }
                expr.push_back(Token::oper(kPackageOps[index]));
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
            case TokenKind::Op: kind = 3; index = package_code(t.op); break;
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

// Joins the search thread on every way out; a way out with the search still running asks it to stop.
class SearchThread {
public:
    explicit SearchThread(Mailbox& box) : box_(box) {}
    template <class F>
    void start(F&& f) {
        thread_ = std::thread(std::forward<F>(f));
    }
    ~SearchThread() { join(); }
    void join() {
        if (!thread_.joinable()) return;
        box_.stop.store(true, std::memory_order_relaxed);
        Unlocked unlocked;
        thread_.join();
    }
    void join_finished() {
        if (!thread_.joinable()) return;
        Unlocked unlocked;
        thread_.join();
    }

private:
    Mailbox& box_;
    std::thread thread_;
};

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
            // Beyond a few centuries a deadline is no deadline (and the clock's range is not exceeded).
            if (seconds < 1e10) {
                deadline = std::chrono::steady_clock::now() +
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(std::max(seconds, 0.0)));
            }
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
        kiv::check_memory(n * k + n, sizeof(double));
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

        Mailbox box;
        SearchOptions options;
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

        SearchThread thread(box);
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
    {"_discover", py_discover, METH_VARARGS,
     "_discover(X, y, max_complexity, beam_width, precision_goal, complexity_penalty, use_trig, use_kiv, "
     "time_limit, progress)\n--\n\nRuns the search on X (n_samples, n_features) and y without the interpreter "
     "lock. Returns None or (tokens, error, stop_reason, levels); stop_reason 0 none, 1 requested, 2 deadline."},
    {"_evaluate", py_evaluate, METH_VARARGS,
     "_evaluate(tokens, X)\n--\n\nValues of the formula on every row of X; NaN where a guard trips."},
    {"_render", py_render, METH_O, "_render(tokens)\n--\n\nThe formula's plain text with the variables x, y, z, ..."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_discover(PyObject* module) { return PyModule_AddFunctions(module, g_methods); }
