"""The refractiveindex.info reader on pages written here, against each formula written out directly."""

import sys

import numpy as np
import pytest

from quilmo_lab.materials import load_from_database, read_refractiveindex_info

pytest.importorskip("yaml")

WL_NM = np.array([420.0, 532.0, 633.0, 780.0, 905.0])

# Formula number, coefficients (µm units of the database), n(λ in µm) written out from the database's definitions.
FORMULAS = [
    (1, [0, 0.6961663, 0.0684043, 0.4079426, 0.1162414, 0.8974794, 9.896161],  # Malitson 1965, fused silica
     lambda x: np.sqrt(1 + 0.6961663 * x**2 / (x**2 - 0.0684043**2) + 0.4079426 * x**2 / (x**2 - 0.1162414**2)
                       + 0.8974794 * x**2 / (x**2 - 9.896161**2))),
    (2, [0, 1.03961212, 0.00600069867, 0.231792344, 0.0200179144, 1.01046945, 103.560653],  # SCHOTT N-BK7
     lambda x: np.sqrt(1 + 1.03961212 * x**2 / (x**2 - 0.00600069867) + 0.231792344 * x**2 / (x**2 - 0.0200179144)
                       + 1.01046945 * x**2 / (x**2 - 103.560653))),
    (3, [2.4272, -0.01478, 2, 0.01298, -2, 0.00087, -4],  # a polynomial in λ² and λ⁻² (illustrative)
     lambda x: np.sqrt(2.4272 - 0.01478 * x**2 + 0.01298 / x**2 + 0.00087 / x**4)),
    (4, [8.393, 0.14383, 0, 0.2421, 2, 4430.99, 0, 36.71, 2],  # Debenham 1984, ZnS
     lambda x: np.sqrt(8.393 + 0.14383 / (x**2 - 0.2421**2) + 4430.99 / (x**2 - 36.71**2))),
    (4, [1.5, 0.9, 2, 0.1, 2, 0.02, 1, 3.0, 2, 0.004, -2, -0.001, 2],  # every kind of term (illustrative)
     lambda x: np.sqrt(1.5 + 0.9 * x**2 / (x**2 - 0.01) + 0.02 * x / (x**2 - 9.0) + 0.004 / x**2 - 0.001 * x**2)),
    (5, [1.4579, 0.00354, -2, -1.5e-5, -4],  # a Cauchy film (illustrative)
     lambda x: 1.4579 + 0.00354 / x**2 - 1.5e-5 / x**4),
    (6, [0, 0.05792105, 238.0185, 0.00167917, 57.362],  # Ciddor 1996, air
     lambda x: 1 + 0.05792105 / (238.0185 - x**-2) + 0.00167917 / (57.362 - x**-2)),
    (7, [3.41983, 0.159906, -0.123109, 1.26878e-6, -1.95104e-9, 0],  # a Herzberger form (illustrative)
     lambda x: 3.41983 + 0.159906 / (x**2 - 0.028) - 0.123109 / (x**2 - 0.028) ** 2 + 1.26878e-6 * x**2
     - 1.95104e-9 * x**4),
    (8, [0.452505, 0.09939, 0.070537, -0.00150],  # a Lorentz–Lorenz form (illustrative)
     lambda x: np.sqrt((1 + 2 * (0.452505 + 0.09939 * x**2 / (x**2 - 0.070537) - 0.0015 * x**2))
                       / (1 - (0.452505 + 0.09939 * x**2 / (x**2 - 0.070537) - 0.0015 * x**2)))),
    (9, [2.1823, 0.0125, 0.0300, 0.0190, 1.28, 0.0002],  # the exotic form (illustrative)
     lambda x: np.sqrt(2.1823 + 0.0125 / (x**2 - 0.03) + 0.019 * (x - 1.28) / ((x - 1.28) ** 2 + 0.0002))),
]


