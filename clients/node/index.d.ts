// Types of the ortel-helper client. The protocol itself: docs/protocol.md.
import { EventEmitter } from 'node:events';

export interface OrtelHelperOptions {
  /** The installed helper, e.g. /usr/libexec/ortel-helper/ortel-helper. */
  path: string;
  /** The watched key's name: option (the default), command, control, shift or function. One line. */
  key?: string;
  /** The helper's environment; the default is process.env (it needs DISPLAY and the session bus). */
  env?: NodeJS.ProcessEnv;
  /** How long checkFocus waits for its reply by default, in ms (2000). */
  focusTimeoutMs?: number;
  /** The first delay before a helper that ended unasked is started again, in ms (250); it doubles each time. */
  restartDelayMs?: number;
  /** The longest such delay, in ms (30000). */
  maxRestartDelayMs?: number;
  /** A helper that ran this long, in ms, is restarted after the first delay again (10000). */
  stableMs?: number;
  /** How long stop() waits for the helper to exit before it kills it, in ms (3000). */
  stopTimeoutMs?: number;
}

/** code: ETIMEDOUT (no reply in time), ESTOPPED (stop() came first), ENOTSTARTED. */
export class HelperError extends Error {
  code: 'ETIMEDOUT' | 'ESTOPPED' | 'ENOTSTARTED';
}

export class OrtelHelper extends EventEmitter {
  constructor(options: OrtelHelperOptions);
  /** Whether a helper process is running now. */
  readonly running: boolean;
  readonly pid: number | undefined;
  /** Starts the helper; again, with a back-off, whenever it ends until stop() is called. */
  start(): void;
  /**
   * Whether keyboard focus is in an element that takes typed text. Replies are matched to questions
   * in the order asked; a question the helper had not answered when it ended is asked again of the
   * next one, within its own timeout.
   */
  checkFocus(options?: { timeoutMs?: number }): Promise<'editable' | 'none'>;
  /** Ends the helper by closing its input; resolves with its exit status (0), or null if none ran. */
  stop(): Promise<number | null>;

  /** A helper process has started (its first line). */
  on(event: 'ready', listener: () => void): this;
  /** The watched key has been held alone for 150 ms. */
  on(event: 'down', listener: () => void): this;
  /** The hold has ended or was spoiled; also when the helper ends during a hold. */
  on(event: 'up', listener: () => void): this;
  /** The helper's permission, at every start and on every change. */
  on(event: 'trusted', listener: (trusted: boolean) => void): this;
  /** A diagnostic line, without its "debug:" prefix. */
  on(event: 'debug', listener: (text: string) => void): this;
  /** A helper process has ended: by stop(), or unasked (a restart follows). */
  on(event: 'exit', listener: (code: number | null, signal: NodeJS.Signals | null) => void): this;
  /** The helper ended unasked and starts again after delayMs. */
  on(event: 'restarting', listener: (delayMs: number) => void): this;
  /** The helper could not be started at all (the restarts go on); emitted only when listened for. */
  on(event: 'error', listener: (error: Error) => void): this;
}
