// guest-page-test.mjs SITE-DIR RELEASE-BUILD
//
// The page in Debian's Chromium, in the sequencer machine (run by guest-page-tests.sh): the
// virtual unit (q9-unit) on the kernel's sequencer, the page served on 127.0.0.1, MIDI access
// granted without a prompt, the browser's background throttling left on. In turn, each on a unit
// of its own:
//   - a version check with its report, an update with the flash verified, a check after it;
//   - the same update with the tab hidden the whole time;
//   - an update whose unit refuses one chunk three times (the page's advice for Linux) and then
//     goes away mid-way: "Can't open MIDI Out device." within 2 s;
//   - the native kv5update's update over the same sequencer path, for the times.
// Lines "ok: ..." and "FAILED: ..." judge; "FIGURE name value" are the measurements. With
// ROUNDS=N the browser's and kv5update's updates run N times each, alternating (the figures for
// bench/README.md); with SCREENSHOTS=1 the pictures of the page are printed as base64 lines
// ("@@PNG name data"), which the host's wrapper writes to files.
// Exit status 0 when nothing failed.
import {spawn} from 'node:child_process';
import {readFileSync} from 'node:fs';

import {Browser, serveFolder} from './browser.mjs';
import {chunkTimes, kReady, kUpdated, PageSession, pauseAfterEnteringMs, sessionSeconds} from './page-session.mjs';

const [site, release] = process.argv.slice(2);
const rounds = Number(process.env.ROUNDS || 1);
const chromium = process.env.CHROMIUM || '/usr/lib/chromium/chromium';
const q9unit = `${release}/tools/q9unit/q9-unit`;
const kv5update = `${release}/tools/kv5update/kv5update`;
const t0 = Date.now();

// Chromium names a sequencer client's ports by their own names (q9-unit's client "TELVOR Q9" has
// "MIDI In" and "MIDI Out"); kv5update's lists name the client.
const kUnitIn = 'MIDI Out';
const kUnitOut = 'MIDI In';
const kBefore = 'SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01';
const kAfter = 'SYSTEM:\t\t1.20 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01';
const kCantOpenOut = "Can't open MIDI Out device.";

