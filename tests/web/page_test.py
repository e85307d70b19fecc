#!/usr/bin/python3
"""The web page in a real browser: Debian's chromium, headless, driven through
chromium-driver with python3-selenium, loading the built page (build/web) from a
server on localhost. It checks, in one browser session:

  1. the effects' frame hashes computed in the browser (check.html) against the list
     every build checks;
  2. a 5-second play of the demo tune given as a file: the canvas is not blank, and it
     changes; then the keys 3 (another effect) and F (full screen) through the plug-in,
     and the settings the quit effect saved, kept in local storage;
  3. for a scripted spectrum, every effect's frames on the canvas equal the native
     plug-in's (web_reference_frames, the real vis_orlim.so through the player's host);
  4. bad input gives one clear line in the page: a file that is not audio, a microphone
     that is denied, a browser without AudioWorklet.

Waits are bounded but generous and end as soon as the page reports what they wait for;
nothing is timed. Failures name the step, the effect and the frame.

    page_test.py --page DIR --orlimvis BIN --plugin SO --reference BIN
"""
import argparse
import base64
import functools
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    sys.exit('page_test: python3-selenium is missing (make deps installs it)')

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
WAIT_SECONDS = 90      # the longest any one wait may take, on a very busy machine
SIZE = (256, 192)      # the scripted frames' size
SCRIPTED_FRAMES = 8
SEED = 7
BANDS = 576

failures = []
OUTPUT = tempfile.gettempdir()  # where pictures of differences go (--output)


def fail(step, message):
    failures.append(f'{step}: {message}')
    print(f'FAIL {step}: {message}', flush=True)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript'}

    def log_message(self, *args):
        pass


def serve(directory):
    handler = functools.partial(QuietHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                 '--no-first-run', '--disable-background-networking',
                 '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage',
                 f'--user-data-dir={profile}',
                 # the page may start its sound without a click, as a browser source may
                 '--autoplay-policy=no-user-gesture-required',
                 # a page asking for the microphone is refused, as a user who says no, and
                 # there is a (fake) microphone to refuse
                 '--deny-permission-prompts', '--use-fake-device-for-media-stream']:
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


def wait_for(driver, script, what):
    """Polls `script` until it returns something true; returns it, or None after
    WAIT_SECONDS."""
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        value = driver.execute_script(script)
        if value:
            return value
        time.sleep(0.1)
    print(f'gave up waiting for {what}', flush=True)
    return None


def page_error(driver):
    return driver.execute_script(
        "const s = document.getElementById('status'); return s && !s.hidden ? s.textContent : '';")


def check_frame_hashes(driver, base):
    driver.get(base + '/check.html')
    result = wait_for(driver, 'return window.frameCheck && window.frameCheck.done && window.frameCheck;',
                      'the frame check')
    if not result:
        fail('frame hashes', 'the check did not finish')
        return
    if result['error']:
        fail('frame hashes', result['error'])
    if len(result['rows']) != 4:
        fail('frame hashes', f"{len(result['rows'])} effects checked, not 4")
    for row in result['rows']:
        if row['firstDifferent'] == -2:
            fail('frame hashes', f"{row['effect']}: no pixels")
        elif row['firstDifferent'] >= 0:
            fail('frame hashes', f"{row['effect']}: the surfaces differ by frame "
                 f"{row['firstDifferent']}; this browser computed {row['computed']}")


# Watches the canvas at every refresh of the page while the file plays: how many
# different canvases it showed (by a 32-bit FNV-1a hash) and whether any had more than
# one colour. Run in the page, so a slow test driver misses nothing.
WATCH_CANVAS = """
const name = arguments[0];
window.canvasWatch = {hashes: new Set(), coloured: false};
const c = document.getElementById('canvas');
const context = c.getContext('2d');
function look() {
  if (orlimvis.state.inputName === name && orlimvis.state.sourceFrames > 0) {
    const words = new Uint32Array(context.getImageData(0, 0, c.width, c.height).data.buffer);
    let h = 0x811c9dc5;
    for (let i = 0; i < words.length; ++i) {
      h = Math.imul(h ^ words[i], 16777619) >>> 0;
      if (words[i] !== words[0]) canvasWatch.coloured = true;
    }
    canvasWatch.hashes.add(h);
  }
  requestAnimationFrame(look);
}
requestAnimationFrame(look);
"""

