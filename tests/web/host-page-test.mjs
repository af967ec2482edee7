// host-page-test.mjs SITE-DIR
//
// The page in Debian's Chromium on this machine, which has no MIDI device: it loads, says so
// plainly, and its dialog works without one. Each case is a fresh tab:
//   - no MIDI system at all (Linux without its sequencer): "No MIDI device", with the reason;
//   - a MIDI system without devices (the browser's access stood in for): the dialog with empty
//     lists and its "No MIDI device" note; the test package's question (No as the default, No
//     writes nothing), then the desktop's "Can't open MIDI Out device."; the About box;
//   - while a session runs (against a unit standing in inside the browser), leaving the page
//     asks first and the tab holds a Web Lock; neither once it has ended;
//   - access refused; a browser without Web MIDI.
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium here).
import {existsSync} from 'node:fs';

import {Browser, serveFolder} from './browser.mjs';
import {PageSession} from './page-session.mjs';
import {standInUnit} from './stand-in-unit.mjs';

const [site] = process.argv.slice(2);
const chromium = process.env.CHROMIUM || '/usr/lib/chromium/chromium';
if (!existsSync(chromium)) {
  console.log(`host-page-test: no Chromium at ${chromium}; skipped`);
  process.exit(77);
}

let failures = 0;
function check(ok, what, detail = '') {
  console.log(ok ? `ok: ${what}` : `FAILED: ${what}${detail ? ': ' + detail : ''}`);
  if (!ok) failures += 1;
}

const problemText = (tab) => tab.evaluate('document.getElementById("access-message").textContent');

// A MIDI system with no device: what a Mac or a Windows PC without the unit gives the page.
const kEmptyAccess = `navigator.requestMIDIAccess = () => Promise.resolve({inputs: new Map(),
  outputs: new Map(), sysexEnabled: true, addEventListener() {}});`;

async function noMidiSystem(browser, origin) {
  const tab = await browser.open(origin + '/');
  const page = new PageSession(tab);
  check((await tab.evaluate('document.title')) === 'TELVOR Q9 System v1.20 Updater',
    'the page loads under the updater\'s title');
  await tab.waitFor('kv5Page.module !== null', 60000, 'the module');
  check((await tab.evaluate('document.title')) === 'TELVOR Q9 System v1.20 Updater (test package)' &&
    !(await tab.evaluate('document.getElementById("test-package").hidden')),
  'a test package build says so before anything is asked');
  await tab.click('#connect');
  await tab.waitFor('!document.getElementById("access-message").hidden', 30000, 'a message');
  const text = await problemText(tab);
  check(/^No MIDI device: the browser found no MIDI system on this computer/.test(text),
    'without a MIDI system the page says "No MIDI device"', text);
  check(!(await tab.evaluate('kv5Page.started')) && !(await page.evaluate('document.getElementById("connect").disabled')),
    'the dialog does not start and Connect can be pressed again');
}

