// An application embedding Python: Py_Initialize -> import kiv_core -> calls -> Py_FinalizeEx, twice in one
// process; then, in the second interpreter, a sub-interpreter must be refused the module.
// Usage: embed_reinit MODULE_DIR (the folder holding the built kiv_core module).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <string>

namespace {

// Every round: the module is complete and its entries work, its panic type included.
constexpr const char kUse[] = R"py(
import kiv_core
assert len(kiv_core.__all__) == 23 and all(getattr(kiv_core, n) is not None for n in kiv_core.__all__)
assert kiv_core.exp_n([0.0, 1.0]) == [1.0, 2.718281828459045]
p = kiv_core.KIVPoint(0.0, 1.0)
assert p.tension() == 1.0 and repr(p.mirror_pulse()) == "KIVPoint(x=1.000000, y=1.000000)"
assert repr(kiv_core.KIVKnot(p).pulse()).startswith("KIVKnot(n=1,")
assert kiv_core.find_formula([[1.0, 2.0, 3.0]], [1.0, 2.0, 3.0]).formula == "x"
try:
    p.minkowski_delta(1, 1.0)
except TypeError as e:
    assert "PyBool" in str(e)
try:
    kiv_core.simulate_pulses_n(0.0, 1.0, 384307168202282325)
except BaseException as e:
    assert type(e).__name__ == "PanicException", repr(e)
import importlib, sys
again = importlib.import_module("kiv_core")
assert again is sys.modules["kiv_core"]
)py";

constexpr const char kRefused[] = R"py(
try:
    import kiv_core
except ImportError as e:
    assert "sub-interpreters" in str(e), str(e)
else:
    raise AssertionError("a sub-interpreter imported kiv_core")
)py";

bool run(const char* what, const char* code) {
    if (PyRun_SimpleString(code) == 0) return true;
    std::fprintf(stderr, "failed: %s\n", what);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE_DIR\n", argv[0]);
        return 2;
    }
    const std::string path = std::string("import sys\nsys.path.insert(0, r'''") + argv[1] + "''')\n";
    for (int round = 1; round <= 2; ++round) {
        Py_Initialize();
        bool ok = run("module path", path.c_str()) && run("use of the module", kUse);
        if (ok && round == 2) {
            PyThreadState* main_state = PyThreadState_Get();
            PyThreadState* sub = Py_NewInterpreter();
            if (sub == nullptr) {
                std::fprintf(stderr, "failed: a sub-interpreter could not be created\n");
                ok = false;
            } else {
                ok = run("module path", path.c_str()) && run("refusal in a sub-interpreter", kRefused);
                Py_EndInterpreter(sub);
                PyThreadState_Swap(main_state);
                ok = ok && run("use after the sub-interpreter", kUse);
            }
        }
        if (Py_FinalizeEx() != 0) {
            std::fprintf(stderr, "failed: Py_FinalizeEx in round %d\n", round);
            ok = false;
        }
        if (!ok) return 1;
        std::printf("round %d: ok\n", round);
    }
    return 0;
}