def _page(path, *entries):
    lines = ["REFERENCES: written by the test", "DATA:"]
    for entry in entries:
        lines.append(f"  - type: {entry['type']}")
        for key in ("wavelength_range", "coefficients"):
            if key in entry:
                lines.append(f"    {key}: {entry[key]}")
        if "rows" in entry:
            lines.append("    data: |")
            lines += ["        " + " ".join(repr(float(v)) for v in row) for row in entry["rows"]]
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")
    return path


@pytest.mark.parametrize("number, coefficients, direct", FORMULAS, ids=lambda v: str(v) if isinstance(v, int) else "")
def test_each_formula_against_its_direct_expression(tmp_path, number, coefficients, direct):
    page = _page(tmp_path / "page.yml", {"type": f"formula {number}", "wavelength_range": "0.4 0.95",
                                         "coefficients": " ".join(map(str, coefficients))})
    material = read_refractiveindex_info(page)
    np.testing.assert_allclose(material(WL_NM), direct(WL_NM / 1000.0), rtol=2e-15, atol=0)
    assert material.valid_range == pytest.approx((400.0, 950.0))
    with pytest.raises(ValueError, match="valid from 400 to 950 nm"):
        material(1000.0)


def test_tabulated_pages_in_micrometres(tmp_path):
    rows = [(0.30, 1.60, 0.020), (0.45, 1.55, 0.004), (0.60, 1.52, 0.001), (0.90, 1.50, 0.0)]
    nodes = np.array([row[0] for row in rows]) * 1e3
    expected = np.array([row[1] + 1j * row[2] for row in rows])
    nk = read_refractiveindex_info(_page(tmp_path / "nk.yml", {"type": "tabulated nk", "rows": rows}))
    np.testing.assert_array_equal(nk(nodes), expected)
    split = read_refractiveindex_info(_page(tmp_path / "split.yml",
                                            {"type": "tabulated n", "rows": [r[:2] for r in rows]},
                                            {"type": "tabulated k", "rows": [(r[0], r[2]) for r in rows]}),
                                      interpolation="cubic")
    np.testing.assert_array_equal(split(nodes), expected)
    assert nk(525.0) == pytest.approx((1.55 + 1.52) / 2 + 1j * (0.004 + 0.001) / 2)


def test_formula_for_n_with_a_table_for_k(tmp_path):
    page = _page(tmp_path / "Malitson-k.yml",
                 {"type": "formula 1", "wavelength_range": "0.21 3.71",
                  "coefficients": " ".join(map(str, FORMULAS[0][1]))},
                 {"type": "tabulated k", "rows": [(0.3, 1e-6), (0.5, 2e-7), (1.0, 1e-7)]})
    material = read_refractiveindex_info(page)
    assert material.name == "Malitson-k" and material.valid_range == pytest.approx((300.0, 1000.0))
    n = material(np.array([500.0, 1000.0]))
    np.testing.assert_allclose(n.real, FORMULAS[0][2](np.array([0.5, 1.0])), rtol=2e-15)
    np.testing.assert_array_equal(n.imag, [2e-7, 1e-7])


@pytest.mark.parametrize("layout", ["data-nk/main/ZnS/Debenham.yml", "data/main/ZnS/nk/Debenham.yml"])
def test_database_lookup_by_shelf_book_page_or_path(tmp_path, layout):
    target = tmp_path / layout
    target.parent.mkdir(parents=True)
    _page(target, {"type": "formula 4", "wavelength_range": "0.405 13",
                   "coefficients": " ".join(map(str, FORMULAS[3][1]))})
    by_parts = load_from_database(tmp_path, "main", "ZnS", "Debenham")
    by_path = load_from_database(tmp_path, "main/ZnS/Debenham.yml")
    assert by_parts.name == "ZnS (Debenham)"
    assert by_parts(633.0) == by_path(633.0) == pytest.approx(FORMULAS[3][2](0.633), rel=1e-15)
    with pytest.raises(FileNotFoundError, match="no refractiveindex.info page main/ZnS/Missing.yml"):
        load_from_database(tmp_path, "main", "ZnS", "Missing")


