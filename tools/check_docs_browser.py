"""Loads every page of the built documentation in headless Chromium and checks it.

Serves docs/_build/html on 127.0.0.1 and, through Selenium and Debian's chromedriver,
opens each page: no JavaScript console error (level SEVERE), every internal link leads to
a page of the site (and to an anchor on it where it names one), every image has loaded.
The search page must find "needle" and "Mueller". Screenshots of the front page, a guide
page and a gallery page go to docs/_build/screenshots for review. Exits non-zero with a
list of what failed.

    python tools/check_docs_browser.py [--site docs/_build/html] [--chromedriver PATH]
"""

from __future__ import annotations

import argparse
import functools
import http.server
import re
import sys
import threading
import time
import urllib.parse
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

SEARCHES = ("needle", "Mueller")
SCREENSHOTS = {"front.png": "index.html", "guide.png": "guide/measurement.html", "gallery.png": "gallery/measured_filter.html"}
LINKS_AND_IMAGES = """
return [Array.from(document.querySelectorAll('a[href]'), a => a.href),
        Array.from(document.images, i => [i.currentSrc || i.src, i.complete && i.naturalWidth > 0])];
"""


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format: str, *args: object) -> None:
        pass


def serve(site: Path) -> http.server.ThreadingHTTPServer:
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=str(site)))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def browser(chromedriver: str) -> webdriver.Chrome:
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900", "--disable-extensions", "--no-first-run"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(executable_path=chromedriver), options=options)


@functools.cache
def anchors(page: Path) -> frozenset[str]:
    return frozenset(re.findall(r'\bid="([^"]+)"', page.read_text(encoding="utf-8", errors="replace")))


def broken_link(site: Path, base: str, href: str) -> str | None:
    """Why an internal link is broken, or None (links off the site are not followed)."""
    if not href.startswith(base):
        return None
    parsed = urllib.parse.urlsplit(href)
    path = site / urllib.parse.unquote(parsed.path).lstrip("/")
    if path.is_dir():
        path = path / "index.html"
    if not path.is_file():
        return "no such file"
    if parsed.fragment and path.suffix == ".html" and urllib.parse.unquote(parsed.fragment) not in anchors(path):
        return f"no anchor #{parsed.fragment}"
    return None


def check_page(driver: webdriver.Chrome, site: Path, base: str, page: str) -> list[str]:
    driver.get(base + page)
    WebDriverWait(driver, 20).until(lambda d: d.execute_script("return document.readyState") == "complete")
    problems = [f"console: {entry['message']}" for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    links, images = driver.execute_script(LINKS_AND_IMAGES)
    for href in sorted(set(links)):
        reason = broken_link(site, base, href)
        if reason:
            problems.append(f"link {href}: {reason}")
    problems += [f"image not loaded: {src}" for src, loaded in images if not loaded]
    return problems


def search_finds(driver: webdriver.Chrome, base: str, word: str) -> int:
    """How many results the site's search page lists for `word` (0 after 30 s without any)."""
    driver.get(f"{base}search.html?q={urllib.parse.quote(word)}")
    try:
        WebDriverWait(driver, 30).until(
            lambda d: d.execute_script("return document.querySelectorAll('#search-results li').length") > 0)
    except Exception:
        return 0
    return driver.execute_script("return document.querySelectorAll('#search-results li').length")


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").partition("\n")[0])
    parser.add_argument("--site", type=Path, default=Path(__file__).resolve().parent.parent / "docs/_build/html")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    args = parser.parse_args()
    site = args.site.resolve()
    pages = sorted(path.relative_to(site).as_posix() for path in site.rglob("*.html")
                   if not path.relative_to(site).parts[0].startswith("_"))
    server = serve(site)
    base = f"http://127.0.0.1:{server.server_address[1]}/"
    failures: list[str] = []
    start = time.perf_counter()
    driver = browser(args.chromedriver)
    try:
        for page in pages:
            failures += [f"{page}: {problem}" for problem in check_page(driver, site, base, page)]
        for word in SEARCHES:
            found = search_finds(driver, base, word)
            print(f"search for {word!r}: {found} results")
            if not found:
                failures.append(f"search.html: no results for {word!r}")
        shots = site.parent / "screenshots"
        shots.mkdir(exist_ok=True)
        driver.set_window_size(1280, 2000)  # tall enough for a page's first figure
        for name, page in SCREENSHOTS.items():
            driver.get(base + page)
            WebDriverWait(driver, 20).until(lambda d: d.execute_script("return document.readyState") == "complete")
            driver.save_screenshot(str(shots / name))
            print(f"screenshot of {page}: {shots / name}")
    finally:
        driver.quit()
        server.shutdown()
    print(f"{len(pages)} pages checked in {time.perf_counter() - start:.0f} s")
    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
