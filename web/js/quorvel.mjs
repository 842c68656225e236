// The effects in JavaScript, on the WebAssembly module built from web/:
// chains described by the same chain-file JSON the command-line tool reads,
// rendered block by block on Float32Array channels, with the native bits.

// Wraps a loaded module (what the generated factory's promise gives).
export class Quorvel {
  constructor(module) {
    this.module = module;
    this.effects = this.effectsAt(48000);
  }

  // The effect types and their parameter tables with each maximum the
  // largest value the rules take at `rate` Hz (the delay line holds less
  // time at higher rates); throws Error for a rate the rules refuse.
  effectsAt(rate) {
    const m = this.module;
    const text = m._qv_effects_json(Number(rate));
    if (text === 0) throw new Error(lastError(m));
    return JSON.parse(m.UTF8ToString(text));
  }

  // Loads the module through the emscripten-generated factory `createModule`
  // from `wasmBytes` (an ArrayBuffer or typed array of quorvel-effects.wasm).
  static async load(createModule, wasmBytes) {
    // locateFile keeps the loader from resolving the .wasm's URL itself: an
    // AudioWorklet's scope has no URL class, and the bytes are given anyway.
    return new Quorvel(await createModule({ wasmBinary: wasmBytes, locateFile: (path) => path }));
  }

  // A chain for `channels` channels at `rate` Hz; throws Error with the
  // library's message for anything the other front ends refuse.
  chain(chainJson, rate, channels) {
    const text = typeof chainJson === 'string' ? chainJson : chainText(chainJson);
    const handle = this.withString(text, (p, length) =>
      this.module._qv_chain_create(p, length, Number(rate), Number(channels)));
    if (handle === 0) throw new Error(lastError(this.module));
    return new Chain(this, handle, Number(channels));
  }

  // Copies `text` into the module's memory for the length of `use`, which
  // gets the pointer and the length in bytes (the text may hold NUL bytes).
  withString(text, use) {
    const m = this.module;
    const length = m.lengthBytesUTF8(text);
    const pointer = m._malloc(length + 1);
    if (pointer === 0) throw new Error(`no memory for a text of ${text.length} characters`);
    try {
      m.stringToUTF8(text, pointer, length + 1);
      return use(pointer, length);
    } finally {
      m._free(pointer);
    }
  }
}

// The module's last refusal. The message quotes what was given, NUL bytes
// included, and the loader's UTF8ToString stops at the first NUL: each
// piece between them is decoded on its own.
function lastError(m) {
  const start = m._qv_last_error();
  const bytes = new Uint8Array(m.HEAPF32.buffer, start, m._qv_last_error_length());
  const pieces = [];
  let from = 0;
  for (let at = 0; at <= bytes.length; at++) {
    if (at === bytes.length || bytes[at] === 0) {
      pieces.push(at > from ? m.UTF8ToString(start + from, at - from) : '');
      from = at + 1;
    }
  }
  return pieces.join('\0');
}

// A chain given as objects, as chain-file text. JSON has no NaN or
// infinity and leaves out what it cannot write; written as they are, a
// parameter set to undefined would quietly take its default and NaN would
// be refused as no number at all. So a number JSON cannot hold goes as its
// text ("NaN", refused by the value grammar), a BigInt as its digits, and
// anything else JSON cannot write as null (refused as no value).
export function chainText(chain) {
  return JSON.stringify(chain, (key, value) => {
    if (typeof value === 'number' && !Number.isFinite(value)) return String(value);
    if (typeof value === 'bigint') return value.toString();
    if (value === undefined || typeof value === 'function' || typeof value === 'symbol') return null;
    return value;
  });
}

// What a value that is neither a number, a boolean nor text is, for messages.
function typeName(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'array';
  return typeof value;
}

// A running chain: its effects keep their state from block to block.
export class Chain {
  constructor(quorvel, handle, channels) {
    this.quorvel = quorvel;
    this.handle = handle;
    this.channels = channels;
    this.size = quorvel.module._qv_chain_size(handle);
    this.capacity = 0;
    this.buffer = 0;
  }

  // Sets a parameter of effect `index` from text ("25ms", "0.4"), a number
  // or a boolean, as the rules read each; heard from the next block on.
  // Throws Error with the rules' message, and the effect keeps its value,
  // when they refuse it.
  set(index, key, value) {
    const m = this.quorvel.module;
    // The module takes an unsigned index: NaN or -1 must not become effect 0 or 4294967295.
    if (!Number.isInteger(index) || index < 0 || index >= this.size) {
      throw new Error(`no effect ${String(index)} (the chain has ${this.size})`);
    }
    const status = this.quorvel.withString(String(key), (k, kl) => {
      switch (typeof value) {
        case 'number': return m._qv_chain_set_number(this.handle, index, k, kl, value);
        case 'string':
        case 'boolean':
        case 'bigint':
          return this.quorvel.withString(String(value), (v, vl) =>
            m._qv_chain_set(this.handle, index, k, kl, v, vl));
        default:
          return this.quorvel.withString(typeName(value), (t) =>
            m._qv_chain_refuse_type(this.handle, index, k, kl, t));
      }
    });
    if (status !== 0) throw new Error(lastError(m));
  }

  // What parameter `key` of effect `index` stores now (a switch as 0 or 1);
  // NaN when there is no such effect or parameter.
  get(index, key) {
    if (!Number.isInteger(index) || index < 0 || index >= this.size) return NaN;
    return this.quorvel.withString(String(key), (k, kl) =>
      this.quorvel.module._qv_chain_get(this.handle, index, k, kl));
  }

  // Processes one block in place: `channels` Float32Arrays of equal length.
  process(channels) {
    const m = this.quorvel.module;
    const frames = channels[0].length;
    const needed = frames * this.channels;
    if (needed > this.capacity) {
      if (this.buffer) m._free(this.buffer);
      this.buffer = m._malloc(needed * 4);
      this.capacity = needed;
    }
    // The heap may have grown (and moved) since the last block.
    const heap = new Float32Array(m.HEAPF32.buffer, this.buffer, needed);
    channels.forEach((samples, c) => heap.set(samples, c * frames));
    m._qv_chain_process(this.handle, this.buffer, frames);
    const out = new Float32Array(m.HEAPF32.buffer, this.buffer, needed);
    channels.forEach((samples, c) => samples.set(out.subarray(c * frames, (c + 1) * frames)));
  }

  // Frees the chain; it cannot be used afterwards.
  destroy() {
    const m = this.quorvel.module;
    if (this.buffer) m._free(this.buffer);
    m._qv_chain_destroy(this.handle);
    this.handle = 0;
  }
}

// Renders whole channels through a fresh chain, `block` frames at a time;
// returns new Float32Arrays.
export function render(quorvel, channels, rate, chainJson, block = 128) {
  const chain = quorvel.chain(chainJson, rate, channels.length);
  try {
    const out = channels.map((c) => Float32Array.from(c));
    for (let start = 0; start < out[0].length; start += block) {
      chain.process(out.map((c) => c.subarray(start, Math.min(start + block, c.length))));
    }
    return out;
  } finally {
    chain.destroy();
  }
}
