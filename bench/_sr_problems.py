"""The problem tables of the symbolic-regression benchmark: public sets and textbook laws, with their sampling.

Each problem is a target formula over named variables and a sampling box. Sets:

- nguyen (12), keijzer (15), korns (15), vladislavleva (8): the public sets, written from their published
  definitions (Uy et al. 2011; Keijzer 2003; Korns 2011; Vladislavleva, Smits and den Hertog 2009, as
  collected by McDermott et al., "Genetic programming needs better benchmarks", 2012). The box of each
  variable is its published training range. Deliberate departures, the same for every system measured:
  every problem draws 500 training rows uniformly from its box (the published sets use 20 to 10,000 rows,
  some on grids), and the fresh test rows come from the same box (some published tests extrapolate).
  Keijzer-6 (the harmonic sum) draws integers, since it is defined only there. Korns' ln and sqrt take
  |x| (his ranges include negative numbers; the protected forms are the usual reading).
- laws (34): textbook physics laws with SI constants and realistic ranges, written for this benchmark.
- laws-check (17): a second, different table of laws for an independent check (run it with other draws,
  --draw 1), so that work measured on `laws` is not tuned to it.

Rows are drawn from a generator seeded by the problem's name, the draw number and the purpose (train, test,
noise), so a table is the same on every machine and every run. Noise is Gaussian with standard deviation
level × rms(y) of the noise-free training target; the same standard normal vector serves every level.
"""

import dataclasses
import math
import zlib

import numpy as np

# SI constants (CODATA values, rounded as textbooks print them).
G = 6.674e-11          # gravitational constant, m^3 kg^-1 s^-2
EPS0 = 8.854e-12       # vacuum permittivity, F/m
MU0 = 1.25663706e-6    # vacuum permeability, N/A^2
R_GAS = 8.314          # molar gas constant, J mol^-1 K^-1
KB = 1.380649e-23      # Boltzmann constant, J/K
H = 6.62607015e-34     # Planck constant, J s
C = 2.99792458e8       # speed of light, m/s
SIGMA = 5.670374e-8    # Stefan-Boltzmann constant, W m^-2 K^-4
QE = 1.602176634e-19   # elementary charge, C
GRAV = 9.81            # standard gravity, m/s^2
M_EARTH = 5.972e24     # kg
M_SUN = 1.989e30       # kg
PI = math.pi


@dataclasses.dataclass(frozen=True)
class Var:
    name: str
    lo: float
    hi: float
    integer: bool = False


@dataclasses.dataclass(frozen=True)
class Problem:
    set: str
    name: str
    text: str            # the target as a person writes it
    variables: tuple     # Var, in column order
    fn: object           # numpy function of the columns, in order

    @property
    def n_features(self):
        return len(self.variables)

    @property
    def feature_names(self):
        return tuple(v.name for v in self.variables)

    def sample(self, n, draw, purpose):
        rng = _rng(self, draw, purpose)
        cols = []
        for v in self.variables:
            if v.integer:
                cols.append(rng.integers(int(v.lo), int(v.hi) + 1, n).astype(np.float64))
            else:
                cols.append(rng.uniform(v.lo, v.hi, n))
        X = np.column_stack(cols)
        with np.errstate(all="ignore"):
            y = np.asarray(self.fn(*cols), dtype=np.float64)
        return X, y

    def data(self, n_train, n_test, draw, noise):
        """Training rows with noise of `noise` × rms(y), and noise-free test rows drawn afresh."""
        X, y = self.sample(n_train, draw, "train")
        if noise:
            z = _rng(self, draw, "noise").standard_normal(n_train)
            y = y + noise * math.sqrt(float(np.mean(y * y))) * z
        Xt, yt = self.sample(n_test, draw, "test")
        return X, y, Xt, yt


def _rng(problem, draw, purpose):
    return np.random.default_rng(zlib.crc32(f"{problem.set}/{problem.name}/{draw}/{purpose}".encode()))


