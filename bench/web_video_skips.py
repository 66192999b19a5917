"""How many frames the playground skips while a video plays, in headless
Chromium: the page plays each clip with each script, and after the first
FRAMES frames the browser presented, prints the share it had to skip because
the script was still busy with an earlier one. Not a test: the share depends
on the machine and on what else runs on it.

Then where the time went, per frame presented: the CPU time of Chromium's
threads over the same span (the renderer's page thread, its worker, its media
threads that decode, the compositor...), grouped by process and thread name,
from /proc; and the worker's own stages (the frame copied into the engine, the
script, the result copied out and drawn), as the page adds them up.

Usage: /usr/bin/python3 bench/web_video_skips.py SITE_DIR CLIP... [--frames N]
"""
import functools
import http.server
import collections
import glob
import os
import re
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


def descendants(pid):
    """pid and every process below it."""
    children = collections.defaultdict(list)
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as file:
                fields = file.read().rsplit(")", 1)[1].split()
            children[int(fields[1])].append(int(stat.split("/")[2]))
        except (OSError, IndexError, ValueError):
            pass
    found, todo = [], [pid]
    while todo:
        found.append(todo.pop())
        todo += children[found[-1]]
    return found


def thread_times(pid):
    """CPU seconds by (process type, thread name), threads numbered alike merged."""
    tick = os.sysconf("SC_CLK_TCK")
    times = collections.Counter()
    for process in descendants(pid):
        try:
            with open("/proc/%d/cmdline" % process, "rb") as file:
                kind = (re.search(rb"--type=([\w-]+)", file.read()) or [b"", b"browser"])[1].decode()
            for stat in glob.glob("/proc/%d/task/*/stat" % process):
                with open(stat) as file:
                    text = file.read()
                name = re.sub(r"\d+", "N", text[text.index("(") + 1:text.rindex(")")])
                fields = text.rsplit(")", 1)[1].split()
                times[(kind, name)] += (int(fields[11]) + int(fields[12])) / tick
        except (OSError, ValueError):
            pass
    return times


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
breakdowns = []
try:
    for clip in clips:
        for name, script in scripts.items():
            driver.get("http://127.0.0.1:%d/" % server.server_address[1])
            WebDriverWait(driver, 60).until(lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
            driver.execute_async_script("window.playground.run(arguments[0]).then(arguments[1]);", script)
            driver.find_element(By.ID, "file").send_keys(os.path.abspath(clip))
            WebDriverWait(driver, 60).until(lambda d: d.execute_script("return window.playground.state().video.handed > 0"))
            start_times = thread_times(driver.service.process.pid)
            start_stages = driver.execute_script("return window.playground.state().video.stages")
            start_seen = None
            deadline = time.time() + 120
            while time.time() < deadline:
                # The page's own labels: "frame N ..." (N counts from 0) and "skipped N".
                video = driver.execute_script(
                    "const n = (id) => Number((/\\d+/.exec(document.getElementById(id).textContent) || [-1])[0]);"
                    "return { handed: n('frameLabel') + 1, skipped: Math.max(n('skipped'), 0) };")
                if start_seen is None:
                    start_seen = video["handed"] + video["skipped"]
                if video["handed"] + video["skipped"] >= frames:
                    break
                time.sleep(0.05)
            seen = video["handed"] + video["skipped"]
            spent = thread_times(driver.service.process.pid)
            spent.subtract(start_times)
            stages = driver.execute_script("return window.playground.state().video.stages")
            stages = {key: value - start_stages.get(key, 0) for key, value in stages.items()}
            breakdowns.append((os.path.basename(clip), name, max(seen - start_seen, 1), spent, stages))
            print("| %s | %s | %d | %d | %.0f %% |" % (os.path.basename(clip), name, seen, video["skipped"],
                                                     100.0 * video["skipped"] / max(seen, 1)))
    print("\nCPU ms per frame presented, by thread (over 1 ms); the worker's stages in ms per frame run:\n")
    for clip, name, seen, spent, stages in breakdowns:
        threads = ", ".join("%s %s %.1f" % (kind, thread, 1000 * seconds / seen)
                            for (kind, thread), seconds in spent.most_common() if 1000 * seconds / seen > 1)
        ran = max(stages.pop("frames", 0), 1)
        print("- %s, %s (%d frames run of %d presented): %s; stages: %s" % (
            clip, name, ran, seen, threads, ", ".join("%s %.1f" % (k, v / ran) for k, v in stages.items())))
finally:
    driver.quit()
    server.shutdown()
