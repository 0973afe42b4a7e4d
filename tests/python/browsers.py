"""Headless Chromium for the tests of pages, driven through its WebDriver."""

import shutil
import time

import pytest
from selenium import webdriver


def chromium(width=1400, height=1000):
    """A headless Chromium that keeps the page's console messages (for
    `get_log("browser")`); skips where Chromium or its driver is missing."""
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if browser is None or driver is None:
        pytest.skip("chromium and chromedriver are not installed (tools/bootstrap.sh installs "
                    "them)")
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", f"--window-size={width},{height}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    chrome = webdriver.Chrome(options=options,
                              service=webdriver.ChromeService(executable_path=driver))
    chrome.set_page_load_timeout(30)
    chrome.implicitly_wait(0)
    return chrome


def wait_until(condition, seconds=5.0):
    """Whether `condition()` came true within `seconds` (asked every 20 ms)."""
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.02)
    return condition()