def _p(set_, name, text, variables, fn):
    return Problem(set_, name, text, tuple(Var(*v) for v in variables), fn)


sin, cos, exp, log, sqrt, tan, tanh = np.sin, np.cos, np.exp, np.log, np.sqrt, np.tan, np.tanh
U1 = (-1.0, 1.0)


# ---- public sets --------------------------------------------------------------------------------------

def _nguyen():
    s = "nguyen"
    x = ("x",) + U1
    xy = [("x",) + U1, ("y",) + U1]
    return [
        _p(s, "nguyen-1", "x^3 + x^2 + x", [x], lambda x: x**3 + x**2 + x),
        _p(s, "nguyen-2", "x^4 + x^3 + x^2 + x", [x], lambda x: x**4 + x**3 + x**2 + x),
        _p(s, "nguyen-3", "x^5 + x^4 + x^3 + x^2 + x", [x], lambda x: x**5 + x**4 + x**3 + x**2 + x),
        _p(s, "nguyen-4", "x^6 + x^5 + x^4 + x^3 + x^2 + x", [x],
           lambda x: x**6 + x**5 + x**4 + x**3 + x**2 + x),
        _p(s, "nguyen-5", "sin(x^2) cos(x) - 1", [x], lambda x: sin(x**2) * cos(x) - 1),
        _p(s, "nguyen-6", "sin(x) + sin(x + x^2)", [x], lambda x: sin(x) + sin(x + x**2)),
        _p(s, "nguyen-7", "ln(x + 1) + ln(x^2 + 1)", [("x", 0.0, 2.0)], lambda x: log(x + 1) + log(x**2 + 1)),
        _p(s, "nguyen-8", "sqrt(x)", [("x", 0.0, 4.0)], lambda x: sqrt(x)),
        _p(s, "nguyen-9", "sin(x) + sin(y^2)", xy, lambda x, y: sin(x) + sin(y**2)),
        _p(s, "nguyen-10", "2 sin(x) cos(y)", xy, lambda x, y: 2 * sin(x) * cos(y)),
        _p(s, "nguyen-11", "x^y", [("x", 0.0, 1.0), ("y", 0.0, 1.0)], lambda x, y: x**y),
        _p(s, "nguyen-12", "x^4 - x^3 + y^2/2 - y", xy, lambda x, y: x**4 - x**3 + y**2 / 2 - y),
    ]


def _keijzer():
    s = "keijzer"
    x3 = [("x", -3.0, 3.0), ("y", -3.0, 3.0)]

    def k4(x):
        return x**3 * exp(-x) * cos(x) * sin(x) * (sin(x)**2 * cos(x) - 1)

    def harmonic(x):
        h = np.cumsum(1.0 / np.arange(1, 51))
        return h[x.astype(np.int64) - 1]

    return [
        _p(s, "keijzer-1", "0.3 x sin(2 pi x)", [("x", -1.0, 1.0)], lambda x: 0.3 * x * sin(2 * PI * x)),
        _p(s, "keijzer-2", "0.3 x sin(2 pi x)", [("x", -2.0, 2.0)], lambda x: 0.3 * x * sin(2 * PI * x)),
        _p(s, "keijzer-3", "0.3 x sin(2 pi x)", [("x", -3.0, 3.0)], lambda x: 0.3 * x * sin(2 * PI * x)),
        _p(s, "keijzer-4", "x^3 e^-x cos(x) sin(x) (sin(x)^2 cos(x) - 1)", [("x", 0.0, 10.0)], k4),
        _p(s, "keijzer-5", "30 x z / ((x - 10) y^2)", [("x", -1.0, 1.0), ("y", 1.0, 2.0), ("z", -1.0, 1.0)],
           lambda x, y, z: 30 * x * z / ((x - 10) * y**2)),
        _p(s, "keijzer-6", "sum_{i=1..x} 1/i (x integer)", [("x", 1, 50, True)], harmonic),
        _p(s, "keijzer-7", "ln(x)", [("x", 1.0, 100.0)], lambda x: log(x)),
        _p(s, "keijzer-8", "sqrt(x)", [("x", 0.0, 100.0)], lambda x: sqrt(x)),
        _p(s, "keijzer-9", "arcsinh(x) = ln(x + sqrt(x^2 + 1))", [("x", 0.0, 100.0)], lambda x: np.arcsinh(x)),
        _p(s, "keijzer-10", "x^y", [("x", 0.0, 1.0), ("y", 0.0, 1.0)], lambda x, y: x**y),
        _p(s, "keijzer-11", "x y + sin((x - 1)(y - 1))", x3, lambda x, y: x * y + sin((x - 1) * (y - 1))),
        _p(s, "keijzer-12", "x^4 - x^3 + y^2/2 - y", x3, lambda x, y: x**4 - x**3 + y**2 / 2 - y),
        _p(s, "keijzer-13", "6 sin(x) cos(y)", x3, lambda x, y: 6 * sin(x) * cos(y)),
        _p(s, "keijzer-14", "8 / (2 + x^2 + y^2)", x3, lambda x, y: 8 / (2 + x**2 + y**2)),
        _p(s, "keijzer-15", "x^3/5 + y^3/2 - y - x", x3, lambda x, y: x**3 / 5 + y**3 / 2 - y - x),
    ]


