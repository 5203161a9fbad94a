// The uiohook-napi peer: what an Electron dictation app would listen with.
// Prints "ready" once the hook runs, then "keydown CODE" / "keyup CODE" for
// every key event; ends when its standard input closes.
'use strict';
const { uIOhook } = require('uiohook-napi');

uIOhook.on('keydown', (event) => process.stdout.write(`keydown ${event.keycode}\n`));
uIOhook.on('keyup', (event) => process.stdout.write(`keyup ${event.keycode}\n`));
uIOhook.start();
process.stdout.write('ready\n');

process.stdin.on('end', () => {
  uIOhook.stop();
  process.exit(0);
});
process.stdin.resume();
