// The effects in JavaScript, on the WebAssembly module built from web/:
// chains described by the same chain-file JSON the command-line tool reads,
// rendered block by block on Float32Array channels, with the native bits.

// Wraps a loaded module (what the generated factory's promise gives).
export class Quorvel {
  constructor(module) {
    this.module = module;
    this.effects = JSON.parse(module.UTF8ToString(module._qv_effects_json()));
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
    const text = typeof chainJson === 'string' ? chainJson : JSON.stringify(chainJson);
    const handle = this.withString(text, (p) => this.module._qv_chain_create(p, rate, channels));
    if (handle === 0) throw new Error(this.module.UTF8ToString(this.module._qv_last_error()));
    return new Chain(this, handle, channels);
  }

  // Copies `text` into the module's memory for the length of `use`.
  withString(text, use) {
    const m = this.module;
    const size = m.lengthBytesUTF8(text) + 1;
    const pointer = m._malloc(size);
    try {
      m.stringToUTF8(text, pointer, size);
      return use(pointer);
    } finally {
      m._free(pointer);
    }
  }
}

// A running chain: its effects keep their state from block to block.
export class Chain {
  constructor(quorvel, handle, channels) {
    this.quorvel = quorvel;
    this.handle = handle;
    this.channels = channels;
    this.capacity = 0;
    this.buffer = 0;
  }

  // Sets a parameter of effect `index` from text ("25ms", "0.4") or a number;
  // heard from the next block on.
  set(index, key, value) {
    const m = this.quorvel.module;
    const status = this.quorvel.withString(String(key), (k) =>
      this.quorvel.withString(String(value), (v) => m._qv_chain_set(this.handle, index, k, v)));
    if (status !== 0) throw new Error(m.UTF8ToString(m._qv_last_error()));
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