def _korns():
    s = "korns"
    v5 = [(f"x{i}", -50.0, 50.0) for i in range(5)]
    a = np.abs
    return [
        _p(s, "korns-1", "1.57 + 24.3 x3", v5, lambda x0, x1, x2, x3, x4: 1.57 + 24.3 * x3),
        _p(s, "korns-2", "0.23 + 14.2 (x3 + x1) / (3 x4)", v5,
           lambda x0, x1, x2, x3, x4: 0.23 + 14.2 * (x3 + x1) / (3 * x4)),
        _p(s, "korns-3", "-5.41 + 4.9 (x3 - x0 + x1/x4) / (3 x4)", v5,
           lambda x0, x1, x2, x3, x4: -5.41 + 4.9 * (x3 - x0 + x1 / x4) / (3 * x4)),
        _p(s, "korns-4", "-2.3 + 0.13 sin(x2)", v5, lambda x0, x1, x2, x3, x4: -2.3 + 0.13 * sin(x2)),
        _p(s, "korns-5", "3 + 2.13 ln|x4|", v5, lambda x0, x1, x2, x3, x4: 3 + 2.13 * log(a(x4))),
        _p(s, "korns-6", "1.3 + 0.13 sqrt|x0|", v5, lambda x0, x1, x2, x3, x4: 1.3 + 0.13 * sqrt(a(x0))),
        _p(s, "korns-7", "213.80940889 (1 - exp(-0.54723748542 x0))", v5,
           lambda x0, x1, x2, x3, x4: 213.80940889 * (1 - exp(-0.54723748542 * x0))),
        _p(s, "korns-8", "6.87 + 11 sqrt|7.23 x0 x3 x4|", v5,
           lambda x0, x1, x2, x3, x4: 6.87 + 11 * sqrt(a(7.23 * x0 * x3 * x4))),
        _p(s, "korns-9", "sqrt|x0| / ln|x1| * exp(x2) / x3^2", v5,
           lambda x0, x1, x2, x3, x4: sqrt(a(x0)) / log(a(x1)) * exp(x2) / x3**2),
        _p(s, "korns-10", "0.81 + 24.3 (2 x1 + 3 x2^2) / (4 x3^3 + 5 x4^4)", v5,
           lambda x0, x1, x2, x3, x4: 0.81 + 24.3 * (2 * x1 + 3 * x2**2) / (4 * x3**3 + 5 * x4**4)),
        _p(s, "korns-11", "6.87 + 11 cos(7.23 x0^3)", v5,
           lambda x0, x1, x2, x3, x4: 6.87 + 11 * cos(7.23 * x0**3)),
        _p(s, "korns-12", "2 - 2.1 cos(9.8 x0) sin(1.3 x4)", v5,
           lambda x0, x1, x2, x3, x4: 2 - 2.1 * cos(9.8 * x0) * sin(1.3 * x4)),
        _p(s, "korns-13", "32 - 3 tan(x0)/tan(x1) * tan(x2)/tan(x3)", v5,
           lambda x0, x1, x2, x3, x4: 32 - 3 * (tan(x0) / tan(x1)) * (tan(x2) / tan(x3))),
        _p(s, "korns-14", "22 - 4.2 (cos(x0) - tan(x1)) tanh(x2)/sin(x3)", v5,
           lambda x0, x1, x2, x3, x4: 22 - 4.2 * (cos(x0) - tan(x1)) * (tanh(x2) / sin(x3))),
        _p(s, "korns-15", "12 - 6 tan(x0)/exp(x1) (ln|x2| - tan(x3))", v5,
           lambda x0, x1, x2, x3, x4: 12 - 6 * (tan(x0) / exp(x1)) * (log(a(x2)) - tan(x3))),
    ]