CANVAS_SUMMARY = """
return {changes: canvasWatch.hashes.size, coloured: canvasWatch.coloured,
        frames: orlimvis.state.sourceFrames, input: orlimvis.state.inputName,
        error: orlimvis.state.error};
"""


def check_file_play(driver, base, tune):
    step = 'demo tune from a file'
    driver.get(f'{base}/index.html?seed={SEED}&size=320x240')
    if not wait_for(driver, 'return window.orlimvis && orlimvis.state.framesRendered > 0;',
                    'the page to render'):
        fail(step, f'the page rendered nothing: {page_error(driver)!r}')
        return
    name = os.path.basename(tune)
    driver.execute_script(WATCH_CANVAS, name)
    driver.find_element(By.ID, 'file').send_keys(tune)
    # 5 seconds of audio are 200 frames of 25 ms.
    deadline = time.monotonic() + WAIT_SECONDS
    last = None
    while time.monotonic() < deadline:
        last = driver.execute_script(CANVAS_SUMMARY)
        if last['error']:
            fail(step, f"the page says: {last['error']}")
            return
        if last['input'] == name and last['frames'] >= 200:
            break
        time.sleep(0.2)
    if not last or last['input'] != name or last['frames'] < 200:
        fail(step, f"only {last['frames'] if last else 0} frames of the file were rendered")
        return
    if not last['coloured']:
        fail(step, 'the canvas stayed one colour (blank) for 5 s of music')
    if last['changes'] < 10:
        fail(step, f"the canvas showed only {last['changes']} different pictures in 5 s of music")
    print(f"{step}: {last['frames']} frames, {last['changes']} different canvases seen", flush=True)

    # The keys of `play`, through the plug-in: 3 starts the third effect.
    driver.find_element(By.TAG_NAME, 'body').send_keys('3')
    if not wait_for(driver, 'return orlimvis.state.module === 2;', 'the key 3'):
        fail('keys', f"the key 3 left effect {driver.execute_script('return orlimvis.state.module;')} running")
    # The effect that was quit saved its settings, which the page keeps in local storage.
    saved = driver.execute_script("return localStorage.getItem('orlimvis.plugin.ini');")
    if not saved or '[Zarvenn]' not in saved or 'Screen_x=' not in saved:
        fail('settings', f'local storage holds {saved!r}, not the settings Zarvenn saved at quit')
    # F: the plug-in asks its host for full screen, and the page goes full screen.
    driver.find_element(By.TAG_NAME, 'body').send_keys('f')
    if not wait_for(driver, 'return !!document.fullscreenElement;', 'full screen'):
        fail('keys', 'the key F did not make the canvas full screen')


def scripted_spectra():
    """Frames of a made-up spectrum: loud low bands that move from frame to frame, a
    falling slope, silence in some frames' band 0 so the silence rules run too."""
    frames = []
    for n in range(SCRIPTED_FRAMES):
        data = bytearray()
        for channel in range(2):
            for band in range(BANDS):
                slope = 255 - band * 255 // BANDS
                wobble = (n * 37 + band * 11 + channel * 5) % 97
                value = slope * wobble // 96
                if band == 0 and n % 4 == 3:
                    value = 0
                data.append(value)
        frames.append(bytes(data))
    return frames


