"""quilmo_lab benchmarks; each section prints its own figures.

    python bench/lab.py [--size 1000000] [--repeats 15]
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import lab_materials  # noqa: E402  (a sibling file, found through the path above)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", type=int, default=1_000_000, help="wavelengths per material evaluation")
    parser.add_argument("--repeats", type=int, default=15)
    options = parser.parse_args()
    lab_materials.run(options.size, options.repeats)


if __name__ == "__main__":
    main()
