"""How many frames the playground skips while a video plays, in headless
Chromium: the page plays each clip with each script, and after the first
FRAMES frames the browser presented, prints the share it had to skip because
the script was still busy with an earlier one. Not a test: the share depends
on the machine and on what else runs on it.

Usage: /usr/bin/python3 bench/web_video_skips.py SITE_DIR CLIP... [--frames N]
"""
import functools
import http.server
import os
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

args = sys.argv[1:]
frames = 111
if "--frames" in args:
    at = args.index("--frames")
    frames = int(args[at + 1])
    del args[at:at + 2]
site, clips = args[0], args[1:]
scripts = {
    "empty script": "local f = frame\n",
    "mirtHSV": "pelx04.mirtHSV(frame.data, frame.width, frame.height, 120, 10, -10)\n",
}


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".wasm": "application/wasm",
                      ".js": "text/javascript"}

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=site))
threading.Thread(target=server.serve_forever, daemon=True).start()
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1600,900",
                 "--disable-gpu", "--no-first-run", "--autoplay-policy=no-user-gesture-required"]:
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
driver.set_script_timeout(60)
print("| clip | script | frames presented | skipped | skipped share |")
print("|---|---|---:|---:|---:|")
try:
    for clip in clips:
        for name, script in scripts.items():
            driver.get("http://127.0.0.1:%d/" % server.server_address[1])
            WebDriverWait(driver, 60).until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
            driver.execute_async_script("window.playground.run(arguments[0]).then(arguments[1]);", script)
            driver.find_element(By.ID, "file").send_keys(os.path.abspath(clip))
            deadline = time.time() + 120
            while time.time() < deadline:
                # The page's own labels: "frame N ..." (N counts from 0) and "skipped N".
                video = driver.execute_script(
                    "const n = (id) => Number((/\\d+/.exec(document.getElementById(id).textContent) || [-1])[0]);"
                    "return { handed: n('frameLabel') + 1, skipped: Math.max(n('skipped'), 0) };")
                if video["handed"] + video["skipped"] >= frames:
                    break
                time.sleep(0.05)
            seen = video["handed"] + video["skipped"]
            print("| %s | %s | %d | %d | %.0f %% |" % (os.path.basename(clip), name, seen, video["skipped"],
                                                     100.0 * video["skipped"] / max(seen, 1)))
finally:
    driver.quit()
    server.shutdown()
