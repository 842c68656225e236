// The effects as Web Audio nodes. loadQuorvel(context) readies a context;
// QuorvelChainNode runs a chain file's effects, and one subclass per effect
// (Delay, PingPongDelay, Chorus, Flanger, Vibrato) takes that effect's
// parameters, named, ranged and defaulted by the library's own table.
// render(audioBuffer, chain) processes a buffer offline.
import createModule from './quorvel-effects.mjs';
import { Quorvel } from './quorvel.mjs';

const here = import.meta.url;

// What loadQuorvel gives: the .wasm bytes the worklets instantiate and the
// effect types with their parameter tables.
export class QuorvelLoaded {
  constructor(wasmBytes, quorvel) {
    this.wasmBytes = wasmBytes;
    this.effects = quorvel.effects;
  }
}

const loadedBytes = new Map();

// Adds the worklet module to `context` and loads the WebAssembly module.
export async function loadQuorvel(context, { base = here } = {}) {
  await context.audioWorklet.addModule(new URL('./worklet.mjs', base));
  const url = new URL('./quorvel-effects.wasm', base).href;
  if (!loadedBytes.has(url)) {
    const bytes = await (await fetch(url)).arrayBuffer();
    loadedBytes.set(url, new QuorvelLoaded(bytes, await Quorvel.load(createModule, bytes.slice(0))));
  }
  return loadedBytes.get(url);
}

// A chain of effects from chain-file JSON (the tool's --chain format), as
// one AudioWorkletNode with `channels` inputs and outputs.
export class QuorvelChainNode extends AudioWorkletNode {
  constructor(context, loaded, chain, channels = 2) {
    super(context, 'quorvel-chain', {
      numberOfInputs: 1,
      numberOfOutputs: 1,
      outputChannelCount: [channels],
      channelCount: channels,
      channelCountMode: 'explicit',
      channelInterpretation: 'discrete',
      processorOptions: { wasmBytes: loaded.wasmBytes.slice(0), chain, channels },
    });
    this.pending = new Map();
    this.nextId = 1;
    // Resolves once the chain runs; rejects with the library's message when
    // the chain is refused (the node then outputs silence).
    this.ready = new Promise((resolve, reject) => {
      this.port.onmessage = ({ data }) => {
        if (data.ready) resolve();
        else if (data.error && data.id === undefined) reject(new Error(data.error));
        else this.answer(data);
      };
    });
  }

  // Sets parameter `key` of the chain's effect `index` from a number or
  // value text ("25ms"); heard from the next render quantum on. Resolves
  // once the processor has it; rejects with the library's message.
  set(index, key, value) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.port.postMessage({ id, set: [index, key, String(value)] });
    });
  }

  answer({ id, error }) {
    const waiting = this.pending.get(id);
    if (!waiting) return;
    this.pending.delete(id);
    if (error) waiting.reject(new Error(error));
    else waiting.resolve();
  }
}

// One effect as a node: `parameters` by key ({sweepWidth: '20ms'}); the
// class's `parameters` static lists the table (key, unit, range, default).
function effectClass(type) {
  const Effect = class extends QuorvelChainNode {
    constructor(context, loaded, parameters = {}, channels = 2) {
      super(context, loaded, { effects: [{ name: type.name, parameters }] }, channels);
    }
    // Sets one of this effect's parameters.
    setParameter(key, value) {
      return this.set(0, key, value);
    }
  };
  Object.defineProperty(Effect, 'name', { value: `${type.name}Node` });
  Effect.parameters = type.parameters;
  return Effect;
}

// The node classes by effect name: {Delay: DelayNode, ...}.
export function effectNodes(loaded) {
  return Object.fromEntries(loaded.effects.map((type) => [type.name, effectClass(type)]));
}

// Processes `audioBuffer` offline through `chain` (chain-file JSON) and
// returns the processed AudioBuffer, as long as the input.
export async function render(audioBuffer, chain, { base = here } = {}) {
  const context = new OfflineAudioContext(audioBuffer.numberOfChannels, audioBuffer.length,
                                          audioBuffer.sampleRate);
  const loaded = await loadQuorvel(context, { base });
  const node = new QuorvelChainNode(context, loaded, chain, audioBuffer.numberOfChannels);
  await node.ready;
  const source = context.createBufferSource();
  source.buffer = audioBuffer;
  source.connect(node).connect(context.destination);
  source.start();
  return context.startRendering();
}
