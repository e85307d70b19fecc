// The page: the browser's audio into the plug-in, the plug-in's frames onto the canvas.
//
// Audio: one AudioContext; the source (the demo tune, a file the browser decodes, the
// microphone, or a tab's or the system's sound) goes through the 'orlimvis-tap'
// AudioWorklet (tap.js), which hands the samples to this page; the page puts them into
// the WebAssembly host's feed (web_host.cpp), which analyses and renders every 25 ms of
// audio time as the samples arrive. A file or the tune is heard (the tap passes it on
// to the speakers); a microphone or a shared tab is not played back.
//
// Display: at each refresh of the display the latest frame, if a new one was rendered,
// goes to the canvas through an ImageData over the host's memory (no copy in here).
//
// URL parameters: module (name or index), seed (0-999), size (WxH; otherwise the
// canvas's own size), sensitivity (0 or none: automatic), input (demo, the default, or
// microphone; tab asks for a click, as browsers share a tab only on one), bare (only the
// canvas, started at once). Errors are one line over the canvas, never only in the
// console.
'use strict';

(() => {
  const params = new URLSearchParams(location.search);
  const bare = params.has('bare') && params.get('bare') !== '0';
  const $ = (id) => document.getElementById(id);
  const canvas = $('canvas');
  const status = $('status');
  const settingsKey = 'orlimvis.plugin.ini';

  // What webKey() answers (web_host.cpp's PageAction).
  const ACTION = {switched: 1, fullscreen: 2, pause: 3, seek: 4, quit: 5};

  const state = {
    wasm: null,
    audio: null,           // AudioContext
    tap: null,             // AudioWorkletNode
    monitor: null,         // GainNode to the speakers: 1 for files and the tune, 0 live
    source: null,          // the node feeding the tap
    stream: null,          // a MediaStream to stop when the source changes
    buffer: null,          // the AudioBuffer playing (tune or file), for seeking
    startedAt: 0,          // audio.currentTime when `buffer` was at `offset`
    offset: 0,
    generation: 0,         // the tap's samples of older sources are dropped
    module: 0,
    seed: -1,
    width: 0, height: 0,
    fixedSize: null,
    dirty: false,
    framesRendered: 0,
    sourceFrames: 0,       // frames rendered from the current source's samples
    // A test drives the spectrum (set before the page loads): no audio is fed, so the
    // module's first frame is the test's.
    scripted: window.orlimvisScripted === true,
    inputName: '',
    error: '',
  };

  function showError(line) {
    state.error = line;
    status.textContent = line;
    status.hidden = false;
  }
  function clearError() {
    state.error = '';
    status.hidden = true;
  }

  function text(pointer) { return state.wasm.UTF8ToString(pointer); }
  function withString(s, fn) {
    const w = state.wasm;
    const length = w.lengthBytesUTF8(s) + 1;
    const p = w._malloc(length);
    w.stringToUTF8(s, p, length);
    try { return fn(p); } finally { w._free(p); }
  }

  // ---- The frame size: the URL's, else the canvas's size on the page.
  function parseSize(value) {
    const m = /^(\d{1,4})x(\d{1,4})$/.exec(value || '');
    if (!m) return null;
    const w = +m[1], h = +m[2];
    return w >= 16 && h >= 16 && w <= 7680 && h <= 4320 ? {w, h} : null;
  }
  function wantedSize() {
    if (state.fixedSize) return state.fixedSize;
    const r = canvas.getBoundingClientRect();
    return {w: Math.max(16, Math.round(r.width)), h: Math.max(16, Math.round(r.height))};
  }

  // ---- Settings: the plug-in's settings file lives in local storage between visits.
  function loadSettings() {
    let saved = null;
    try { saved = localStorage.getItem(settingsKey); } catch (e) { /* storage off */ }
    if (saved) withString(saved, (p) => state.wasm._webSetSettings(p));
  }
  function saveSettings() {
    try { localStorage.setItem(settingsKey, text(state.wasm._webSettings())); } catch (e) { /* storage off */ }
  }

  // ---- Modules.
  function startModule(index) {
    const w = state.wasm;
    const size = wantedSize();
    if (w._webRunning() >= 0) {
      w._webStop();
      saveSettings();
    }
    if (w._webStart(index, size.w, size.h, state.seed) !== 0) {
      showError('The effect did not start: ' + text(w._webError()));
      return false;
    }
    state.module = index;
    state.width = size.w;
    state.height = size.h;
    $('module').value = String(index);
    state.dirty = true;
    return true;
  }

  // ---- Audio sources.
  function newGeneration() {
    state.generation += 1;
    state.sourceFrames = 0;
    state.tap.port.postMessage({generation: state.generation});
    if (state.wasm) state.wasm._webRestartFeed();
  }

  function dropSource() {
    if (state.source) {
      try { state.source.stop && state.source.stop(); } catch (e) { /* not started */ }
      state.source.disconnect();
    }
    if (state.stream) state.stream.getTracks().forEach((t) => t.stop());
    state.source = null;
    state.stream = null;
    state.buffer = null;
  }

  function playBuffer(buffer, offset, name) {
    dropSource();
    const node = state.audio.createBufferSource();
    node.buffer = buffer;
    node.loop = name === 'demo tune';
    node.connect(state.tap);
    state.monitor.gain.value = 1;
    newGeneration();
    node.start(0, offset);
    state.source = node;
    state.buffer = buffer;
    state.offset = offset;
    state.startedAt = state.audio.currentTime;
    state.inputName = name;
    $('now').textContent = name;
  }

  function position() {
    if (!state.buffer) return 0;
    const t = state.offset + (state.audio.currentTime - state.startedAt);
    return state.source && state.source.loop ? t % state.buffer.duration : t;
  }

  function seek(seconds) {
    if (!state.buffer) return;
    const to = Math.min(Math.max(0, position() + seconds), Math.max(0, state.buffer.duration - 0.05));
    playBuffer(state.buffer, to, state.inputName);
  }

  function playDemoTune() {
    const w = state.wasm;
    const frames = w._webDemoTuneFrames();
    const at = w._webDemoTune() >> 2;
    const samples = w.HEAPF32.subarray(at, at + frames * 2);
    const buffer = state.audio.createBuffer(2, frames, w._webDemoTuneRate());
    const left = buffer.getChannelData(0), right = buffer.getChannelData(1);
    for (let i = 0; i < frames; ++i) {
      left[i] = samples[i * 2];
      right[i] = samples[i * 2 + 1];
    }
    clearError();
    playBuffer(buffer, 0, 'demo tune');
  }

  async function playFile(file) {
    if (!file) return;
    let data;
    try {
      data = await file.arrayBuffer();
    } catch (e) {
      showError(`${file.name} could not be read: ${e.message}`);
      return;
    }
    let buffer;
    try {
      buffer = await state.audio.decodeAudioData(data);
    } catch (e) {
      showError(`${file.name} is not audio this browser can decode.`);
      return;
    }
    clearError();
    playBuffer(buffer, 0, file.name);
  }

  function playStream(stream, name) {
    dropSource();
    const node = state.audio.createMediaStreamSource(stream);
    node.connect(state.tap);
    state.monitor.gain.value = 0;  // live sound is not played back
    newGeneration();
    state.source = node;
    state.stream = stream;
    state.inputName = name;
    $('now').textContent = name;
    clearError();
  }

  async function useMicrophone() {
    if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) {
      showError('This browser offers no microphone to pages (it needs https or localhost).');
      return;
    }
    try {
      const stream = await navigator.mediaDevices.getUserMedia({
        audio: {echoCancellation: false, noiseSuppression: false, autoGainControl: false}});
      playStream(stream, 'microphone');
    } catch (e) {
      showError(e.name === 'NotAllowedError'
        ? 'The microphone was not allowed: allow it for this page to see what it hears.'
        : `No microphone: ${e.message || e.name}.`);
    }
  }

  async function useTab() {
    if (!navigator.mediaDevices || !navigator.mediaDevices.getDisplayMedia) {
      showError('This browser cannot share a tab\'s or the system\'s sound with a page.');
      return;
    }
    try {
      const stream = await navigator.mediaDevices.getDisplayMedia({video: true, audio: true});
      stream.getVideoTracks().forEach((t) => t.stop());
      if (!stream.getAudioTracks().length) {
        showError('What was shared carries no sound: share a tab (or the screen) with its audio ticked.');
        return;
      }
      playStream(stream, 'shared sound');
    } catch (e) {
      showError(e.name === 'NotAllowedError'
        ? 'Sharing was not allowed, so there is no sound to show.'
        : `No sound to share: ${e.message || e.name}.`);
    }
  }

  // ---- Samples in, frames out.
  function onSamples(e) {
    if (e.data.generation !== state.generation || state.scripted) return;
    const w = state.wasm;
    const samples = e.data.samples;
    const frames = samples.length / 2;
    const at = w._webInput(frames) >> 2;
    w.HEAPF32.set(samples, at);
    const rendered = w._webFeed(frames);
    if (rendered > 0) {
      state.framesRendered += rendered;
      state.sourceFrames += rendered;
      state.dirty = true;
    }
  }

  const context2d = canvas.getContext('2d', {alpha: false});
  function draw() {
    requestAnimationFrame(draw);
    if (!state.dirty) return;
    state.dirty = false;
    showFrame();
  }
  function showFrame() {
    const w = state.wasm;
    const pixels = w._webFramePixels();
    const width = w._webFrameWidth(), height = w._webFrameHeight();
    if (!pixels || !width) return;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    const view = new Uint8ClampedArray(w.HEAPU8.buffer, pixels, width * height * 4);
    context2d.putImageData(new ImageData(view, width, height), 0, 0);
  }

  function followCanvasSize() {
    if (state.fixedSize) return;
    new ResizeObserver(() => {
      const size = wantedSize();
      if (size.w === state.width && size.h === state.height) return;
      state.width = size.w;
      state.height = size.h;
      state.wasm._webResize(size.w, size.h);
      state.dirty = true;
    }).observe(canvas);
  }

  // ---- Keys: `play`'s, through the plug-in, as in orlimvis.
  const KEYS = {' ': 0x20, 'ArrowLeft': 0x25, 'ArrowRight': 0x27, 'Escape': 0x1b};
  function virtualKey(e) {
    if (KEYS[e.key]) return KEYS[e.key];
    if (/^[0-9a-zA-Z]$/.test(e.key)) return e.key.toUpperCase().charCodeAt(0);
    return 0;
  }
  function onKey(e) {
    if (e.target.closest && e.target.closest('input, select, button')) {
      if (e.key !== 'Escape') return;
    }
    const vk = virtualKey(e);
    if (!vk || e.ctrlKey || e.altKey || e.metaKey || !state.wasm) return;
    e.preventDefault();
    const action = state.wasm._webKey(vk, state.buffer ? 1 : 0);
    if (action === ACTION.switched) startModule(state.wasm._webKeyModule());
    else if (action === ACTION.fullscreen) toggleFullscreen();
    else if (action === ACTION.pause) togglePause();
    else if (action === ACTION.seek) seek(state.wasm._webKeySeek());
    else if (action === ACTION.quit && document.fullscreenElement) document.exitFullscreen();
  }
  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen();
    else canvas.requestFullscreen().catch((e) => showError(`No full screen: ${e.message}`));
  }
  function togglePause() {
    const done = state.audio.state === 'running' ? state.audio.suspend() : state.audio.resume();
    done.then(() => { $('pause').textContent = state.audio.state === 'running' ? 'Pause' : 'Play'; });
  }

  function wireControls() {
    const select = $('module');
    const count = state.wasm._webModuleCount();
    for (let i = 0; i < count; ++i) {
      const option = document.createElement('option');
      option.value = String(i);
      option.textContent = `${i + 1} ${text(state.wasm._webModuleName(i))}`;
      select.appendChild(option);
    }
    select.addEventListener('change', () => startModule(+select.value));
    const seed = $('seed');
    if (state.seed >= 0) seed.value = String(state.seed);
    seed.addEventListener('change', () => {
      const v = seed.value === '' ? -1 : Math.trunc(+seed.value);
      if (!(v === -1 || (v >= 0 && v <= 999))) {
        showError('The seed is a whole number from 0 to 999.');
        return;
      }
      state.seed = v;
      startModule(state.module);
    });
    $('demo').addEventListener('click', playDemoTune);
    $('file').addEventListener('change', (e) => playFile(e.target.files[0]));
    $('microphone').addEventListener('click', useMicrophone);
    $('tab').addEventListener('click', useTab);
    $('pause').addEventListener('click', togglePause);
    document.addEventListener('keydown', onKey);
    document.addEventListener('dragover', (e) => {
      e.preventDefault();
      document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    document.addEventListener('drop', (e) => {
      e.preventDefault();
      document.body.classList.remove('dragging');
      if (e.dataTransfer.files.length) playFile(e.dataTransfer.files[0]);
    });
    window.addEventListener('pagehide', () => {
      state.wasm._webStop();
      saveSettings();
    });
  }

  // ---- What the page's test drives (tests/web/page_test.py), with
  // window.orlimvisScripted set before the page loads.
  window.orlimvis = {
    state,
    // Renders one frame from 2 x 576 spectrum bytes and shows it at once.
    render(bytes) {
      const w = state.wasm;
      w.HEAPU8.set(bytes, w._webSpectrumBuffer());
      w._webRenderSpectrum();
      state.framesRendered += 1;
      showFrame();
    },
  };

  // ---- Start.
  async function start() {
    if (bare) document.body.classList.add('bare');
    state.fixedSize = params.has('size') ? parseSize(params.get('size')) : null;
    if (params.has('size') && !state.fixedSize) {
      showError(`size=${params.get('size')}: give it as WIDTHxHEIGHT, such as 1280x720.`);
      return;
    }
    if (state.fixedSize) {
      document.body.classList.add('fixed');
      canvas.width = state.fixedSize.w;
      canvas.height = state.fixedSize.h;
    }
    if (params.has('seed')) {
      const s = params.get('seed');
      if (!/^\d{1,3}$/.test(s)) {
        showError(`seed=${s}: the seed is a whole number from 0 to 999.`);
        return;
      }
      state.seed = +s;
    }
    let sensitivity = 0;
    if (params.has('sensitivity')) {
      sensitivity = Number(params.get('sensitivity'));
      if (!isFinite(sensitivity) || params.get('sensitivity') === '') {
        showError(`sensitivity=${params.get('sensitivity')}: give a number (0 for automatic).`);
        return;
      }
    }
    if (typeof AudioContext === 'undefined' || typeof AudioWorkletNode === 'undefined') {
      showError(window.isSecureContext
        ? 'This browser has no AudioWorklet, which the page needs to hear the music.'
        : 'The page needs AudioWorklet, which browsers give only to https and localhost pages.');
      return;
    }
    if (typeof OrlimvisModule !== 'function') {
      showError('orlimvis.js did not load: the page is missing its script.');
      return;
    }
    try {
      state.wasm = await OrlimvisModule();
    } catch (e) {
      showError(`The effects did not load (orlimvis.wasm): ${e.message || e}`);
      return;
    }
    state.audio = new AudioContext({latencyHint: 'interactive'});
    try {
      await state.audio.audioWorklet.addModule('tap.js');
    } catch (e) {
      showError(`The audio tap did not load (tap.js): ${e.message || e}`);
      return;
    }
    state.tap = new AudioWorkletNode(state.audio, 'orlimvis-tap', {
      numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [2],
      channelCount: 2, channelCountMode: 'explicit', channelInterpretation: 'speakers'});
    state.tap.port.onmessage = onSamples;
    state.monitor = state.audio.createGain();
    state.tap.connect(state.monitor).connect(state.audio.destination);

    loadSettings();
    if (state.wasm._webOpen(state.audio.sampleRate, sensitivity) !== 0) {
      showError(text(state.wasm._webError()));
      return;
    }
    let index = 0;
    if (params.has('module')) {
      index = withString(params.get('module'), (p) => state.wasm._webFindModule(p));
      if (index < 0) {
        const names = [];
        for (let i = 0; i < state.wasm._webModuleCount(); ++i) names.push(text(state.wasm._webModuleName(i)));
        showError(`module=${params.get('module')}: no such effect (${names.join(', ')}, or 0-${names.length - 1}).`);
        return;
      }
    }
    const input = params.get('input') || 'demo';
    if (!['demo', 'microphone', 'tab'].includes(input)) {
      showError(`input=${input}: give demo, microphone or tab.`);
      return;
    }
    wireControls();
    if (!startModule(index)) return;
    followCanvasSize();
    requestAnimationFrame(draw);
    if (input === 'microphone') useMicrophone();
    else playDemoTune();
    // Browsers start audio only after a click unless the page may play by itself
    // (streaming software's browser sources may), and share a tab only on a click.
    if (state.audio.state !== 'running' || input === 'tab') {
      const button = $('start');
      button.textContent = input === 'tab' ? 'Click to share a tab\'s sound' : 'Click to start';
      button.hidden = false;
      button.addEventListener('click', () => {
        state.audio.resume();
        button.hidden = true;
        if (input === 'tab') useTab();
      });
    }
  }

  start().catch((e) => showError(`The page stopped: ${e.message || e}`));
})();
