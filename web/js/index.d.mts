// Types of web/js/index.mjs: the effects as Web Audio nodes.
//
// A value given as a string ("350ms", "0.35 s", "5Hz", "on") follows the one
// grammar every front end shares; see "Setting values" in the project README.

/** One parameter of an effect, from the library's table. */
export interface ParameterInfo {
  key: string;
  description: string;
  /** "ms", "s", "Hz" or "" */
  unit: string;
  type: 'boolean' | 'integer' | 'float';
  minimum: number;
  /** The largest value the rules take: at 48 kHz, or at the rate asked for
   *  (less at high rates where the delay line holds less time). */
  maximum: number;
  default: number;
}

/** An effect type and its parameters. */
export interface EffectInfo {
  name: 'Delay' | 'PingPongDelay' | 'Vibrato' | 'Flanger' | 'Chorus' | string;
  /** The channel counts the effect takes. */
  minimumChannels: number;
  maximumChannels: number;
  parameters: ParameterInfo[];
}

/** A chain file, as `quorvel-fx apply --chain` reads it; string values follow
 *  "Setting values" in the README. */
export type ChainJson =
  | string
  | { effects: { name: string; parameters?: Record<string, number | string | boolean> }[] }
  | { name: string; parameters?: Record<string, number | string | boolean> }[];

/** What loadQuorvel gives: the module's bytes and the effect types. */
export class QuorvelLoaded {
  readonly wasmBytes: ArrayBuffer;
  readonly effects: EffectInfo[];
  /** The effect types with their maxima at `rate` Hz; throws for a rate the rules refuse. */
  effectsAt(rate: number): EffectInfo[];
}

/** Adds the worklet module to `context` and loads the WebAssembly module
 *  (from `base`, default: this module's own folder). */
export function loadQuorvel(context: BaseAudioContext, options?: { base?: string | URL }): Promise<QuorvelLoaded>;

/** A chain of effects as one node with `channels` inputs and outputs (default 2). */
export class QuorvelChainNode extends AudioWorkletNode {
  constructor(context: BaseAudioContext, loaded: QuorvelLoaded, chain: ChainJson, channels?: number);
  /** Resolves once the chain runs; rejects with the library's message when refused. */
  readonly ready: Promise<void>;
  /** Sets parameter `key` of effect `index`, from the next render quantum on;
   *  a string value follows "Setting values" in the README. */
  set(index: number, key: string, value: number | string | boolean): Promise<void>;
}

/** One effect as a node. */
export class EffectNode extends QuorvelChainNode {
  constructor(context: BaseAudioContext, loaded: QuorvelLoaded,
              parameters?: Record<string, number | string | boolean>, channels?: number);
  static readonly parameters: ParameterInfo[];
  /** The table with its maxima at `rate` Hz. */
  static parametersAt(rate: number): ParameterInfo[];
  setParameter(key: string, value: number | string | boolean): Promise<void>;
}

/** The node classes by effect name. */
export function effectNodes(loaded: QuorvelLoaded): Record<string, typeof EffectNode>;

/** Processes `audioBuffer` offline through `chain`; the result is as long as the input. */
export function render(audioBuffer: AudioBuffer, chain: ChainJson, options?: { base?: string | URL }): Promise<AudioBuffer>;
