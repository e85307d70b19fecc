#!/usr/bin/python3
"""The web page's figures, measured side by side in one run so that they hold on a busy
machine:

- each effect's frame time in headless chromium (build/web-wasm/bench-page/bench.html)
  and through the native vis_orlim.so (build/linux/web_frame_time), the same source,
  frames and size, in alternating rounds; the median of the rounds, and their ratio;
- the page's size as served compressed (gzip -9): every file a visitor loads;
- how often the analyser's bytes differ between the native build (FFTW) and the web
  build (its own transform, under node) over the demo tune.

    bench_web.py [--size WxH] [--frames N] [--rounds R]
"""
import argparse
import functools
import gzip
import http.server
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PAGE = os.path.join(ROOT, 'build/web')
BENCH_PAGE = os.path.join(ROOT, 'build/web-wasm/bench-page')
NATIVE = os.path.join(ROOT, 'build/linux/web_frame_time')
NATIVE_DUMP = os.path.join(ROOT, 'build/linux/web_spectrum_dump')
WEB_DUMP = os.path.join(BENCH_PAGE, 'web_spectrum_dump.js')
PLUGIN = os.path.join(ROOT, 'build/linux/vis_orlim.so')
# What a visitor's browser loads (check.html and its program are the page's self-test).
PAGE_FILES = ['index.html', 'page.css', 'page.js', 'tap.js', 'orlimvis.js', 'orlimvis.wasm']
SIZE_BUDGET = 600 * 1024


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, '.wasm': 'application/wasm'}

    def log_message(self, *args):
        pass


def native_round(width, height, frames):
    out = subprocess.run([NATIVE, PLUGIN, str(width), str(height), str(frames)],
                         capture_output=True, text=True, check=True).stdout
    return {line.split()[0]: float(line.split()[1]) for line in out.splitlines()}


def browser_round(driver, base, width, height, frames):
    driver.get(f'{base}/bench.html?size={width}x{height}&frames={frames}')
    deadline = time.monotonic() + 600
    while time.monotonic() < deadline:
        result = driver.execute_script('return window.benchResult;')
        if result:
            if isinstance(result, dict):
                sys.exit(f"bench_web: the bench page failed: {result['error']}")
            return {r['name']: r['ms'] for r in result}
        time.sleep(0.2)
    sys.exit('bench_web: the bench page did not finish')


def spectrum_agreement():
    print('Spectrum bytes over the demo tune, native (FFTW) against the web build:')
    scratch = tempfile.mkdtemp(prefix='orlimvis-bench-web-')
    try:
        for rate in [44100, 48000]:
            for layout in ['classic', 'log']:
                native, web = os.path.join(scratch, 'native'), os.path.join(scratch, 'web')
                subprocess.run([NATIVE_DUMP, str(rate), layout, native], check=True)
                subprocess.run(['/usr/bin/node', '--no-experimental-fetch', WEB_DUMP, str(rate), layout, web],
                               check=True)
                a, b = open(native, 'rb').read(), open(web, 'rb').read()
                if len(a) != len(b):
                    sys.exit(f'bench_web: the dumps at {rate} Hz ({layout}) differ in length')
                differing = sum(1 for x, y in zip(a, b) if x != y)
                largest = max((abs(x - y) for x, y in zip(a, b)), default=0)
                frames = len(a) // 1152
                print(f'  {rate} Hz {layout:<8}{differing:>4} of {len(a)} bytes differ '
                      f'({differing / len(a):.6%}) in {frames} frames, by at most {largest}')
    finally:
        subprocess.run(['rm', '-rf', scratch])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--size', default='1280x720')
    parser.add_argument('--frames', type=int, default=300)
    parser.add_argument('--rounds', type=int, default=3)
    args = parser.parse_args()
    width, height = map(int, args.size.split('x'))
    for f in [NATIVE, NATIVE_DUMP, WEB_DUMP, PLUGIN, os.path.join(BENCH_PAGE, 'bench.html')] + [os.path.join(PAGE, f) for f in PAGE_FILES]:
        if not os.path.exists(f):
            sys.exit(f'bench_web: {f} is missing (make bench-web builds it)')

    handler = functools.partial(QuietHandler, directory=BENCH_PAGE)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    profile = tempfile.mkdtemp(prefix='orlimvis-bench-web-')
    for flag in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 f'--user-data-dir={profile}']:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    native, page = {}, {}
    try:
        base = f'http://127.0.0.1:{server.server_address[1]}'
        for _ in range(args.rounds):
            for name, ms in native_round(width, height, args.frames).items():
                native.setdefault(name, []).append(ms)
            for name, ms in browser_round(driver, base, width, height, args.frames).items():
                page.setdefault(name, []).append(ms)
    finally:
        driver.quit()
        server.shutdown()
        subprocess.run(['rm', '-rf', profile])

    print(f'Frame time at {width}x{height}, {args.frames} frames of synthetic music, '
          f'median of {args.rounds} alternating rounds (ms per frame):')
    print(f'  {"effect":<10}{"native .so":>12}{"page":>10}{"page/native":>13}')
    worst = 0
    for name in native:
        n, p = statistics.median(native[name]), statistics.median(page[name])
        worst = max(worst, p / n)
        print(f'  {name:<10}{n:>12.3f}{p:>10.3f}{p / n:>12.2f}x')
    print(f'  slowest effect against native: {worst:.2f}x (goal: at most 1.5x)')

    print('The page as served compressed (gzip -9):')
    total = 0
    for f in PAGE_FILES:
        data = open(os.path.join(PAGE, f), 'rb').read()
        packed = len(gzip.compress(data, 9))
        total += packed
        print(f'  {f:<15}{len(data):>9} bytes, {packed:>8} compressed')
    print(f'  total {total} bytes compressed ({total / 1024:.0f} KB; goal: under 600 KB)')
    spectrum_agreement()
    return 0 if total < SIZE_BUDGET else 1


if __name__ == '__main__':
    sys.exit(main())