let failures = 0;
let lastPage = null;
function say(text) {
  console.log(`[${((Date.now() - t0) / 1000).toFixed(1).padStart(6)} s] ${text}`);
}
function check(ok, what, detail = '') {
  if (ok) {
    say(`ok: ${what}`);
  } else {
    failures += 1;
    say(`FAILED: ${what}${detail ? ': ' + detail : ''}`);
  }
  return ok;
}
function figure(name, value) {
  console.log(`FIGURE ${name} ${value}`);
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A virtual unit on the sequencer, with older firmware, verifying its flash when it ends.
class Unit {
  static async start(extra = []) {
    const unit = new Unit();
    unit.output = '';
    unit.child = spawn(q9unit, ['--system', 'alsa', '--flash', 'older', '--verify-source', 'embedded',
      '--verify-exit', ...extra], {stdio: ['ignore', 'pipe', 'pipe']});
    unit.child.stdout.on('data', (data) => { unit.output += data; });
    unit.child.stderr.on('data', (data) => { unit.output += data; });
    unit.exited = new Promise((resolve) => unit.child.on('exit', (code) => resolve(code)));
    for (let i = 0; !/^ready/m.test(unit.output); i++) {
      if (i > 300) throw new Error('q9-unit did not start: ' + unit.output);
      await sleep(100);
    }
    return unit;
  }

  // Ends the unit (as its program stopping would) and returns its flash verification line.
  async stop() {
    this.child.kill('SIGTERM');
    const code = await this.exited;
    const verdict = (/^flash verification.*$/m.exec(this.output) || ['no verdict'])[0];
    return {code, verdict};
  }
}

async function screenshot(tab, name) {
  if (process.env.SCREENSHOTS !== '1') return;
  const {data} = await tab.send('Page.captureScreenshot', {format: 'png'});
  for (let i = 0; i < data.length; i += 4000) console.log(`@@PNG ${name} ${data.slice(i, i + 4000)}`);
}

// Shows or hides the page's tab as another tab in front of it would.
async function setHidden(browser, tab, other, hidden) {
  await browser.send('Target.activateTarget', {targetId: hidden ? other : tab.targetId});
  await tab.waitFor(`document.visibilityState === ${JSON.stringify(hidden ? 'hidden' : 'visible')}`,
    10000, 'the tab to become ' + (hidden ? 'hidden' : 'visible'));
}

// How many steps a chain of 1 ms timers makes in the page in 2 s: a handful where the browser
// throttles a hidden tab's timers, hundreds where it does not.
function timerSteps(page) {
  return page.evaluate(`new Promise((done) => { let n = 0; const start = performance.now();
    const step = () => { n += 1; if (performance.now() - start < 2000) setTimeout(step, 1); else done(n); };
    setTimeout(step, 1); })`, 60000);
}

// The browser's own MIDI path, without the page's program: the median time of an identity
// request to the unit and its reply, sent and received by plain script in the page.
function bareRoundTrips(page, count) {
  return page.evaluate(`(async () => {
    const access = await navigator.requestMIDIAccess({sysex: true});
    const input = [...access.inputs.values()].find((p) => p.name === ${JSON.stringify(kUnitIn)});
    const output = [...access.outputs.values()].find((p) => p.name === ${JSON.stringify(kUnitOut)});
    const times = [];
    for (let i = 0; i < ${count}; i++) {
      const start = performance.now();
      await new Promise((answered) => {
        input.onmidimessage = (event) => { if (event.data[1] === 0x7E) answered(); };
        output.send([0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7]);
      });
      times.push(performance.now() - start);
    }
    input.onmidimessage = null;
    times.sort((a, b) => a - b);
    return times[Math.floor(times.length / 2)];
  })()`, 120000);
}

// An update through the page from the Yes to the end; its figures.
async function browserUpdate(page, label, {midway = null} = {}) {
  const first = await page.startUpdate();
  if (midway) await midway();
  const boxes = await page.sessionEnd(first, 300000);
  const log = await page.log();
  const marks = await page.marks();
  const status = await page.text('status-line');
  check(boxes.length === 0 && status === 'Version update completed.' &&
    (await page.text('step-counter')) === '10/10', `${label}: the update completed`,
  `status "${status}", boxes ${JSON.stringify(boxes)}`);
  check(/outcome: completed: Version update completed\.$/m.test(log.trim()),
    `${label}: the session log ends with the outcome`, log.split('\n').slice(-3).join(' | '));
  return {
    seconds: (marks.ended - marks.answered) / 1000,
    session: sessionSeconds(log),
    chunks: chunkTimes(log),
    firstRequestMs: marks.firstSent - marks.answered,
    retries: (log.match(/retry:/g) || []).length,
    writes: (log.match(/-> write /g) || []).length,
    pauseMs: pauseAfterEnteringMs(log),
  };
}

function nativeUpdate(label) {
  return new Promise((resolve) => {
    const start = Date.now();
    const logFile = `/tmp/native-${label}.log`;
    const child = spawn(kv5update, ['--backend', 'alsa', '--log', logFile, 'update',
      '--yes-write-test-package', '--in', 'TELVOR Q9', '--out', 'TELVOR Q9'], {stdio: 'ignore'});
    child.on('exit', (code) => {
      const log = readFileSync(logFile, 'utf8');
      resolve({code, seconds: (Date.now() - start) / 1000, session: sessionSeconds(log),
        chunks: chunkTimes(log), retries: (log.match(/retry:/g) || []).length});
    });
  });
}

async function verifyUnit(unit, label) {
  const {code, verdict} = await unit.stop();
  check(/^flash verification: OK/.test(verdict) && code === 0, `${label}: the unit's flash verifies`,
    `${verdict} (exit ${code})`);
}

// Rescan Device, then the unit's ports (a fresh unit is a new port to the browser).
async function pickUnit(page) {
  await page.tab.click('#rescan');
  await page.tab.waitFor('!document.getElementById("execute").disabled', 30000, 'Rescan Device');
  await page.tab.waitFor(`[...document.getElementById("in-list").options].some((o) => o.text === ${JSON.stringify(kUnitIn)})`,
    30000, 'the unit in the lists');
  await page.selectPorts(kUnitIn, kUnitOut);
}

async function main() {
  const server = await serveFolder(site);
  const browser = await Browser.launch(chromium, {startMs: 240000, window: '900,720'});
  const version = await browser.send('Browser.getVersion');
  say(`${version.product}; page at ${server.origin}`);
  const browserUpdates = [];
  const nativeUpdates = [];
  try {
    let unit = await Unit.start();
    const tab = await browser.open(server.origin + '/');
    const other = (await browser.send('Target.createTarget', {url: 'about:blank'})).targetId;
    await browser.send('Target.activateTarget', {targetId: tab.targetId});
    const page = new PageSession(tab);
    lastPage = page;
    const loaded = Date.now();
    await page.connect();
    say(`the dialog started ${((Date.now() - loaded) / 1000).toFixed(1)} s after the page loaded`);
    const lists = {in: await page.list('in-list'), out: await page.list('out-list')};
    check(lists.in.entries.includes(kUnitIn) && lists.out.entries.includes(kUnitOut),
      'the lists show the unit\'s ports', JSON.stringify(lists));
    check((await page.controlState()) === kReady, 'the dialog opens ready');
    await page.selectPorts(kUnitIn, kUnitOut);
    await screenshot(tab, 'ready');
    const bare = await bareRoundTrips(page, 20);
    figure('bare_web_midi_round_trip_ms', bare.toFixed(1));

    // A version check, the update, a check after it.
    const before = await page.versionCheck();
    check(before.caption === 'Version Information' && before.text === kBefore,
      'the version check reports the unit\'s stamps beside the package\'s', JSON.stringify(before));
    check((await page.controlState()) === kReady, 'a check leaves every action enabled');
    const updated = await browserUpdate(page, 'update', process.env.SCREENSHOTS !== '1' ? {} : {
      midway: async () => {
        await tab.waitFor('document.getElementById("progress").position > 0.4 && ' +
          '/Data transmit/.test(document.getElementById("status-line").textContent)', 120000, 'writes', 500);
        await screenshot(tab, 'updating');
      },
    });
    browserUpdates.push(updated);
    check((await page.controlState()) === kUpdated, 'after the update only Rescan Device and the lists are on');
    await pickUnit(page);
    const boxes = await page.boxCount();
    await tab.click('#version-check');
    await tab.waitFor(`kv5Page.boxes.length > ${boxes}`, 120000, 'the report after the update');
    await screenshot(tab, 'report');
    const after = await page.answerBox(boxes, '#box-ok', 1000);
    check(after.text === kAfter, 'the check after the update shows the package\'s stamps', JSON.stringify(after));
    await verifyUnit(unit, 'update');

    // The same update, the tab hidden throughout, the browser's throttling on.
    unit = await Unit.start();
    await pickUnit(page);
    await setHidden(browser, tab, other, true);
    const steps = await timerSteps(page);
    figure('hidden_tab_timer_steps_in_2s', steps);
    check(steps < 50, 'the browser throttles the hidden tab\'s timers', `${steps} steps of a 1 ms timer in 2 s`);
    const hidden = await browserUpdate(page, 'hidden-tab update');
    check((await tab.evaluate('document.visibilityState')) === 'hidden', 'the tab stayed hidden');
    // The session's timed waits run on a worker's timer, which the browser does not slow down.
    figure('hidden_pause_after_entering_ms', hidden.pauseMs);
    figure('hidden_update_s', hidden.seconds.toFixed(2));
    figure('hidden_chunk_answer_ms', hidden.chunks.answerMs.toFixed(1));
    figure('hidden_chunk_page_ms', hidden.chunks.pageMs.toFixed(1));
    await setHidden(browser, tab, other, false);
    await verifyUnit(unit, 'hidden-tab update');

    // A chunk the unit refuses three times over (as the sequencer's bridge to a sound card damages
    // long messages), then the unit goes away mid-update.
    unit = await Unit.start(['--fault', 'code:write:3-5:18']);
    await pickUnit(page);
    const first = await page.startUpdate();
    await tab.waitFor('kv5Page.refused !== null', 60000, 'the notice of a refused chunk');
    const advice = await page.text('refused-advice');
    check(/refused the same piece of the firmware 3 times/.test(advice) &&
      /output_buffer_size/.test(advice) && /desktop updater/.test(advice),
    'a chunk refused three times: the page says what to do on Linux', advice);
    await tab.waitFor('/Data transmit/.test(document.getElementById("status-line").textContent) && ' +
      'document.getElementById("step-counter").textContent >= "2/10"', 120000, 'the writes');
    const pulled = Date.now();
    unit.child.kill('SIGKILL');
    await tab.waitFor(`kv5Page.boxes.length > ${first}`, 10000, 'the box after the unit went');
    const took = Date.now() - pulled;
    const gone = await page.evaluate(`kv5Page.boxes[${first}]`);
    figure('unplug_to_box_ms', took);
    check(gone.text === kCantOpenOut && gone.caption === 'Error' && took <= 2000,
      'a unit gone mid-update ends the session with its box within 2 s', `${JSON.stringify(gone)} after ${took} ms`);
    await page.answerBox(first, '#box-ok', 1000);
    await tab.waitFor('!kv5Page.busy', 10000, 'the busy state to end');
    check((await page.controlState()) === kReady, 'after the unit went the dialog is ready again');
    await unit.exited;

    // kv5update over the same sequencer path; with ROUNDS > 1, more of both, alternating.
    for (let round = 1; round <= rounds; round++) {
      unit = await Unit.start();
      const native = await nativeUpdate(String(round));
      check(native.code === 0, `kv5update's update ${round}`, `exit ${native.code}`);
      nativeUpdates.push(native);
      await verifyUnit(unit, `kv5update's update ${round}`);
      if (round === rounds) break;
      unit = await Unit.start();
      await pickUnit(page);
      browserUpdates.push(await browserUpdate(page, `update ${round + 1}`));
      await verifyUnit(unit, `update ${round + 1}`);
    }
  } finally {
    await browser.close();
    await server.close();
  }
  const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];
  for (const [name, list] of [['browser', browserUpdates], ['native', nativeUpdates]]) {
    for (const [i, run] of list.entries()) {
      say(`${name} update ${i + 1}: ${run.seconds.toFixed(2)} s, session ${run.session} s, ` +
        `${run.retries} retries${run.firstRequestMs !== undefined ? `, first request ${run.firstRequestMs.toFixed(1)} ms after the Yes` : ''}` +
        `${run.chunks ? `; a chunk: ${run.chunks.answerMs.toFixed(1)} ms to its answer, ${run.chunks.pageMs.toFixed(1)} ms to the next` : ''}`);
    }
  }
  if (browserUpdates.length && nativeUpdates.length) {
    const b = median(browserUpdates.map((r) => r.session));
    const n = median(nativeUpdates.map((r) => r.session));
    figure('browser_session_s', b);
    figure('native_session_s', n);
    figure('browser_to_native', (b / n).toFixed(2));
    figure('first_request_ms', median(browserUpdates.map((r) => r.firstRequestMs)).toFixed(1));
  }
  say(`${failures} failure(s)`);
  return failures === 0 ? 0 : 1;
}

main().then((code) => process.exit(code), (error) => {
  say(`FAILED: ${error.stack || error}`);
  if (lastPage) {
    lastPage.evaluate(`JSON.stringify({boxes: kv5Page.boxes, status: document.getElementById('status-line').textContent,
      step: document.getElementById('step-counter').textContent, busy: kv5Page.busy})`, 10000)
      .then((state) => say('the page: ' + state), () => {})
      .finally(() => process.exit(1));
  } else {
    process.exit(1);
  }
});
