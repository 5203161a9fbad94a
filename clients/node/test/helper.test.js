'use strict';
// The client against the real helper on a headless desktop: run by
// tests/desktop/in_session.sh, which gives it a display and a session bus,
// with ORTEL_HELPER, ORTEL_XINJECT and ORTEL_TEST_WINDOW naming the built
// helper, the key injector and the GTK test window.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const { OrtelHelper } = require('..');

const path = require('node:path');

const helperPath = requiredVariable('ORTEL_HELPER');
const lateReplyHelper = path.join(__dirname, '..', '..', 'late_reply_helper.py');
const injectorPath = requiredVariable('ORTEL_XINJECT');
const windowScript = requiredVariable('ORTEL_TEST_WINDOW');

function requiredVariable(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the tests through ctest`);
  return value;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function until(condition, what, withinMs = 10000) {
  const deadline = Date.now() + withinMs;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(10);
  }
}

// The GTK window of tests/desktop/test_window.py, driven by its commands.
let window;
let windowLines = [];

async function windowSays(command, answer) {
  windowLines = [];
  window.stdin.write(`${command}\n`);
  await until(() => windowLines.includes(answer), `the window to say ${answer}`);
}

function inject(...steps) {
  return new Promise((resolve, reject) => {
    const injector = spawn(injectorPath, steps, { stdio: 'ignore' });
    injector.on('error', reject);
    injector.on('close', (code) => (code === 0 ? resolve() : reject(new Error(`ortel_xinject ended with ${code}`))));
  });
}

// Everything the client emits, in order.
function record(helper) {
  const events = [];
  for (const name of ['ready', 'down', 'up', 'trusted', 'exit', 'restarting']) {
    helper.on(name, (...values) => events.push([name, ...values]));
  }
  return events;
}
const named = (events, ...names) => events.filter(([name]) => names.includes(name));

async function startedHelper(options = {}) {
  const helper = new OrtelHelper({ path: helperPath, restartDelayMs: 100, ...options });
  const events = record(helper);
  helper.start();
  await until(() => named(events, 'trusted').length === 1, 'the trust line');
  assert.deepEqual(events, [['ready'], ['trusted', true]]);
  return { helper, events };
}

async function focusIn(helper, widget, expected) {
  await windowSays(`focus ${widget}`, `focused ${widget}`);
  assert.equal(await helper.checkFocus(), expected);
}

before(async () => {
  window = spawn('/usr/bin/python3', [windowScript], {
    stdio: ['pipe', 'pipe', 'ignore'],
    env: { ...process.env, GDK_BACKEND: 'x11' },
  });
  window.stdout.setEncoding('utf8');
  window.stdout.on('data', (text) => windowLines.push(...text.split('\n').filter((line) => line !== '')));
  await until(() => windowLines.includes('ready'), 'the test window', 15000);
  // The window joins the accessibility bus in its own time.
  const { helper } = await startedHelper();
  try {
    await windowSays('focus entry', 'focused entry');
    const deadline = Date.now() + 15000;
    while ((await helper.checkFocus()) !== 'editable') {
      if (Date.now() > deadline) throw new Error('the helper never saw the window');
      await sleep(100);
    }
  } finally {
    await helper.stop();
  }
});

after(() => window.stdin.end());

test('a hold gives down then up, a tap nothing', { timeout: 30000 }, async () => {
  const { helper, events } = await startedHelper();
  try {
    await inject('+Alt_L', '50', '-Alt_L', '200', '+Alt_L', '400', '-Alt_L');
    await until(() => named(events, 'up').length === 1, 'the up event');
    assert.deepEqual(named(events, 'down', 'up'), [['down'], ['up']]);
  } finally {
    await helper.stop();
  }
});

test('focus: editable in an entry, none on a button', { timeout: 30000 }, async () => {
  const { helper } = await startedHelper();
  try {
    for (const [widget, expected] of [['entry', 'editable'], ['button', 'none'], ['entry', 'editable']]) {
      await focusIn(helper, widget, expected);
    }
  } finally {
    await helper.stop();
  }
});

test('100 questions at once get their replies in order, between key and debug lines', { timeout: 30000 }, async () => {
  const { helper, events } = await startedHelper();
  const debug = [];
  helper.on('debug', (text) => debug.push(text));
  try {
    await focusIn(helper, 'entry', 'editable');
    const hold = inject('+Alt_L', '300', '-Alt_L');
    await sleep(20); // the injector's press among the replies
    const questions = Array.from({ length: 100 }, () => helper.checkFocus({ timeoutMs: 10000 }));
    await windowSays('focus button', 'focused button');
    const after = helper.checkFocus();
    const answers = await Promise.all(questions);
    // The focus moved once, from the entry to the button: in the order asked,
    // the answers can only go from editable to none, never back.
    assert.equal(answers.length, 100);
    const firstNone = answers.indexOf('none');
    const expected = answers.map((_, i) => (firstNone < 0 || i < firstNone ? 'editable' : 'none'));
    assert.deepEqual(answers, expected);
    assert.equal(await after, 'none');
    await hold;
    await until(() => named(events, 'up').length === 1, 'the hold');
    assert.deepEqual(named(events, 'down', 'up'), [['down'], ['up']]);
    assert.ok(debug.some((text) => text.startsWith('flagsChanged ')), debug.join('\n'));
  } finally {
    await helper.stop();
  }
});

test('a helper killed mid-session is started again, and each reply goes to its question', { timeout: 30000 }, async () => {
  const { helper, events } = await startedHelper();
  try {
    await focusIn(helper, 'entry', 'editable');
    // Killed during a hold: the client ends the hold itself.
    const hold = inject('+Alt_L', '700', '-Alt_L');
    await until(() => named(events, 'down').length === 1, 'the down event');
    process.kill(helper.pid, 'SIGKILL');
    await until(() => named(events, 'ready').length === 2, 'the restart');
    await hold;
    assert.deepEqual(named(events, 'down', 'up', 'exit', 'restarting', 'ready').slice(1), [
      ['down'],
      ['up'],
      ['exit', null, 'SIGKILL'],
      ['restarting', 100],
      ['ready'],
    ]);

    // Questions the helper never read when it was killed are asked again of
    // the next one; a question asked after the focus moved gets its own reply.
    await until(() => named(events, 'trusted').length === 2, 'the new helper');
    process.kill(helper.pid, 'SIGSTOP');
    const unread = [helper.checkFocus({ timeoutMs: 10000 }), helper.checkFocus({ timeoutMs: 10000 })];
    await sleep(50);
    process.kill(helper.pid, 'SIGKILL');
    assert.deepEqual(await Promise.all(unread), ['editable', 'editable']);
    assert.equal(named(events, 'ready').length, 3);
    await focusIn(helper, 'button', 'none');

    // And the restarted helper hears the keys.
    await inject('+Alt_L', '300', '-Alt_L');
    await until(() => named(events, 'up').length === 2, 'a hold after the restarts');
  } finally {
    await helper.stop();
  }
});

test('stop ends the helper with status 0 once it has answered, and nothing restarts it', { timeout: 30000 }, async () => {
  const { helper, events } = await startedHelper();
  const question = helper.checkFocus();
  assert.equal(await helper.stop(), 0);
  assert.match(await question, /^(editable|none)$/);
  assert.deepEqual(named(events, 'exit'), [['exit', 0, null]]);
  await sleep(500);
  assert.equal(named(events, 'ready').length, 1);
  assert.equal(helper.running, false);
  await assert.rejects(helper.checkFocus(), { code: 'ENOTSTARTED' });
});

test('restarts back off, doubling up to the longest delay', { timeout: 30000 }, async () => {
  const helper = new OrtelHelper({ path: helperPath, restartDelayMs: 50, maxRestartDelayMs: 200 });
  const events = record(helper);
  const readyAt = [];
  helper.on('ready', () => {
    readyAt.push(Date.now());
    process.kill(helper.pid, 'SIGKILL');
  });
  helper.start();
  await until(() => readyAt.length === 5, 'five starts');
  await helper.stop();
  assert.deepEqual(
    named(events, 'restarting')
      .slice(0, 4)
      .map(([, delay]) => delay),
    [50, 100, 200, 200],
  );
  for (const [i, delay] of [50, 100, 200, 200].entries()) {
    assert.ok(readyAt[i + 1] - readyAt[i] >= delay, `start ${i + 2} came before its delay`);
  }
});

test('a reply that comes after its question timed out is not taken for the next one', { timeout: 30000 }, async () => {
  const helper = new OrtelHelper({ path: lateReplyHelper });
  const debug = [];
  helper.on('debug', (text) => debug.push(text));
  helper.start();
  try {
    await assert.rejects(helper.checkFocus({ timeoutMs: 100 }), { code: 'ETIMEDOUT' });
    // Asked before the late reply comes, answered after it.
    assert.equal(await helper.checkFocus(), 'editable');
    assert.deepEqual(debug, ['watching option', 'focus-unavailable timeout']);
  } finally {
    await helper.stop();
  }
});

test('a watched name must be one line', () => {
  assert.throws(() => new OrtelHelper({ path: helperPath, key: 'option\nfocus:editable' }), TypeError);
});
