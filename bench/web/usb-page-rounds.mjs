// usb-page-rounds.mjs SITE-DIR RELEASE-BUILD (in the guest, started by usb-page-rounds.sh)
//
// For each output_buffer_size of snd_seq_midi in $SIZES, a browser of its own (the size applies
// when the browser's sequencer client opens the card's port), and $ROUNDS updates through the USB
// card, each of a fresh virtual unit on the gadget's side whose flash is judged when it ends. An
// update that has not ended after $LIMIT_S seconds (default 240) is reported where it stands, and
// ends that size's rounds.
import {spawn, execFileSync} from 'node:child_process';
import {readFileSync, writeFileSync} from 'node:fs';

import {Browser, serveFolder} from '../../tests/web/browser.mjs';
import {PageSession, sessionSeconds} from '../../tests/web/page-session.mjs';

const [site, release] = process.argv.slice(2);
const rounds = Number(process.env.ROUNDS || 5);
const limitMs = Number(process.env.LIMIT_S || 240) * 1000;
const sizes = (process.env.SIZES || '4096 65536').split(/\s+/).filter(Boolean).map(Number);
const chromium = process.env.CHROMIUM || '/usr/lib/chromium/chromium';
const kCardPort = 'TELVOR Q9 MIDI 1';  // Chromium's name of the USB card's port, both ways
const kUnit = 'Q9 gadget unit';         // the unit on the gadget's side of the cable
const kParameter = '/sys/module/snd_seq_midi/parameters/output_buffer_size';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function startUnit() {
  const child = spawn(`${release}/tools/q9unit/q9-unit`, ['--system', 'alsa', '--name', kUnit,
    '--flash', 'older', '--verify-source', 'embedded', '--verify-exit'], {stdio: ['ignore', 'pipe', 'pipe']});
  let output = '';
  child.stdout.on('data', (data) => { output += data; });
  child.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  for (let i = 0; !/^ready/m.test(output); i++) {
    if (i > 300) throw new Error('q9-unit did not start: ' + output);
    await sleep(100);
  }
  execFileSync('aconnect', ['f_midi:0', `${kUnit}:0`]);
  execFileSync('aconnect', [`${kUnit}:1`, 'f_midi:0']);
  return {
    async stop() {
      child.kill('SIGTERM');
      const code = await exited;
      return (/^flash verification.*$/m.exec(output) || [`no verdict (exit ${code})`])[0];
    },
  };
}

// How often the sequencer's bridge to a card dropped what did not fit its buffer (the kernel's log).
function overruns() {
  try {
    return (execFileSync('dmesg', {encoding: 'utf8'}).match(/MIDI output buffer overrun/g) || []).length;
  } catch {
    return null;
  }
}

// An update, given limitMs to end (then it is left running, and said so); what it came to.
async function update(page, limitMs) {
  const first = await page.startUpdate();
  const started = Date.now();
  let boxes = null;
  try {
    boxes = await page.sessionEnd(first, limitMs);
  } catch (error) {
    if (!/not within/.test(String(error))) throw error;
  }
  const log = await page.log();
  return {
    ended: boxes !== null,
    seconds: (Date.now() - started) / 1000,
    step: await page.text('step-counter'),
    status: await page.text('status-line'),
    boxes: (boxes || []).map((box) => box.text),
    session: sessionSeconds(log),
    writes: (log.match(/-> write /g) || []).length,
    resends: (log.match(/retry:/g) || []).length,
    lastResends: log.split('\n').filter((line) => /retry:/.test(line)).slice(-3),
    overruns: overruns(),
    advice: !(await page.evaluate('document.getElementById("refused-advice").hidden')),
  };
}

const server = await serveFolder(site);
let failures = 0;
for (const size of sizes) {
  writeFileSync(kParameter, `${size}\n`);
  const browser = await Browser.launch(chromium, {startMs: 240000});
  const results = [];
  try {
    const tab = await browser.open(server.origin + '/');
    const page = new PageSession(tab);
    await page.connect();
    for (let i = 1; i <= rounds; i++) {
      const unit = await startUnit();
      let result;
      try {
        await page.tab.click('#rescan');
        await page.tab.waitFor('!document.getElementById("execute").disabled', 30000, 'Rescan Device');
        await page.selectPorts(kCardPort, kCardPort);
        result = await update(page, limitMs);
      } finally {
        // The cards' byte counters and the sequencer clients' pools, the unit's among them.
        for (const file of ['/proc/asound/card0/midi0', '/proc/asound/card1/midi0', '/proc/asound/seq/clients']) {
          try {
            console.log(`== ${file}\n` + readFileSync(file, 'utf8'));
          } catch (error) {
            console.log(`${file}: ${error}`);
          }
        }
        const flash = await unit.stop();
        if (result) result.flash = flash;
      }
      result.completed = result.ended && result.status === 'Version update completed.' &&
        result.boxes.length === 0 && /^flash verification: OK/.test(result.flash);
      results.push(result);
      console.log(`output_buffer_size ${size}, update ${i}: ${JSON.stringify(result)}`);
      // A session left running holds the page: the next update needs a page of its own.
      if (!result.ended) break;
    }
  } catch (error) {
    failures += 1;
    console.log(`FAILED: output_buffer_size ${size}: ${error.stack || error}`);
  } finally {
    await browser.close();
  }
  const done = results.filter((r) => r.completed);
  const times = done.map((r) => r.session).sort((a, b) => a - b);
  console.log(`RESULT output_buffer_size ${size}: ${done.length} of ${results.length} updates completed` +
    (times.length ? `, session median ${times[Math.floor((times.length - 1) / 2)]} s` : '') +
    `, advice shown in ${results.filter((r) => r.advice).length}`);
}
server.close();
process.exit(failures ? 1 : 0);