@pytest.mark.parametrize("entry, text", [
    ({"type": "formula 12", "wavelength_range": "0.4 0.9", "coefficients": "1 2"}, "formula must be 1-9"),
    ({"type": "formula 2", "coefficients": "1 2"}, "must have a wavelength_range of two numbers"),
    ({"type": "tabulated nk", "rows": [(0.4, 1.5), (0.5, 1.4)]}, "must have rows of 3 numbers"),
    ({"type": "tabulated k", "rows": [(0.4, 0.1), (0.5, 0.1)]}, "must give n .*; received tabulated k only"),
    ({"type": "spline n"}, "the data type must be .*; received 'spline n'"),
])
def test_malformed_pages_say_what_is_wrong(tmp_path, entry, text):
    with pytest.raises(ValueError, match=text):
        read_refractiveindex_info(_page(tmp_path / "bad.yml", entry))


def test_missing_pyyaml_is_explained(tmp_path, monkeypatch):
    page = _page(tmp_path / "p.yml", {"type": "formula 5", "wavelength_range": "0.4 0.9", "coefficients": "1.5"})
    monkeypatch.setitem(sys.modules, "yaml", None)
    with pytest.raises(ImportError, match="needs PyYAML"):
        read_refractiveindex_info(page)


# A few hundred bytes of anchors and aliases that expand to gigabytes (before: 30 s and 4 GiB).
_BILLION_LAUGHS = ("x0: &a0 [\"0.5 1.5 0\", \"0.5 1.5 0\"]\n"
                   + "".join(f"x{i}: &a{i} [*a{i - 1}, *a{i - 1}, *a{i - 1}, *a{i - 1}]\n" for i in range(1, 20))
                   + "DATA:\n  - type: tabulated nk\n    data: *a19\n")


@pytest.mark.parametrize("content, text", [
    (_BILLION_LAUGHS.encode(), "anchors and aliases are not part of a page"),
    (b"DATA: " + b"[" * 100_000 + b"]" * 100_000, "nests at most 32 levels"),
    (b"DATA:\n  - type: formula 1\n    coefficients: \xff\xfe 1 2\n", "must be UTF-8 text; received byte 0xff"),
    (b"DATA: [unclosed\n", "not a YAML page"),
    (b"\x00" * 10, "not a YAML page"),
    (b"DATA:\n" + b"  - type: tabulated nk\n    data: |\n" + b"      0.5 1.5 0\n" * 2_500_000, "at most 32 MiB"),
])
def test_hostile_files_are_refused_naming_the_file(tmp_path, content, text):
    path = tmp_path / "page.yml"
    path.write_bytes(content)
    with pytest.raises(ValueError, match=text) as info:
        read_refractiveindex_info(path)
    assert str(path) in str(info.value)


def test_a_directory_or_a_missing_file_is_named(tmp_path):
    with pytest.raises(ValueError, match=f"{tmp_path}.*is a directory"):
        read_refractiveindex_info(tmp_path)
    with pytest.raises(FileNotFoundError, match="no refractiveindex.info page at .*absent.yml"):
        read_refractiveindex_info(tmp_path / "absent.yml")


@pytest.mark.parametrize("page", ["../outside", "../../outside.yml", "main/../../outside"])
def test_database_pages_stay_inside_the_root(tmp_path, page):
    root = tmp_path / "db"
    (root / "data").mkdir(parents=True)
    _page(tmp_path / "outside.yml", {"type": "formula 5", "wavelength_range": "0.4 0.9", "coefficients": "1.5"})
    _page(root / "outside.yml", {"type": "formula 5", "wavelength_range": "0.4 0.9", "coefficients": "1.5"})
    with pytest.raises(ValueError, match="must lie inside the database"):
        load_from_database(root / "data", page)