def _vladislavleva():
    s = "vladislavleva"

    def salustowicz(x):
        return exp(-x) * x**3 * cos(x) * sin(x) * (cos(x) * sin(x)**2 - 1)

    ripple = [("x", 0.05, 6.05), ("y", 0.05, 6.05)]
    return [
        _p(s, "vladislavleva-1", "exp(-(x - 1)^2) / (1.2 + (y - 2.5)^2)", [("x", 0.3, 4.0), ("y", 0.3, 4.0)],
           lambda x, y: exp(-(x - 1)**2) / (1.2 + (y - 2.5)**2)),
        _p(s, "vladislavleva-2", "exp(-x) x^3 cos(x) sin(x) (cos(x) sin(x)^2 - 1)", [("x", 0.05, 10.0)],
           salustowicz),
        _p(s, "vladislavleva-3", "vladislavleva-2(x) * (y - 5)", [("x", 0.05, 10.0), ("y", 0.05, 10.05)],
           lambda x, y: salustowicz(x) * (y - 5)),
        _p(s, "vladislavleva-4", "10 / (5 + sum_i (x_i - 3)^2), 5 variables", [(f"x{i}", 0.05, 6.05) for i in range(5)],
           lambda *xs: 10 / (5 + sum((v - 3)**2 for v in xs))),
        _p(s, "vladislavleva-5", "30 (x - 1)(z - 1) / (y^2 (x - 10))",
           [("x", 0.05, 2.0), ("y", 1.0, 2.0), ("z", 0.05, 2.0)],
           lambda x, y, z: 30 * (x - 1) * (z - 1) / (y**2 * (x - 10))),
        _p(s, "vladislavleva-6", "6 sin(x) cos(y)", [("x", 0.1, 5.9), ("y", 0.1, 5.9)],
           lambda x, y: 6 * sin(x) * cos(y)),
        _p(s, "vladislavleva-7", "(x - 3)(y - 3) + 2 sin((x - 4)(y - 4))", ripple,
           lambda x, y: (x - 3) * (y - 3) + 2 * sin((x - 4) * (y - 4))),
        _p(s, "vladislavleva-8", "((x - 3)^4 + (y - 3)^3 - (y - 3)) / ((y - 2)^4 + 10)", ripple,
           lambda x, y: ((x - 3)**4 + (y - 3)**3 - (y - 3)) / ((y - 2)**4 + 10)),
    ]


# ---- textbook laws ----------------------------------------------------------------------------------

