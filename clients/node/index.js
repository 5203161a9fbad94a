'use strict';
// The parent's side of ortel-helper's line protocol (docs/protocol.md): it
// starts the helper, turns its lines into events, matches each focus reply
// to its question, and starts the helper again when it ends unasked.

const { spawn } = require('node:child_process');
const { EventEmitter } = require('node:events');

const defaults = {
  focusTimeoutMs: 2000,
  restartDelayMs: 250,
  maxRestartDelayMs: 30000,
  // A helper that ran this long before it ended is restarted after the
  // first delay again, not after a longer one.
  stableMs: 10000,
  stopTimeoutMs: 3000,
};

class HelperError extends Error {
  constructor(message, code) {
    super(message);
    this.name = 'HelperError';
    this.code = code;
  }
}

class OrtelHelper extends EventEmitter {
  constructor(options = {}) {
    super();
    if (typeof options.path !== 'string' || options.path === '') {
      throw new TypeError('path: the installed ortel-helper executable');
    }
    // The helper writes the name into its lines as it is: a line break in it
    // would let the name forge any line.
    if (options.key !== undefined && (typeof options.key !== 'string' || /[\r\n]/.test(options.key))) {
      throw new TypeError('key: one line of text');
    }
    this._options = { ...defaults, ...options };
    this._name = options.key ?? 'option';
    this._run = null; // the helper process now, with the questions written to it
    this._waiting = []; // questions asked while no helper runs, for the next one
    this._started = false; // between start() and stop()
    this._failures = 0;
    this._restartTimer = null;
    this._stopping = null;
  }

  get running() {
    return this._run !== null && !this._run.ended;
  }

  get pid() {
    return this.running ? this._run.child.pid : undefined;
  }

  start() {
    if (this._started) return;
    this._started = true;
    this._failures = 0;
    // A stop still under way starts the next helper when its own ends.
    if (this._run === null) this._spawn();
  }

  checkFocus({ timeoutMs = this._options.focusTimeoutMs } = {}) {
    if (!this._started) {
      return Promise.reject(new HelperError('ortel-helper is not started', 'ENOTSTARTED'));
    }
    return new Promise((resolve, reject) => {
      const question = { settled: false, timer: null, resolve, reject };
      question.timer = setTimeout(() => {
        // A question already written stays in its helper's queue, so that
        // its late reply is taken for it and for no later question.
        const waiting = this._waiting.indexOf(question);
        if (waiting >= 0) this._waiting.splice(waiting, 1);
        settle(question, reject, new HelperError(`no focus reply within ${timeoutMs} ms`, 'ETIMEDOUT'));
      }, timeoutMs);
      if (this.running && !this._run.stopping) this._ask(this._run, question);
      else this._waiting.push(question);
    });
  }

  // Closes the helper's input, which ends it, and resolves with its exit
  // status (null if it had to be killed, or none was running).
  stop() {
    if (!this._started) return this._stopping ?? Promise.resolve(null);
    this._started = false;
    clearTimeout(this._restartTimer);
    this._restartTimer = null;
    for (const question of this._waiting.splice(0)) {
      settle(question, question.reject, new HelperError('ortel-helper was stopped', 'ESTOPPED'));
    }
    const run = this._run;
    if (run === null || run.ended) return Promise.resolve(null);
    run.stopping = true;
    this._stopping = new Promise((resolve) => {
      run.onEnd = resolve;
    });
    // Questions already written are still answered: the helper reads its
    // input to the end before it exits.
    run.child.stdin.end();
    run.killTimer = setTimeout(() => run.child.kill('SIGKILL'), this._options.stopTimeoutMs);
    return this._stopping;
  }

  _spawn() {
    const args = this._options.key === undefined ? [] : [this._options.key];
    const child = spawn(this._options.path, args, {
      stdio: ['pipe', 'pipe', 'ignore'],
      env: this._options.env ?? process.env,
    });
    const run = { child, asked: [], ended: false, stopping: false, isDown: false, startedAt: Date.now() };
    this._run = run;
    // A write to a helper that has just died fails; its end says so.
    child.stdin.on('error', () => {});
    let partial = '';
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (text) => {
      const lines = (partial + text).split('\n');
      partial = lines.pop();
      for (const line of lines) this._onLine(run, line);
    });
    child.on('error', (error) => {
      // Not started at all (no such file, not executable): ends like a crash.
      if (child.pid === undefined) this._onEnd(run, null, null, error);
    });
    // After the output's end, so that every line it wrote has been taken.
    child.on('close', (code, signal) => this._onEnd(run, code, signal, null));
    for (const question of this._waiting.splice(0)) this._ask(run, question);
  }

  _ask(run, question) {
    run.asked.push(question);
    run.child.stdin.write('check-focus\n');
  }

  _onLine(run, line) {
    // The key's lines first: a watched name may itself begin with "debug".
    if (line === `${this._name}:down`) {
      run.isDown = true;
      this.emit('down');
    } else if (line === `${this._name}:up`) {
      run.isDown = false;
      this.emit('up');
    } else if (line === 'focus:editable' || line === 'focus:none') {
      const question = run.asked.shift();
      if (question !== undefined) settle(question, question.resolve, line.slice('focus:'.length));
    } else if (line === 'trusted:true' || line === 'trusted:false') {
      this.emit('trusted', line === 'trusted:true');
    } else if (line === 'ready') {
      this.emit('ready');
    } else if (line.startsWith('debug:')) {
      this.emit('debug', line.slice('debug:'.length));
    }
    // Any other line is one a later helper may add: not for this client.
  }

  _onEnd(run, code, signal, error) {
    if (run.ended) return;
    run.ended = true;
    clearTimeout(run.killTimer);
    if (this._run === run) this._run = null;
    // A hold the helper can no longer end ends here, so that every down has its up.
    if (run.isDown) this.emit('up');
    if (error !== null && this.listenerCount('error') > 0) this.emit('error', error);
    this.emit('exit', code, signal);
    if (run.onEnd) run.onEnd(code);
    if (this._stopping !== null && run.stopping) this._stopping = null;
    const unanswered = run.asked.filter((question) => !question.settled);
    if (!this._started) {
      for (const question of unanswered) {
        settle(question, question.reject, new HelperError('ortel-helper was stopped', 'ESTOPPED'));
      }
      return;
    }
    // Asked again of the next helper, each within what is left of its own timeout.
    this._waiting.unshift(...unanswered);
    if (run.stopping) {
      this._spawn(); // started again while the stop was under way
      return;
    }
    if (Date.now() - run.startedAt >= this._options.stableMs) this._failures = 0;
    const delay = Math.min(this._options.restartDelayMs * 2 ** this._failures, this._options.maxRestartDelayMs);
    this._failures += 1;
    this.emit('restarting', delay);
    this._restartTimer = setTimeout(() => {
      this._restartTimer = null;
      if (this._started) this._spawn();
    }, delay);
  }
}

function settle(question, settleWith, value) {
  if (question.settled) return;
  question.settled = true;
  clearTimeout(question.timer);
  settleWith(value);
}

module.exports = { OrtelHelper, HelperError };
