// The demo page: a sound (a file or a generated test signal) through the
// chosen effects, heard live through the effect nodes, drawn dry and wet,
// and rendered offline into a float WAV with the chain the page shows.
import { effectNodes, loadQuorvel, render } from './js/index.mjs';
import createModule from './js/quorvel-effects.mjs';
import { Quorvel } from './js/quorvel.mjs';

const $ = (id) => document.getElementById(id);
const state = {
  buffer: null,      // the dry AudioBuffer
  name: '',
  settings: {},      // effect name -> {use, values: {key: number | boolean | text}}
  order: [],         // effect names, in chain order
  table: {},         // effect name -> parameter table
  context: null,     // the live AudioContext
  loaded: null,      // loadQuorvel's answer for the live context
  nodes: [],         // live [{name, node}]
  source: null,
  quorvel: null,     // main-thread module, to check a chain before it runs
  wetTimer: 0,
  wetVersion: 0,
};

function showError(text) {
  const box = $('message');
  box.textContent = text;
  box.hidden = false;
}
function clearError() {
  $('message').hidden = true;
  $('message').textContent = '';
}
const status = (text) => { $('status').textContent = text; };

// The chain file for the current settings: only the effects in use, and
// for each only the values that differ from the table's defaults.
function chainJson() {
  const effects = [];
  for (const name of state.order) {
    const s = state.settings[name];
    if (!s.use) continue;
    const parameters = {};
    for (const p of state.table[name]) {
      const value = s.values[p.key];
      const isDefault = p.type === 'boolean' ? value === (p.default !== 0) : value === p.default;
      if (!isDefault) parameters[p.key] = value;
    }
    effects.push(Object.keys(parameters).length ? { name, parameters } : { name });
  }
  return { effects };
}

// Throws the library's message when the chain would be refused for the
// current sound; the page then says so instead of playing or writing silence.
function checkChain(chain) {
  if (!state.quorvel) return;
  const { sampleRate = 48000, numberOfChannels = 2 } = state.buffer || {};
  state.quorvel.chain(chain, sampleRate, numberOfChannels).destroy();
}

function settingsChanged() {
  const chain = chainJson();
  $('chain').textContent = JSON.stringify(chain, null, 2);
  try {
    checkChain(chain);
    clearError();
  } catch (error) {
    // A wet view still pending is of settings the page no longer shows.
    cancelWet();
    showError(error.message);
    return false;
  }
  scheduleWet(chain);
  return true;
}

// --- Controls, built from the parameter table -------------------------------

function formatValue(p, value) {
  if (p.type === 'integer') return String(value);
  return String(Number(value.toPrecision(4)));
}

// What a typed value goes into the chain as: a number only when the text is
// that finite number as JavaScript writes it ("3.5", "-2", "1e-7"; a chain
// file has no NaN or Infinity to show), otherwise the
// text itself for the rules to read or refuse. Number() reads more than the
// value grammar ("0x10", "0b1", "1e400" as Infinity) and rounds what the
// rules judge digit by digit ("350.0000000000000001" is no whole number of
// ms), so converting anything else would accept what the tool refuses.
function typedValue(typed) {
  const text = typed.trim();
  const number = Number(text);
  return Number.isFinite(number) && String(number) === text ? number : text;
}

// The sliders' ends for the sound's rate: the delay line holds less time
// at higher rates, and a slider must not reach a value the rules refuse.
function fitControls(rate) {
  for (const type of state.quorvel.effectsAt(rate)) {
    for (const p of type.parameters) {
      const slider = $(`${type.name}-${p.key}`);
      if (slider && slider.type === 'range') slider.max = p.maximum;
    }
  }
}