async function noDevice(browser, origin) {
  const tab = await browser.open(origin + '/', {beforeLoad: kEmptyAccess});
  const page = new PageSession(tab);
  await page.connect(60000);
  check(!(await tab.evaluate('document.getElementById("no-device").hidden')) &&
    (await page.list('in-list')).entries.length === 0 && (await page.list('out-list')).entries.length === 0,
  'with no device the lists are empty and the page says "No MIDI device"');
  check((await page.controlState()) === '11 11 1', 'the dialog opens ready');

  await tab.click('#execute');
  await tab.waitFor('kv5Page.boxes.length === 1', 30000, 'the question');
  const question = await tab.evaluate('kv5Page.boxes[0]');
  check(question.caption === 'Write the test package?' && /unusable afterwards/.test(question.text) &&
    /Write the test package now\?$/.test(question.text), 'Execute first asks the desktop\'s question',
  JSON.stringify(question));
  check((await tab.evaluate('document.activeElement.id')) === 'box-no', 'No is the question\'s default');
  await tab.evaluate('document.activeElement.click()');
  await tab.waitFor('kv5Page.boxes[0].answer === 0', 10000, 'the answer');
  // Answered No: nothing opens and nothing is said.
  await new Promise((resolve) => setTimeout(resolve, 300));
  check((await tab.evaluate('kv5Page.boxes.length')) === 1 && !(await tab.evaluate('kv5Page.busy')),
    'No writes nothing');

  await tab.click('#execute');
  await page.answerBox(1, '#box-yes', 30000);
  const error = await page.answerBox(2, '#box-ok', 30000);
  check(error.text === "Can't open MIDI Out device." && error.caption === 'Error' && error.icon === 0,
    'Execute without a device: the desktop\'s error box', JSON.stringify(error));
  const check2 = await page.versionCheck(30000);
  check(check2.text === "Can't open MIDI Out device.", 'Version Check without a device: the same box',
    JSON.stringify(check2));
  check((await page.controlState()) === '11 11 1', 'the dialog stays ready');

  await tab.click('#about');
  const about = await page.answerBox(4, '#box-ok', 30000);
  check(about.caption === 'About TELVOR Q5 Updater' && /^TELVOR Q9 System v1.20 Updater\n/.test(about.text),
    'the About box', JSON.stringify(about));
}

// What guards the tab: whether leaving is held back, and the Web Locks the page holds.
const kGuards = `(async () => {
  const leaving = new Event('beforeunload', {cancelable: true});
  window.dispatchEvent(leaving);
  return {heldBack: leaving.defaultPrevented,
    locks: (await navigator.locks.query()).held.map((lock) => lock.name)};
})()`;

async function guardedSession(browser, origin) {
  const tab = await browser.open(origin + '/', {beforeLoad: standInUnit(20)});
  const page = new PageSession(tab);
  await page.connect(60000);
  const first = await page.startUpdate();
  await tab.waitFor('kv5Page.busy', 30000, 'the session');
  const during = await tab.evaluate(kGuards);
  check(during.heldBack && during.locks.some((name) => name.startsWith('kv5update session ')),
    'during a session leaving asks first and the tab holds its lock', JSON.stringify(during));
  const boxes = await page.sessionEnd(first, 120000);
  const after = await tab.evaluate(kGuards);
  check(boxes.length === 0 && !after.heldBack &&
    !after.locks.some((name) => name.startsWith('kv5update session ')),
  'after it neither', JSON.stringify({boxes, after}));
}

async function accessRefused(browser, origin) {
  const tab = await browser.open(origin + '/', {midi: false});
  await tab.send('Browser.setPermission', {permission: {name: 'midi', sysex: true}, setting: 'denied',
    origin}).catch(() => {});
  await tab.waitFor('kv5Page.module !== null', 60000, 'the module');
  await tab.click('#connect');
  await tab.waitFor('!document.getElementById("access-message").hidden', 30000, 'a message');
  const text = await problemText(tab);
  check(/^MIDI access was not allowed/.test(text), 'refused access: what to do', text);
}

async function noWebMidi(browser, origin) {
  const tab = await browser.open(origin + '/', {beforeLoad: 'delete Navigator.prototype.requestMIDIAccess;'});
  const text = await problemText(tab);
  check(/^This browser has no Web MIDI/.test(text) &&
    (await tab.evaluate('document.getElementById("connect").disabled')),
  'a browser without Web MIDI: what to use instead', text);
}

const server = await serveFolder(site);
const browser = await Browser.launch(chromium);
try {
  for (const test of [noMidiSystem, noDevice, guardedSession, accessRefused, noWebMidi]) {
    try {
      await test(browser, server.origin);
    } catch (error) {
      check(false, test.name, error.message);
    }
  }
} finally {
  await browser.close();
  await server.close();
}
console.log(`${failures} failure(s)`);
process.exit(failures === 0 ? 0 : 1);
