"""The playground page in headless Chromium, driven through window.playground:
an example on the built-in test card and on an uploaded PNG with transparency,
each read back as a PNG and compared word for word with the frame runner's
result; a script error must show its line. Leaves a screenshot in OUT_DIR.

Usage: /usr/bin/python3 page_test.py SITE_DIR PELX04_RUN OUT_DIR
"""
import base64
import functools
import http.server
import os
import random
import struct
import subprocess
import sys
import threading
import zlib

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

site, runner, out = sys.argv[1:4]
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
os.makedirs(out, exist_ok=True)
results = {"passed": 0, "failed": 0}


def check(ok, what):
    results["passed" if ok else "failed"] += 1
    if not ok:
        print("FAIL", what)


def write_png(path, width, height, rgba):
    """An 8-bit RGBA PNG, rows unfiltered."""
    rows = b"".join(b"\0" + rgba[y * width * 4:(y + 1) * width * 4] for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                   + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def bgra_words(png_path):
    """The PNG's pixels as B, G, R, A bytes, decoded by ffmpeg."""
    return subprocess.run(["ffmpeg", "-v", "error", "-i", png_path, "-f", "rawvideo", "-pix_fmt", "bgra", "-"],
                          check=True, capture_output=True, timeout=60).stdout


def native_result(script, image, name):
    path = os.path.join(out, name + "-native.png")
    subprocess.run([runner, script] + ([image] if image else []) + ["-o", path], check=True,
                   capture_output=True, timeout=60)
    return bgra_words(path)


def page_result(driver, name):
    path = os.path.join(out, name + "-page.png")
    png = base64.b64decode(driver.execute_async_script(
        "window.playground.resultPNG().then(arguments[0], (e) => arguments[0]('error ' + e));"))
    with open(path, "wb") as file:
        file.write(png)
    return bgra_words(path)


def run(driver, text):
    return driver.execute_async_script("window.playground.run(arguments[0]).then(arguments[1]);", text)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".wasm": "application/wasm",
                      ".js": "text/javascript"}

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=site))
threading.Thread(target=server.serve_forever, daemon=True).start()
address = "http://127.0.0.1:%d/" % server.server_address[1]

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1600,900",
                 "--disable-gpu", "--no-first-run"]:
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
driver.set_script_timeout(60)
try:
    driver.get(address)
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))

    # An example on the test card, as the page starts.
    sepia = os.path.join(root, "examples", "sepia.lua")
    with open(sepia) as file:
        reply = run(driver, file.read())
    check(reply["error"] is None, "sepia on the test card: %s" % reply["error"])
    check(page_result(driver, "card-sepia") == native_result(sepia, None, "card-sepia"),
          "sepia on the test card: page and runner differ")
    driver.save_screenshot(os.path.join(out, "playground.png"))

    # A picture with transparent and partly transparent pixels.
    rng = random.Random(12)
    width, height = 97, 41
    rgba = bytearray()
    for i in range(width * height):
        alpha = (0, 255, rng.randrange(256))[i % 3]
        rgba += bytes([rng.randrange(256), rng.randrange(256), rng.randrange(256), alpha])
    picture = os.path.join(out, "alpha.png")
    write_png(picture, width, height, bytes(rgba))
    # Through the page's own file input, as a visitor uploads it.
    driver.find_element(By.ID, "file").send_keys(os.path.abspath(picture))
    label = "alpha.png (%d × %d)" % (width, height)
    try:
        WebDriverWait(driver, 30).until(
            lambda d: d.execute_script("return document.getElementById('inputName').textContent") == label)
        loaded = True
    except TimeoutException:
        loaded = False
    check(loaded, "uploading the PNG: %s" % driver.execute_script(
        "return document.getElementById('message').textContent"))
    hue = os.path.join(root, "examples", "hue_rotate.lua")
    with open(hue) as file:
        reply = run(driver, file.read())
    check(reply["error"] is None, "hue_rotate on the PNG: %s" % reply["error"])
    check(page_result(driver, "alpha-hue") == native_result(hue, picture, "alpha-hue"),
          "hue_rotate on the PNG with alpha: page and runner differ")

    # A script error names its line, beside the editor and in it.
    reply = run(driver, "local a = 1\nlocal b = nil\nb.x = a\n")
    check((reply["error"] or "").startswith("script:3:"), "error line: %s" % reply["error"])
    marked = driver.execute_script(
        "const line = document.querySelector('.cm-error-line'); return line && line.textContent;")
    shown = driver.execute_script("return document.getElementById('message').textContent;")
    check(marked == "b.x = a" and shown.startswith("script:3:"), "error marked: %r, shown: %r" % (marked, shown))

    # A pattern deep enough to overflow the engine's stack is refused by name.
    reply = run(driver, "local s = ('a'):rep(10)\nreturn s:find(('a?'):rep(1e6))\n")
    check("script:2: pattern 'a?a?" in (reply["error"] or "") and "is too complex" in reply["error"],
          "deep pattern: %s" % reply["error"])
finally:
    driver.quit()
    server.shutdown()

print("%d passed, %d failed" % (results["passed"], results["failed"]))
sys.exit(0 if results["failed"] == 0 else 1)