def _laws():
    s = "laws"
    return [
        _p(s, "spring_energy", "E = k x^2 / 2, k = 250 N/m", [("x", 0.01, 0.2)], lambda x: 250 * x**2 / 2),
        _p(s, "linear", "y = 3.7 x + 1.2", [("x", -5.0, 5.0)], lambda x: 3.7 * x + 1.2),
        _p(s, "coulomb", "F = q1 q2 / (4 pi eps0 r^2)", [("q1", 1e-9, 1e-6), ("q2", 1e-9, 1e-6), ("r", 0.01, 1.0)],
           lambda q1, q2, r: q1 * q2 / (4 * PI * EPS0 * r**2)),
        _p(s, "ideal_gas", "P = n R T / V", [("n", 0.1, 10.0), ("T", 200.0, 600.0), ("V", 0.001, 0.1)],
           lambda n, T, V: n * R_GAS * T / V),
        _p(s, "pendulum_period", "T = 2 pi sqrt(L / g)", [("L", 0.1, 5.0)], lambda L: 2 * PI * sqrt(L / GRAV)),
        _p(s, "arrhenius", "k = A exp(-Ea / (R T)), A = 1.2e7 /s, Ea = 50 kJ/mol", [("T", 250.0, 600.0)],
           lambda T: 1.2e7 * exp(-5e4 / (R_GAS * T))),
        _p(s, "kinetic_energy", "E = m v^2 / 2", [("m", 0.1, 100.0), ("v", 0.0, 30.0)], lambda m, v: m * v**2 / 2),
        _p(s, "gravitation", "F = G M m / r^2",
           [("M", 1e22, 6e24), ("m", 1.0, 1000.0), ("r", 6.4e6, 4e8)], lambda M, m, r: G * M * m / r**2),
        _p(s, "free_fall", "d = g t^2 / 2", [("t", 0.0, 10.0)], lambda t: GRAV * t**2 / 2),
        _p(s, "projectile_range", "R = v^2 sin(2 theta) / g", [("v", 5.0, 50.0), ("theta", 0.1, 1.4)],
           lambda v, th: v**2 * sin(2 * th) / GRAV),
        _p(s, "joule_power", "P = V^2 / R", [("V", 1.0, 240.0), ("R", 1.0, 1000.0)], lambda V, R: V**2 / R),
        _p(s, "capacitor_energy", "E = C V^2 / 2", [("C", 1e-6, 1e-3), ("V", 1.0, 100.0)],
           lambda C_, V: C_ * V**2 / 2),
        _p(s, "rc_discharge", "V = 5 V exp(-t / tau)", [("t", 0.0, 0.1), ("tau", 0.005, 0.05)],
           lambda t, tau: 5 * exp(-t / tau)),
        _p(s, "carbon14_decay", "N = 1000 exp(-ln 2 t / 5730 y)", [("t", 0.0, 20000.0)],
           lambda t: 1000 * exp(-math.log(2) * t / 5730)),
        _p(s, "doppler", "f = f0 c / (c - v), c = 343 m/s", [("f0", 100.0, 1000.0), ("v", 0.0, 100.0)],
           lambda f0, v: f0 * 343 / (343 - v)),
        _p(s, "lorentz_factor", "gamma = 1 / sqrt(1 - v^2 / c^2)", [("v", 0.0, 2.5e8)],
           lambda v: 1 / sqrt(1 - v**2 / C**2)),
        _p(s, "stefan_boltzmann", "P = sigma A T^4", [("A", 0.1, 2.0), ("T", 250.0, 1500.0)],
           lambda A, T: SIGMA * A * T**4),
        _p(s, "wien", "lambda_max = b / T, b = 2.898e-3 m K", [("T", 300.0, 10000.0)], lambda T: 2.898e-3 / T),
        _p(s, "escape_velocity", "v = sqrt(2 G M / r)", [("M", 1e23, 2e27), ("r", 1e6, 7e7)],
           lambda M, r: sqrt(2 * G * M / r)),
        _p(s, "kepler_period", "T = 2 pi sqrt(a^3 / (G M_sun))", [("a", 5e10, 8e11)],
           lambda a: 2 * PI * sqrt(a**3 / (G * M_SUN))),
        _p(s, "hydrostatic", "P = P0 + rho g h, P0 = 101325 Pa, rho = 1000 kg/m^3", [("h", 0.0, 100.0)],
           lambda h: 101325 + 1000 * GRAV * h),
        _p(s, "thin_lens", "d_i = f d_o / (d_o - f), f = 0.05 m", [("d_o", 0.06, 2.0)],
           lambda do: 0.05 * do / (do - 0.05)),
        _p(s, "parallel_resistors", "R = R1 R2 / (R1 + R2)", [("R1", 10.0, 1000.0), ("R2", 10.0, 1000.0)],
           lambda R1, R2: R1 * R2 / (R1 + R2)),
        _p(s, "wire_field", "B = mu0 I / (2 pi r)", [("I", 0.1, 100.0), ("r", 0.001, 0.5)],
           lambda I, r: MU0 * I / (2 * PI * r)),
        _p(s, "centripetal_force", "F = m v^2 / r", [("m", 0.1, 10.0), ("v", 1.0, 30.0), ("r", 0.5, 50.0)],
           lambda m, v, r: m * v**2 / r),
        _p(s, "damped_oscillator", "x = 0.05 exp(-0.3 t) cos(6.28 t)", [("t", 0.0, 10.0)],
           lambda t: 0.05 * exp(-0.3 * t) * cos(6.28 * t)),
        _p(s, "heat_conduction", "P = k A dT / d, k = 205 W/(m K)",
           [("A", 0.001, 0.1), ("dT", 1.0, 100.0), ("d", 0.001, 0.1)], lambda A, dT, d: 205 * A * dT / d),
        _p(s, "photon_energy", "E = h c / lambda (J)", [("lam", 1e-7, 1e-6)], lambda lam: H * C / lam),
        _p(s, "boltzmann_factor", "n1/n0 = exp(-dE / (kB T)), dE = 0.1 eV", [("T", 100.0, 1000.0)],
           lambda T: exp(-0.1 * QE / (KB * T))),
        _p(s, "sound_speed", "v = sqrt(gamma R T / M), gamma = 1.4, M = 0.029 kg/mol", [("T", 200.0, 400.0)],
           lambda T: sqrt(1.4 * R_GAS * T / 0.029)),
        _p(s, "drag_force", "F = rho Cd A v^2 / 2, rho = 1.225, Cd = 0.47", [("A", 0.01, 1.0), ("v", 0.0, 50.0)],
           lambda A, v: 0.5 * 1.225 * 0.47 * A * v**2),
        _p(s, "barometric", "P = 101325 exp(-M g h / (R T)), T = 288 K", [("h", 0.0, 10000.0)],
           lambda h: 101325 * exp(-0.0289644 * GRAV * h / (R_GAS * 288))),
        _p(s, "adiabatic", "P = 1e5 Pa (V0 / V)^1.4, V0 = 1 L", [("V", 5e-4, 2e-3)],
           lambda V: 1e5 * (1e-3 / V)**1.4),
        _p(s, "newton_cooling", "T = 20 + 80 exp(-0.05 t)", [("t", 0.0, 100.0)], lambda t: 20 + 80 * exp(-0.05 * t)),
    ]


