"""Helpers shared by the quilmo_lab tests."""

FIELDS = ("r_s", "r_p", "t_s", "t_p", "R_s", "R_p", "T_s", "T_p", "psi", "delta")


def assert_same_bits(got, expected, names=FIELDS, context=()):
    for name in names:
        assert getattr(got, name).tobytes() == getattr(expected, name).tobytes(), (*context, name)


def central_difference(at, step):
    """Fourth-order central difference of at(shift) at shift 0: steps h and 2h."""
    return (8 * (at(step) - at(-step)) - (at(2 * step) - at(-2 * step))) / (12 * step)