function buildControls(effects) {
  const holder = $('effects');
  holder.textContent = '';
  for (const type of effects) {
    state.order.push(type.name);
    state.table[type.name] = type.parameters;
    const values = {};
    const set = (state.settings[type.name] = { use: false, values });
    const box = document.createElement('fieldset');
    box.className = 'off';
    const legend = document.createElement('legend');
    const use = document.createElement('input');
    use.type = 'checkbox';
    use.id = `use-${type.name}`;
    const useLabel = document.createElement('label');
    useLabel.append(use, ` ${type.name}`);
    legend.append(useLabel);
    box.append(legend);
    use.addEventListener('change', () => {
      set.use = use.checked;
      box.className = use.checked ? '' : 'off';
      if (settingsChanged()) restartIfPlaying();
    });
    const controls = document.createElement('div');
    controls.className = 'controls';
    for (const p of type.parameters) {
      const id = `${type.name}-${p.key}`;
      const row = document.createElement('div');
      row.className = 'control';
      const label = document.createElement('label');
      label.htmlFor = id;
      label.textContent = p.key;
      label.title = p.description;
      row.append(label);
      if (p.type === 'boolean') {
        values[p.key] = p.default !== 0;
        const check = document.createElement('input');
        check.type = 'checkbox';
        check.id = id;
        check.checked = values[p.key];
        check.title = p.description;
        check.addEventListener('change', () => {
          values[p.key] = check.checked;
          changed(type.name, p.key, check.checked);
        });
        row.append(check, document.createElement('span'), document.createElement('span'));
      } else {
        values[p.key] = p.default;
        const slider = document.createElement('input');
        slider.type = 'range';
        slider.id = id;
        slider.min = p.minimum;
        slider.max = p.maximum;
        slider.step = p.type === 'integer' ? 1 : 'any';
        slider.value = p.default;
        slider.title = p.description;
        // The value as text too: the library's value text ("25ms") is accepted there.
        const text = document.createElement('input');
        text.type = 'text';
        text.id = `${id}-text`;
        text.value = formatValue(p, p.default);
        text.setAttribute('aria-label', `${type.name} ${p.key} value`);
        const unit = document.createElement('span');
        unit.textContent = p.unit;
        slider.addEventListener('input', () => {
          const value = Number(slider.value);
          values[p.key] = value;
          text.value = formatValue(p, value);
          changed(type.name, p.key, value);
        });
        text.addEventListener('change', () => {
          values[p.key] = typedValue(text.value);
          if (typeof values[p.key] === 'number') slider.value = values[p.key];
          changed(type.name, p.key, values[p.key]);
        });
        row.append(slider, text, unit);
      }
      controls.append(row);
    }
    box.append(controls);
    holder.append(box);
  }
}

// A parameter moved: into the live node of that effect, if it plays.
function changed(name, key, value) {
  if (!settingsChanged()) return;
  const live = state.nodes.find((n) => n.name === name);
  if (live) live.node.setParameter(key, value).catch((error) => showError(error.message));
}

// --- Input -------------------------------------------------------------------

