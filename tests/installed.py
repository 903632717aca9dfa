"""Where the imported quilmo comes from: an installed distribution or a build tree."""

import importlib.metadata
import pathlib

import quilmo


def installed_files() -> dict[str, pathlib.Path] | None:
    """The files of the installed distribution that provides the imported module.

    Keyed by their path inside the wheel. None when quilmo is imported from
    elsewhere (a build tree on PYTHONPATH), where no wheel's contents apply.
    """
    try:
        distribution = importlib.metadata.distribution("quilmo")
    except importlib.metadata.PackageNotFoundError:
        return None
    files = {str(entry): pathlib.Path(entry.locate()).resolve() for entry in distribution.files or ()}
    if pathlib.Path(quilmo.__file__).resolve() not in files.values():
        return None
    return files
