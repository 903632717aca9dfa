"""An independent NumPy implementation of the 2x2 transfer-matrix method.

Written from the physics, vectorised over wavelengths, without calling
quilmo: the tests check `simulate` against it and the benchmarks time it as
the competent-NumPy baseline. Roots and exponentials are computed once per
medium and shared by both polarisations.
"""

import numpy as np

TWO_PI = 2.0 * np.pi


def _stack_coefficients(d, n, wl, theta):
    """Amplitude coefficients r and tau (s and p) of the whole stack."""
    media = n.shape[0]
    sin_theta = np.sin(theta)
    tangential = (sin_theta * n[0]) ** 2
    k = np.sqrt(n * n - tangential)  # principal root, cut along the negative reals
    c = k / n
    results = []
    phases = [None] * media
    for j in range(1, media - 1):
        delta = TWO_PI * n[j] * c[j] * d[j - 1] / wl
        phases[j] = (np.exp(-1j * delta), np.exp(1j * delta))
    for pol in (0, 1):
        def interface(j):
            if pol == 0:
                a, b = c[j] * n[j], c[j + 1] * n[j + 1]
            else:
                a, b = c[j] * n[j + 1], c[j + 1] * n[j]
            r = (a - b) / (a + b)
            tau = 2.0 * n[j] * c[j] / (a + b)
            return 1.0 / tau, r / tau

        inv_tau, r_tau = interface(0)
        m00, m01, m10, m11 = inv_tau, r_tau, r_tau, inv_tau
        for j in range(1, media - 1):
            minus, plus = phases[j]
            # (M . P(j)) scales the columns of M; then the product with D(j).
            m00, m10 = m00 * minus, m10 * minus
            m01, m11 = m01 * plus, m11 * plus
            inv_tau, r_tau = interface(j)
            m00, m01 = m00 * inv_tau + m01 * r_tau, m00 * r_tau + m01 * inv_tau
            m10, m11 = m10 * inv_tau + m11 * r_tau, m10 * r_tau + m11 * inv_tau
        results.append((m10 / m00, 1.0 / m00))
    return results


def reflectance_transmittance(d, n, wl, theta, phi, chunk=4096):
    """R and T per wavelength for the stack (d, n, wl) at angles theta, phi."""
    d = np.asarray(d, dtype=float)
    n = np.asarray(n, dtype=complex)
    wl = np.asarray(wl, dtype=float)
    r_out = np.empty(wl.size)
    t_out = np.empty(wl.size)
    cos2, sin2 = np.cos(phi) ** 2, np.sin(phi) ** 2
    for start in range(0, wl.size, chunk):
        part = slice(start, start + chunk)
        n_part = n[:, part]
        (r_s, tau_s), (r_p, tau_p) = _stack_coefficients(d, n_part, wl[part], theta)
        r_out[part] = np.abs(r_s) ** 2 * cos2 + np.abs(r_p) ** 2 * sin2
        n_in, n_out = n_part[0], n_part[-1]
        exit_factor = np.sqrt(n_out * n_out - n_in * n_in * np.sin(theta) ** 2)
        g = (exit_factor / (n_in * np.cos(theta))).real
        t_out[part] = (np.abs(tau_s) ** 2 * cos2 + np.abs(tau_p) ** 2 * sin2) * g
    return r_out, t_out