// The sample rate a WAV file declares, so that decoding keeps its samples
// as they are (decodeAudioData resamples to its context's rate).
function wavRate(bytes) {
  const view = new DataView(bytes);
  const tag = (at) => String.fromCharCode(...new Uint8Array(bytes, at, 4));
  if (bytes.byteLength < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') return 0;
  for (let at = 12; at + 8 <= bytes.byteLength; at += 8 + view.getUint32(at + 4, true) + (view.getUint32(at + 4, true) & 1)) {
    if (tag(at) === 'fmt ' && at + 16 <= bytes.byteLength) return view.getUint32(at + 12, true);
  }
  return 0;
}

async function openFile(file) {
  clearError();
  status(`Reading ${file.name}…`);
  try {
    const bytes = await file.arrayBuffer();
    const rate = wavRate(bytes);
    const decoder = new OfflineAudioContext(1, 1, rate >= 3000 && rate <= 768000 ? rate : 48000);
    let buffer;
    try {
      buffer = await decoder.decodeAudioData(bytes);
    } catch (error) {
      throw new Error(`${file.name}: not a sound file this browser can read (${error.message || error.name})`);
    }
    if (buffer.length === 0) throw new Error(`${file.name}: no samples in the file`);
    useSound(buffer, file.name);
  } catch (error) {
    status('');
    showError(error.message);
  }
}

// Four seconds of stereo at 48 kHz: plucked tones, clicks and a rising sweep,
// so that echoes, sweeps and the pitch wobble of each effect stand out.
function testSignal() {
  const rate = 48000, frames = rate * 4;
  const buffer = new AudioBuffer({ numberOfChannels: 2, length: frames, sampleRate: rate });
  const left = new Float32Array(frames), right = new Float32Array(frames);
  const notes = [220, 277.18, 329.63, 440];
  notes.forEach((frequency, n) => {
    const start = Math.round(n * 0.4 * rate);
    for (let f = 0; f < rate * 0.8 && start + f < frames; f++) {
      const t = f / rate;
      const v = 0.3 * Math.exp(-5 * t) * (Math.sin(2 * Math.PI * frequency * t) + 0.3 * Math.sin(4 * Math.PI * frequency * t));
      left[start + f] += v * (n % 2 ? 0.5 : 1);
      right[start + f] += v * (n % 2 ? 1 : 0.5);
    }
  });
  for (let k = 0; k < 4; k++) left[Math.round((2 + k * 0.125) * rate)] = 0.9;
  right[Math.round(2.5 * rate)] = 0.9;
  const sweepStart = 2.75 * rate, sweepLength = 1.25 * rate;
  let phase = 0;
  for (let f = 0; f < sweepLength - 1; f++) {
    const frequency = 100 * Math.pow(80, f / sweepLength);
    phase += (2 * Math.PI * frequency) / rate;
    const fade = Math.min(1, f / 480, (sweepLength - f) / 480);
    left[sweepStart + f] += 0.25 * fade * Math.sin(phase);
    right[sweepStart + f] += 0.25 * fade * Math.sin(phase + Math.PI / 2);
  }
  buffer.copyToChannel(left, 0);
  buffer.copyToChannel(right, 1);
  return buffer;
}

function useSound(buffer, name) {
  stop();
  state.buffer = buffer;
  state.name = name;
  $('input-info').textContent = `${name}: ${buffer.numberOfChannels} channel${buffer.numberOfChannels > 1 ? 's' : ''}, ` +
    `${buffer.sampleRate} Hz, ${(buffer.length / buffer.sampleRate).toFixed(2)} s`;
  $('play').disabled = false;
  $('download').disabled = false;
  status('');
  fitControls(buffer.sampleRate);
  drawWave($('wave-dry'), buffer);
  drawSonogram($('sonogram-dry'), buffer.getChannelData(0), buffer.sampleRate);
  settingsChanged();
}

// --- Live playback ------------------------------------------------------------

async function play() {
  if (!state.buffer) return;
  stop();
  const chain = chainJson();
  try {
    checkChain(chain);
  } catch (error) {
    showError(error.message);
    return;
  }
  try {
    if (!state.context) {
      state.context = new AudioContext();
      // The context's state on the page, for whoever wonders why nothing is heard.
      const shown = () => { document.body.dataset.audio = state.context.state; };
      state.context.onstatechange = shown;
      shown();
      state.loaded = await loadQuorvel(state.context);
    }
    const context = state.context;
    await context.resume();
    const channels = state.buffer.numberOfChannels;
    const Nodes = effectNodes(state.loaded);
    // One node per effect in use, in series: each takes its own setParameter.
    const nodes = chain.effects.map(({ name, parameters }) => ({
      name, node: new Nodes[name](context, state.loaded, parameters || {}, channels),
    }));
    await Promise.all(nodes.map((n) => n.node.ready));
    const source = context.createBufferSource();
    source.buffer = state.buffer;
    let last = source;
    for (const { node } of nodes) last = last.connect(node);
    last.connect(context.destination);
    source.onended = () => {
      if (state.source === source) stop();
    };
    source.start();
    state.source = source;
    state.nodes = nodes;
    $('stop').disabled = false;
    status('Playing');
  } catch (error) {
    stop();
    showError(error.message);
  }
}

function stop() {
  if (state.source) {
    const source = state.source;
    state.source = null;
    source.onended = null;
    try { source.stop(); } catch { /* not started */ }
    source.disconnect();
  }
  for (const { node } of state.nodes) node.disconnect();
  state.nodes = [];
  $('stop').disabled = true;
  if ($('status').textContent === 'Playing') status('');
}

// Effects added or removed while playing: play again with the new chain.
function restartIfPlaying() {
  if (state.source) play();
}

// --- Offline render and download ---------------------------------------------

function floatWav(buffer) {
  const channels = buffer.numberOfChannels, frames = buffer.length;
  const bytes = new ArrayBuffer(44 + frames * channels * 4);
  const view = new DataView(bytes);
  const text = (at, s) => [...s].forEach((ch, i) => view.setUint8(at + i, ch.charCodeAt(0)));
  text(0, 'RIFF');
  view.setUint32(4, 36 + frames * channels * 4, true);
  text(8, 'WAVEfmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, 3, true);  // IEEE float
  view.setUint16(22, channels, true);
  view.setUint32(24, buffer.sampleRate, true);
  view.setUint32(28, buffer.sampleRate * channels * 4, true);
  view.setUint16(32, channels * 4, true);
  view.setUint16(34, 32, true);
  text(36, 'data');
  view.setUint32(40, frames * channels * 4, true);
  const data = Array.from({ length: channels }, (_, c) => buffer.getChannelData(c));
  let at = 44;
  for (let f = 0; f < frames; f++) {
    for (let c = 0; c < channels; c++, at += 4) view.setFloat32(at, data[c][f], true);
  }
  return new Blob([bytes], { type: 'audio/wav' });
}

async function download() {
  if (!state.buffer) return;
  const chain = chainJson();
  try {
    checkChain(chain);
    status('Rendering…');
    const wet = await render(state.buffer, chain);
    const link = document.createElement('a');
    link.href = URL.createObjectURL(floatWav(wet));
    link.download = `${state.name.replace(/\.[^.]*$/, '') || 'sound'}-processed.wav`;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    status('Rendered');
  } catch (error) {
    status('');
    showError(error.message);
  }
}

// The wet views follow the settings, a moment after they stop moving: the
// chain as it was when scheduled, which the rules accepted.
function scheduleWet(chain = chainJson()) {
  cancelWet();
  if (!state.buffer) return;
  const version = state.wetVersion;
  state.wetTimer = setTimeout(async () => {
    try {
      const wet = await render(state.buffer, chain);
      if (version !== state.wetVersion) return;
      drawWave($('wave-wet'), wet);
      drawSonogram($('sonogram-wet'), wet.getChannelData(0), wet.sampleRate);
    } catch (error) {
      if (version === state.wetVersion) showError(error.message);
    }
  }, 250);
}

// Drops a pending wet view and makes one already rendering drop its result.
function cancelWet() {
  clearTimeout(state.wetTimer);
  ++state.wetVersion;
}

// --- Drawing --------------------------------------------------------------------

function drawWave(canvas, buffer) {
  const g = canvas.getContext('2d');
  const { width, height } = canvas;
  g.fillStyle = '#111';
  g.fillRect(0, 0, width, height);
  const channels = buffer.numberOfChannels;
  const lane = height / channels;
  const colours = ['#6cf', '#fc6'];
  for (let c = 0; c < channels; c++) {
    const data = buffer.getChannelData(c);
    const per = data.length / width;
    const middle = lane * (c + 0.5);
    g.fillStyle = colours[c % 2];
    for (let x = 0; x < width; x++) {
      let low = 0, high = 0;
      const end = Math.min(data.length, Math.floor((x + 1) * per));
      for (let i = Math.floor(x * per); i < end; i++) {
        if (data[i] < low) low = data[i];
        if (data[i] > high) high = data[i];
      }
      const top = middle - Math.min(1, high) * lane / 2, bottom = middle - Math.max(-1, low) * lane / 2;
      g.fillRect(x, top, 1, Math.max(1, bottom - top));
    }
  }
}

// In-place radix-2 FFT of re/im (length a power of two).
function fft(re, im) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      [re[i], re[j]] = [re[j], re[i]];
      [im[i], im[j]] = [im[j], im[i]];
    }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const step = (-2 * Math.PI) / size;
    for (let start = 0; start < n; start += size) {
      for (let k = 0; k < size / 2; k++) {
        const wr = Math.cos(step * k), wi = Math.sin(step * k);
        const a = start + k, b = a + size / 2;
        const tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
      }
    }
  }
}