def write_difference(path, page, native, width, height):
    """A PPM of the native frame, dimmed, with the pixels where the page differs in red."""
    out = bytearray(f'P6 {width} {height} 255\n'.encode())
    for i in range(0, width * height * 4, 4):
        if page[i:i + 3] != native[i:i + 3]:
            out += b'\xff\x00\x00'
        else:
            out += bytes(v // 3 for v in native[i:i + 3])
    with open(path, 'wb') as f:
        f.write(out)
    return path


def check_scripted_pixels(driver, base, plugin, reference):
    spectra = scripted_spectra()
    width, height = SIZE
    frame_bytes = width * height * 4
    # The page feeds no audio, so the module's first frame is the first scripted one,
    # as in the native run.
    scripted = driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                                      {'source': 'window.orlimvisScripted = true;'})
    try:
        for index in range(4):
            check_scripted_module(driver, base, plugin, reference, spectra, index)
    finally:
        driver.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument',
                               {'identifier': scripted['identifier']})


def check_scripted_module(driver, base, plugin, reference, spectra, index):
    width, height = SIZE
    frame_bytes = width * height * 4
    driver.get(f'{base}/index.html?module={index}&seed={SEED}&size={width}x{height}')
    if not wait_for(driver, 'return window.orlimvis && orlimvis.state.wasm && orlimvis.state.width > 0;',
                    'the page to start'):
        fail('scripted spectrum', f'module {index}: the page did not start: {page_error(driver)!r}')
        return
    name = driver.execute_script(
        f'return orlimvis.state.wasm.UTF8ToString(orlimvis.state.wasm._webModuleName({index}));')
    native = subprocess.run(
        [reference, plugin, str(index), str(width), str(height), str(SEED), str(len(spectra))],
        input=b''.join(spectra), capture_output=True)
    if native.returncode != 0 or len(native.stdout) != frame_bytes * len(spectra):
        fail('scripted spectrum', f'{name}: the native reference failed: {native.stderr.decode().strip()}')
        return
    for n, spectrum in enumerate(spectra):
        encoded = driver.execute_script("""
            orlimvis.render(Uint8Array.from(atob(arguments[0]), (ch) => ch.charCodeAt(0)));
            const c = document.getElementById('canvas');
            const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
            let s = '';
            for (let i = 0; i < d.length; i += 8192) s += String.fromCharCode.apply(null, d.subarray(i, i + 8192));
            return [c.width, c.height, btoa(s)];
        """, base64.b64encode(spectrum).decode())
        w, h, pixels = encoded[0], encoded[1], base64.b64decode(encoded[2])
        if (w, h) != (width, height):
            fail('scripted spectrum', f'{name} frame {n}: the canvas is {w}x{h}, not {width}x{height}')
            break
        expected = native.stdout[n * frame_bytes:(n + 1) * frame_bytes]
        if pixels != expected:
            different = [i // 4 for i in range(0, frame_bytes, 4) if pixels[i:i + 4] != expected[i:i + 4]]
            x, y = different[0] % width, different[0] // width
            picture = write_difference(os.path.join(OUTPUT, f'web_{name}_frame{n}.ppm'), pixels, expected,
                                       width, height)
            fail('scripted spectrum', f'{name} frame {n}: {len(different)} pixels differ from the '
                 f'native frame, the first at ({x}, {y}): page {pixels[different[0] * 4:different[0] * 4 + 3].hex()}'
                 f' native {expected[different[0] * 4:different[0] * 4 + 3].hex()}; where: {picture}')
            break
    else:
        blank = all(native.stdout[i] == native.stdout[0] for i in range(0, frame_bytes, 4 * 97))
        print(f'scripted spectrum: {name}: {len(spectra)} frames equal the native ones'
              + (' (a plain frame)' if blank else ''), flush=True)


def check_bad_input(driver, base, scratch):
    driver.get(f'{base}/index.html?seed={SEED}')
    if not wait_for(driver, 'return window.orlimvis && orlimvis.state.framesRendered > 0;', 'the page'):
        fail('bad input', f'the page did not start: {page_error(driver)!r}')
        return
    notes = os.path.join(scratch, 'notes.txt')
    with open(notes, 'w') as f:
        f.write('not music\n' * 100)
    driver.find_element(By.ID, 'file').send_keys(notes)
    line = wait_for(driver, "const s = document.getElementById('status'); return !s.hidden && s.textContent;",
                    'the line about the text file')
    if not line or 'notes.txt' not in line or 'not audio' not in line:
        fail('bad input', f'a text file as music gave {line!r}, not a line saying it is not audio')
    else:
        print(f'bad input: text file: {line}', flush=True)

    driver.execute_script("document.getElementById('status').hidden = true;")
    driver.find_element(By.ID, 'microphone').click()
    line = wait_for(driver, "const s = document.getElementById('status'); return !s.hidden && s.textContent;",
                    'the line about the microphone')
    if not line or 'microphone was not allowed' not in line:
        fail('bad input', f'a denied microphone gave {line!r}, not a line about the microphone')
    else:
        print(f'bad input: microphone: {line}', flush=True)

    # URL parameters that say nothing the page can do.
    for query, words in [('module=Nope', 'no such effect'), ('sensitivity=99999', 'sensitivity=99999'),
                         ('size=big', 'WIDTHxHEIGHT'), ('seed=-4', 'seed')]:
        driver.get(f'{base}/index.html?{query}')
        line = wait_for(driver, "const s = document.getElementById('status'); return !s.hidden && s.textContent;",
                        f'the line about {query}')
        if not line or words not in line:
            fail('bad input', f'?{query} gave {line!r}, not a line saying {words!r}')

    # A browser without AudioWorklet: the page's globals as such a browser has them.
    added = driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                                   {'source': 'delete window.AudioWorkletNode;'})
    driver.get(f'{base}/index.html')
    line = wait_for(driver, "const s = document.getElementById('status'); return !s.hidden && s.textContent;",
                    'the line about AudioWorklet')
    driver.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument', {'identifier': added['identifier']})
    if not line or 'AudioWorklet' not in line:
        fail('bad input', f'a browser without AudioWorklet gave {line!r}')
    else:
        print(f'bad input: no AudioWorklet: {line}', flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--page', required=True)
    parser.add_argument('--orlimvis', required=True)
    parser.add_argument('--plugin', required=True)
    parser.add_argument('--reference', required=True)
    parser.add_argument('--output', default=tempfile.gettempdir())
    args = parser.parse_args()
    global OUTPUT
    OUTPUT = args.output
    os.makedirs(OUTPUT, exist_ok=True)
    for f in ['index.html', 'page.js', 'tap.js', 'orlimvis.js', 'orlimvis.wasm', 'check.html', 'check.js']:
        if not os.path.exists(os.path.join(args.page, f)):
            sys.exit(f'page_test: {args.page} has no {f}: build the page first (make web)')
    for program in [CHROMIUM, CHROMEDRIVER]:
        if not os.access(program, os.X_OK):
            sys.exit(f'page_test: {program} is missing (make deps installs chromium and chromium-driver)')

    scratch = tempfile.mkdtemp(prefix='orlimvis-page-test-')
    server = serve(args.page)
    base = f'http://127.0.0.1:{server.server_address[1]}'
    driver = None
    try:
        tune = os.path.join(scratch, 'demo.wav')
        made = subprocess.run([args.orlimvis, 'tune', tune, '--duration', '6'], capture_output=True)
        if made.returncode != 0:
            sys.exit(f'page_test: orlimvis tune failed: {made.stderr.decode().strip()}')
        driver = browser(os.path.join(scratch, 'profile'))
        check_frame_hashes(driver, base)
        check_file_play(driver, base, tune)
        check_scripted_pixels(driver, base, args.plugin, args.reference)
        check_bad_input(driver, base, scratch)
    finally:
        if driver:
            driver.quit()
        server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        print(f'{len(failures)} failure(s):\n' + '\n'.join(failures))
        return 1
    print('the page passed every check')
    return 0


if __name__ == '__main__':
    sys.exit(main())