def _laws_check():
    s = "laws-check"
    return [
        _p(s, "michaelis_menten", "v = 2.5 S / (0.8 + S)", [("S", 0.0, 10.0)], lambda S: 2.5 * S / (0.8 + S)),
        _p(s, "poiseuille", "Q = pi r^4 dP / (8 mu L), mu = 1e-3 Pa s, L = 1 m",
           [("r", 1e-3, 1e-2), ("dP", 100.0, 1e4)], lambda r, dP: PI * r**4 * dP / (8 * 1e-3 * 1.0)),
        _p(s, "shockley_diode", "I = Is (exp(V / VT) - 1), Is = 1e-12 A, VT = 25.85 mV", [("V", 0.0, 0.7)],
           lambda V: 1e-12 * (exp(V / 0.02585) - 1)),
        _p(s, "logistic_growth", "N = 1000 / (1 + 9 exp(-0.3 t))", [("t", 0.0, 40.0)],
           lambda t: 1000 / (1 + 9 * exp(-0.3 * t))),
        _p(s, "spring_period", "T = 2 pi sqrt(m / k)", [("m", 0.1, 5.0), ("k", 10.0, 500.0)],
           lambda m, k: 2 * PI * sqrt(m / k)),
        _p(s, "torricelli", "v = sqrt(2 g h)", [("h", 0.1, 10.0)], lambda h: sqrt(2 * GRAV * h)),
        _p(s, "inverse_square", "I = P / (4 pi r^2)", [("P", 1.0, 100.0), ("r", 0.5, 10.0)],
           lambda P, r: P / (4 * PI * r**2)),
        _p(s, "planck", "B = 2 h c^2 / lambda^5 / (exp(h c / (lambda kB T)) - 1)",
           [("lam", 2e-7, 3e-6), ("T", 3000.0, 7000.0)],
           lambda lam, T: 2 * H * C**2 / lam**5 / (exp(H * C / (lam * KB * T)) - 1)),
        _p(s, "bohr_levels", "E = -13.6057 eV / n^2", [("n", 1.0, 6.0)], lambda n: -13.6057 / n**2),
        _p(s, "point_potential", "V = q / (4 pi eps0 r)", [("q", 1e-9, 1e-6), ("r", 0.01, 1.0)],
           lambda q, r: q / (4 * PI * EPS0 * r)),
        _p(s, "orbital_speed", "v = sqrt(G M_earth / r)", [("r", 6.6e6, 4.2e7)], lambda r: sqrt(G * M_EARTH / r)),
        _p(s, "sphere_rotation", "E = I w^2 / 2, I = 2 m r^2 / 5",
           [("m", 0.1, 10.0), ("r", 0.05, 0.5), ("w", 1.0, 100.0)], lambda m, r, w: 0.2 * m * r**2 * w**2),
        _p(s, "rc_charging", "V = 12 V (1 - exp(-t / tau))", [("t", 0.0, 0.2), ("tau", 0.01, 0.1)],
           lambda t, tau: 12 * (1 - exp(-t / tau))),
        _p(s, "mean_speed", "v = sqrt(8 R T / (pi M))", [("T", 100.0, 1000.0), ("M", 0.002, 0.2)],
           lambda T, M: sqrt(8 * R_GAS * T / (PI * M))),
        _p(s, "relativistic_momentum", "p = m v / sqrt(1 - v^2/c^2), m = proton mass", [("v", 1e7, 2.9e8)],
           lambda v: 1.67262192e-27 * v / sqrt(1 - v**2 / C**2)),
        _p(s, "normal_density", "p = exp(-(x - 1.5)^2 / (2 0.7^2)) / (0.7 sqrt(2 pi))", [("x", -1.0, 4.0)],
           lambda x: exp(-(x - 1.5)**2 / (2 * 0.7**2)) / (0.7 * sqrt(2 * PI))),
        _p(s, "photoelectric", "K = 1239.84 eV nm / lambda - 2.28 eV", [("lam", 200.0, 500.0)],
           lambda lam: 1239.84 / lam - 2.28),
    ]


SETS = {
    "nguyen": _nguyen(),
    "keijzer": _keijzer(),
    "korns": _korns(),
    "vladislavleva": _vladislavleva(),
    "laws": _laws(),
    "laws-check": _laws_check(),
}
PUBLIC = ("nguyen", "keijzer", "korns", "vladislavleva")
ALL = tuple(p for ps in SETS.values() for p in ps)


def problems(sets=None, names=None):
    """The problems of the given sets (all when None), narrowed to names (exact, or a shell-style pattern)."""
    import fnmatch

    chosen = [p for s in (sets or SETS) for p in SETS[s]]
    if names:
        chosen = [p for p in chosen if any(fnmatch.fnmatchcase(p.name, n) for n in names)]
    return chosen
