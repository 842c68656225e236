// The effects as Web Audio nodes. loadQuorvel(context) readies a context;
// QuorvelChainNode runs a chain file's effects, and one subclass per effect
// (Delay, PingPongDelay, Chorus, Flanger, Vibrato) takes that effect's
// parameters, named, ranged and defaulted by the library's own table.
// render(audioBuffer, chain) processes a buffer offline.
import createModule from './quorvel-effects.mjs';
import { chainText, Quorvel } from './quorvel.mjs';

const here = import.meta.url;

// What loadQuorvel gives: the .wasm bytes the worklets instantiate and the
// effect types with their parameter tables.
export class QuorvelLoaded {
  constructor(wasmBytes, quorvel) {
    this.wasmBytes = wasmBytes;
    this.effects = quorvel.effects;
    this.quorvel = quorvel;
  }

  // The effect types with each maximum the largest value that fits at
  // `rate` Hz (`effects` gives them at 48 kHz).
  effectsAt(rate) {
    return this.quorvel.effectsAt(rate);
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
      // The chain as chain-file text already: the audio thread reads it as
      // the rules do, and nothing in it can fail to be copied there.
      processorOptions: { wasmBytes: loaded.wasmBytes.slice(0),
                          chain: typeof chain === 'string' ? chain : chainText(chain), channels },
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
      try {
        // The value as it is: the processor reads numbers, text and switches
        // as the rules do (String() would turn NaN into text and -0 into 0).
        this.port.postMessage({ id, set: [index, String(key), value] });
      } catch (error) {
        // A function or symbol cannot be sent to the audio thread at all.
        this.pending.delete(id);
        reject(new Error(`${String(key)}: must be a number, a boolean or a string such as "350ms"; ` +
                         `got ${typeof value}`));
      }
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
// class's `parameters` static lists the table (key, unit, range, default)
// at 48 kHz, its `parametersAt(rate)` the table at another rate.
function effectClass(loaded, type) {
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
  Effect.parametersAt = (rate) => loaded.effectsAt(rate).find((t) => t.name === type.name).parameters;
  return Effect;
}

// The node classes by effect name: {Delay: DelayNode, ...}.
export function effectNodes(loaded) {
  return Object.fromEntries(loaded.effects.map((type) => [type.name, effectClass(loaded, type)]));
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
