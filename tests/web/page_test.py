#!/usr/bin/python3
"""The operator page in a real browser (headless Chromium through chromium-driver) against a
station of four simulated transmitters, one of which fails; its API and metrics beside it.

Usage: page_test.py TRANSMITTER_CLI TRANSMITTER_SIM [SCREENSHOT.png]
Prints each scenario's name as it passes, then "N passed, M failed".
"""
import atexit
import ctypes
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CLI, SIM = sys.argv[1], sys.argv[2]
SCREENSHOT = sys.argv[3] if len(sys.argv) > 3 else None
OPERATOR = "<img src=x onerror=alert(1)>"
PATIENCE = 60  # seconds for anything to happen; never a bound on how fast it happens
work = tempfile.mkdtemp(prefix="page-test.")


def dies_with_the_test():
    """A station left behind would go on probing pseudo-terminals that other tests reuse."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def wait_until(what, condition):
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        try:
            value = condition()
            if value:
                return value
        except (WebDriverException, OSError, ValueError, KeyError, IndexError):
            pass
        time.sleep(0.1)
    raise AssertionError("waited %d s for %s" % (PATIENCE, what))


def fetch(path, method="GET"):
    request = urllib.request.Request(url + path.lstrip("/"), method=method)
    try:
        with urllib.request.urlopen(request, timeout=PATIENCE) as reply:
            return reply.status, reply.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()


def tiles():
    return [t.text for t in browser.find_elements(By.CSS_SELECTOR, "main .tile")]


def tile_states():
    return [t.find_element(By.CLASS_NAME, "state").text
            for t in browser.find_elements(By.CSS_SELECTOR, "main .tile")]


# Four transmitters, their units out until the page watches; the second's firmware (1.0.4) is
# one whose configuration this program cannot read back, so that its unit fails.
sims = []
for number, version in enumerate(["1.0.3", "1.0.4", "1.0.3", "1.0.3"]):
    trace = os.path.join(work, "sim%d.txt" % number)
    with open(trace, "w") as out:
        sim = subprocess.Popen([SIM, "--version", version], stdin=subprocess.PIPE, stdout=out,
                               stderr=out, text=True, preexec_fn=dies_with_the_test)
    atexit.register(sim.kill)
    port = wait_until("the simulator's port", lambda: re.search(
        r"Port: (\S+)\n", open(trace).read())).group(1)
    sim.stdin.write("out\n")
    sim.stdin.flush()
    sims.append((sim, port))
journal_file = os.path.join(work, "journal.sqlite3")
station = subprocess.Popen(
    [CLI, "station", "--ports", ",".join(p for _, p in sims), "--sensor", "K", "--upper", "300",
     "--lower", "-50", "--output", "4-20", "--fault", "high", "--compensation", "on",
     "--journal", journal_file, "--batch", "B-0816", "--operator", OPERATOR,
     "--http", "0", "--json"],
    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, preexec_fn=dies_with_the_test)
atexit.register(station.kill)
url = re.search(r"the operator page is at (\S+)", station.stderr.readline()).group(1)

options = webdriver.ChromeOptions()
for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--window-size=1280,720", "--accept-lang=ru",
             "--user-data-dir=" + os.path.join(work, "profile")]:
    options.add_argument(flag)
options.binary_location = "/usr/bin/chromium"
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
atexit.register(browser.quit)


def put_units_in():
    browser.get(url)
    wait_until("four tiles", lambda: len(tiles()) == 4)
    # Every word each tile shows, in order, however briefly.
    browser.execute_script("""
        window.seen = [[], [], [], []];
        document.querySelectorAll('main .tile').forEach((tile, i) => {
          const note = () => { const s = tile.querySelector('.state');
            if (s && window.seen[i].at(-1) !== s.textContent) window.seen[i].push(s.textContent); };
          note();
          new MutationObserver(note).observe(tile, {childList: true, subtree: true});
        });""")
    for sim, _ in sims:
        sim.stdin.write("in\n")
        sim.stdin.flush()
    wait_until("three passed and one failed", lambda: tile_states() == [
        "Годен", "Брак", "Годен", "Годен"])
    seen = browser.execute_script("return window.seen")
    for states in seen:
        assert states[0] == "Ожидание" and states[1].startswith("Настройка"), states
    header = browser.find_element(By.TAG_NAME, "header").text
    assert re.search(r"Годных\s*3\b", header) and re.search(r"Брак\s*1\b", header), header
    assert "75 %" in header, header
    assert "firmware 1.0.4" in tiles()[1], tiles()[1]
    if SCREENSHOT:
        browser.save_screenshot(SCREENSHOT)


def operator_stays_text():
    header = browser.find_element(By.TAG_NAME, "header").text
    assert OPERATOR in header, header
    assert not browser.find_elements(By.TAG_NAME, "img")
    try:
        browser.switch_to.alert
        raise AssertionError("a script of the operator's name ran")
    except NoAlertPresentException:
        pass


def take_out_and_put_in():
    before = tiles()[2]
    sims[2][0].stdin.write("out\n")
    sims[2][0].stdin.flush()
    wait_until("the third slot waiting", lambda: tile_states()[2] == "Ожидание")
    sims[2][0].stdin.write("in\n")
    sims[2][0].stdin.flush()
    wait_until("a new unit passed in the third slot",
               lambda: tile_states()[2] == "Годен" and tiles()[2] != before)
    wait_until("four passed", lambda: re.search(r"Годных\s*4\b",
                                                browser.find_element(By.TAG_NAME, "header").text))


def reload_shows_the_same():
    before = tiles()
    browser.refresh()
    wait_until("the same tiles after a reload", lambda: tiles() == before)


def english():
    browser.get(url + "?lang=en")
    wait_until("English words", lambda: tile_states() == ["Pass", "Fail", "Pass", "Pass"])


def unit_page():
    link = browser.find_elements(By.CSS_SELECTOR, "main .tile .unit a")[0].get_attribute("href")
    browser.get(link)
    wait_until("as found beside as left", lambda: "As found" in browser.page_source
               and "As left" in browser.page_source and "B-0816" in browser.page_source)


def api_and_metrics():
    status, text = fetch("/api/state")
    state = json.loads(text)
    assert status == 200 and [s["verdict"] for s in state["slots"]] == [
        "pass", "fail", "pass", "pass"] and state["operator"] == OPERATOR, text
    assert fetch("/api/state", "POST")[0] == 405 and fetch("/", "DELETE")[0] == 405
    assert fetch("/api/state", "HEAD")[0] == 200
    rows = json.loads(fetch("/api/units?batch=B-0816&verdict=pass&limit=3")[1])
    assert len(rows) == 3 and {r["verdict"] for r in rows} == {"pass"}, rows
    assert fetch("/api/units?verdict=maybe")[0] == 400
    status, metrics = fetch("/metrics")
    with open(os.path.join(work, "metrics.txt"), "w") as out:
        out.write(metrics)
    check = subprocess.run(["promtool", "check", "metrics"], input=metrics, text=True,
                           capture_output=True)
    assert check.returncode == 0, check.stdout + check.stderr
    listed = subprocess.run([CLI, "journal", "--journal", journal_file, "--json"],
                            capture_output=True, text=True, check=True).stdout.splitlines()
    for verdict in ["pass", "fail", "interrupted"]:
        journaled = sum(json.loads(line)["verdict"] == verdict for line in listed)
        assert ('transmitter_station_units_total{verdict="%s"} %d' % (verdict, journaled)
                in metrics), metrics
    for secret in [journal_file, work]:
        assert secret not in metrics + text, secret


def bounded_connections():
    host, port = re.match(r"http://([^:]+):(\d+)/", url).groups()
    streams = []
    try:
        for _ in range(70):
            stream = socket.create_connection((host, int(port)), timeout=PATIENCE)
            stream.sendall(b"GET /events HTTP/1.1\r\nHost: x\r\n\r\n")
            streams.append(stream)
        answers = [s.recv(64) for s in streams]
        assert sum(a.startswith(b"HTTP/1.1 200") for a in answers) <= 64, answers
        assert any(a.startswith(b"HTTP/1.1 503") for a in answers), answers
    finally:
        for stream in streams:
            stream.close()
    wait_until("the page served again", lambda: fetch("/api/state")[0] == 200)


def address_refused():
    taken = re.match(r"http://([^/]+)/", url).group(1)
    for address in [taken, "1.2.3:80", "127.0.0.1:65536", "name:80", ""]:
        refused = subprocess.run([CLI, "station", "--ports", sims[0][1], "--sensor", "K",
                                  "--upper", "300", "--lower", "-50", "--output", "4-20",
                                  "--fault", "high", "--compensation", "on", "--journal",
                                  journal_file, "--http", address], capture_output=True,
                                 text=True, timeout=PATIENCE)
        assert refused.returncode == 2 and "--http" in refused.stderr, (address, refused)


def killed_station():
    wait_until("four tiles", lambda: browser.get(url) or len(tiles()) == 4)
    station.send_signal(signal.SIGKILL)
    station.wait()
    wait_until("no connection said", lambda: browser.find_element(By.ID, "offline").is_displayed()
               and browser.find_element(By.ID, "offline").text == "Нет связи со станцией")


# Each row in order, the later ones on what the earlier ones left.
SCENARIOS = [
    ("every tile goes from waiting through commissioning to its verdict", put_units_in),
    ("the operator's name with markup in it shows as text and runs nothing",
     operator_stays_text),
    ("a unit taken out and another put in passes as a new unit", take_out_and_put_in),
    ("a reload mid-batch shows the same tiles", reload_shows_the_same),
    ("?lang=en shows the states in English", english),
    ("a unit's page shows it as found beside as left", unit_page),
    ("the API answers, refuses other methods, and the metrics match the journal",
     api_and_metrics),
    ("connections beyond the bound are answered 503 at once", bounded_connections),
    ("an address in use or malformed ends a second station with 2",
     address_refused),
    ("a killed station shows that there is no connection", killed_station),
]

passed = failed = 0
for name, scenario in SCENARIOS:
    try:
        scenario()
        passed += 1
        print("ok:", name, flush=True)
    except Exception as error:  # noqa: BLE001 -- every failure is reported, then the next
        failed += 1
        print("FAILED:", name, "--", repr(error)[:2000], flush=True)
        if failed == 1:
            browser.save_screenshot(os.path.join(work, "failed.png"))
            print("screenshot and metrics in", work, flush=True)
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