// Short-time power by frequency, one column per canvas pixel, log frequency from 50 Hz
// to Nyquist, magnitude in dB over 90 dB of range.
function drawSonogram(canvas, samples, rate) {
  const g = canvas.getContext('2d');
  const { width, height } = canvas;
  const size = 1024;
  const window = Float32Array.from({ length: size }, (_, i) => 0.5 - 0.5 * Math.cos((2 * Math.PI * i) / size));
  const image = g.createImageData(width, height);
  const re = new Float64Array(size), im = new Float64Array(size);
  const low = Math.log(50), high = Math.log(rate / 2);
  const rows = Array.from({ length: height }, (_, y) =>
    Math.min(size / 2 - 1, Math.round((Math.exp(low + ((height - 1 - y) / (height - 1)) * (high - low)) / rate) * size)));
  for (let x = 0; x < width; x++) {
    const centre = Math.floor(((x + 0.5) / width) * samples.length);
    for (let i = 0; i < size; i++) {
      const at = centre - size / 2 + i;
      re[i] = at >= 0 && at < samples.length ? samples[at] * window[i] : 0;
      im[i] = 0;
    }
    fft(re, im);
    for (let y = 0; y < height; y++) {
      const k = rows[y];
      const db = 10 * Math.log10((re[k] * re[k] + im[k] * im[k]) / (size * size / 16) + 1e-12);
      const level = Math.max(0, Math.min(1, (db + 90) / 90));
      const p = (y * width + x) * 4;
      image.data[p] = 255 * Math.min(1, level * 1.8);
      image.data[p + 1] = 255 * Math.max(0, level * 1.8 - 0.8);
      image.data[p + 2] = 255 * Math.max(0, Math.min(1, level * 3) - level * 1.5);
      image.data[p + 3] = 255;
    }
  }
  g.putImageData(image, 0, 0);
}

// --- Start ------------------------------------------------------------------------

async function start() {
  try {
    const loaded = await loadQuorvel(new OfflineAudioContext(1, 1, 48000));
    state.quorvel = await Quorvel.load(createModule, loaded.wasmBytes.slice(0));
    buildControls(loaded.effects);
  } catch (error) {
    $('effects').textContent = '';
    showError(`The effects module did not load: ${error.message}`);
    return;
  }
  $('file').addEventListener('change', () => {
    const file = $('file').files[0];
    if (file) openFile(file);
  });
  $('test-signal').addEventListener('click', () => useSound(testSignal(), 'test-signal'));
  $('play').addEventListener('click', play);
  $('stop').addEventListener('click', stop);
  $('download').addEventListener('click', download);
  $('chain').textContent = JSON.stringify(chainJson(), null, 2);
  document.body.dataset.ready = 'true';
}

start();
