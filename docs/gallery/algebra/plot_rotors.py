"""
Rotations with rotors in the algebra of 3-D space
=================================================

In the geometric algebra of space (signature ``[1, 1, 1]``, eight coefficients: the scalar, three vectors,
three bivectors and the pseudoscalar) a rotation by the angle θ about the unit axis n is the *rotor*
``R = cos(θ/2) − sin(θ/2) B``, with ``B = I n`` the bivector of the plane the rotation turns, and it acts on
a vector ``v`` by the sandwich ``R v R̃``. :func:`kiv.geometric_product` computes both products for every
rotor and every point at once by broadcasting, and the result agrees with the rotation matrix.
"""

import matplotlib.pyplot as plt
import numpy as np

import kiv

SPACE = [1, 1, 1]
# Blade k holds the basis vectors whose bits are set in k.
SCALAR, E0, E1, E01, E2, E02, E12 = 0, 1, 2, 3, 4, 5, 6


def vectors(points):
    """Points (n, 3) as multivectors (n, 8)."""
    mv = np.zeros((len(points), 8))
    mv[:, [E0, E1, E2]] = points
    return mv


def rotors(axis, angles):
    """One rotor per angle about the unit axis: cos(θ/2) - sin(θ/2) (I axis)."""
    n = np.asarray(axis, float) / np.linalg.norm(axis)
    r = np.zeros((len(angles), 8))
    r[:, SCALAR] = np.cos(angles / 2)
    s = np.sin(angles / 2)
    # I e0 = e12, I e1 = -e02, I e2 = e01
    r[:, E12], r[:, E02], r[:, E01] = -s * n[0], s * n[1], -s * n[2]
    return r


def reverse(mv):
    """The reverse: bivectors and the pseudoscalar change sign."""
    out = mv.copy()
    out[..., [E01, E02, E12, 7]] *= -1
    return out


# An arrow in the x-y plane, turned about a tilted axis in twelve steps.
arrow = np.array([[0, 0, 0], [2, 0, 0], [1.6, 0.3, 0], [2, 0, 0], [1.6, -0.3, 0]], float)
axis = np.array([0.3, -0.4, 1.0])
angles = np.linspace(0, 2 * np.pi, 12, endpoint=False)
R = rotors(axis, angles)[:, None, :]                    # (12, 1, 8): broadcasts against the points
v = vectors(arrow)[None, :, :]                          # (1, 5, 8)
turned = kiv.geometric_product(kiv.geometric_product(R, v, SPACE), reverse(R), SPACE)
points = turned[..., [E0, E1, E2]]                      # (12, 5, 3)
print("largest non-vector part:", np.abs(turned[..., [SCALAR, E01, E02, E12, 7]]).max())

# %%
# The same rotations by Rodrigues' matrix.

n = axis / np.linalg.norm(axis)
K = np.array([[0, -n[2], n[1]], [n[2], 0, -n[0]], [-n[1], n[0], 0]])
matrices = np.eye(3) + np.sin(angles)[:, None, None] * K + (1 - np.cos(angles))[:, None, None] * (K @ K)
assert np.allclose(points, np.einsum("kij,pj->kpi", matrices, arrow), atol=1e-12)

fig = plt.figure(figsize=(6, 5.5))
ax = fig.add_subplot(projection="3d")
colours = plt.cm.viridis(np.linspace(0, 1, len(angles)))
for p, c in zip(points, colours):
    ax.plot(*p.T, color=c, lw=2)
ax.quiver(0, 0, 0, *(2.2 * n), color="C3", lw=2, arrow_length_ratio=0.08)
ax.text(*(2.3 * n), "axis", color="C3")
ax.set_box_aspect((1, 1, 1))
ax.set(xlim=(-2, 2), ylim=(-2, 2), zlim=(-2, 2), xlabel="x", ylabel="y", zlabel="z")
fig.tight_layout()
plt.show()
